#include "mailer/mailer.h"
#include "mailer/outbox.h"
#include "settings/inifile.h"
#include "smtptest.h"
#include "support/tempdir.h"
#include "system/failure.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sys/stat.h>

namespace wfb::mailer {
namespace {

using test::messageFiles;
using test::readFile;
using test::TempDir;

constexpr std::time_t now = 1707114600;

std::vector<std::string> everyName(const std::string& directory) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(directory)) {
        names.push_back(entry.path().filename().string());
    }
    std::sort(names.begin(), names.end());
    return names;
}

TEST(MailerOutbox, NeverReplacesAFileAndLeavesNoTemporaryFiles) {
    const TempDir dir;
    Outbox outbox(dir / "outbox");
    // A message already waiting under the name the next one would get.
    const std::string waiting = dir.write("outbox/" + fileName(now, 1), "alt");

    const std::string first = outbox.put("erste", now);
    const std::string second = outbox.put("zweite", now);
    EXPECT_EQ(readFile(waiting), "alt");
    EXPECT_EQ(first, dir / ("outbox/" + fileName(now, 2)));
    EXPECT_EQ(readFile(first), "erste");
    EXPECT_EQ(readFile(second), "zweite");
    EXPECT_NE(first, second);
    EXPECT_EQ(everyName(dir / "outbox").size(), 3u) << "no temporary file stays behind";

    // Another outbox on the same folder, as a second run in the same second would have.
    Outbox again(dir / "outbox");
    const std::string third = again.put("dritte", now);
    EXPECT_EQ(readFile(third), "dritte");
    EXPECT_EQ(messageFiles(dir / "outbox").size(), 4u);

    struct stat info {};
    ASSERT_EQ(::stat(first.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0077, 0u) << "the list of names and birthdays is for the user only";
}

TEST(MailerOutbox, KeepsFailedMessagesInTheirOwnFolder) {
    const TempDir dir;
    Outbox outbox(dir / "a/b/outbox");
    const std::string kept = outbox.keep("nachricht", now);
    EXPECT_EQ(std::filesystem::path(kept).parent_path(), dir / "a/b/outbox/fehlgeschlagen");
    EXPECT_EQ(readFile(kept), "nachricht");
    EXPECT_TRUE(messageFiles(dir / "a/b/outbox").empty());
}

TEST(MailerOutbox, AFolderThatCannotBeMadeIsNamedInTheFailure) {
    const TempDir dir;
    dir.write("datei", "kein Ordner");
    Outbox outbox(dir / "datei/outbox");
    try {
        outbox.put("nachricht", now);
        FAIL() << "stored below a file";
    } catch (const Failure& failure) {
        const std::string text = failure.what();
        EXPECT_NE(text.find("„" + (dir / "datei/outbox") + "“"), std::string::npos) << text;
        EXPECT_NE(text.find("Ein Teil des Pfades ist kein Verzeichnis"), std::string::npos) << text;
    }
}

TEST(MailerOutbox, LiesBesideTheExecutableUnlessSetOtherwise) {
    const std::pair<const char*, const char*> cases[] = {
        {"", "/opt/wfb/outbox"},
        {"[Outbox]\nDir=\n", "/opt/wfb/outbox"},
        {"[Outbox]\nDir=Ausgang\n", "/opt/wfb/Ausgang"},
        {"[Outbox]\nDir=../post/aus\n", "/opt/wfb/../post/aus"},
        {"[Outbox]\nDir=/var/spool/wfb\n", "/var/spool/wfb"},
        {"[Outbox]\nDir=\"/var/spool/mit Blank\"\n", "/var/spool/mit Blank"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(outboxDirectory(IniFile::fromText(text), "/opt/wfb/wiegenfestbote-mailer"),
                  expected)
            << text;
    }
    EXPECT_EQ(outboxDirectory(IniFile::fromText(""), "/wiegenfestbote-mailer"), "/outbox");
    EXPECT_EQ(mailerSettingsPath("/opt/wfb/wiegenfestbote-mailer"),
              "/opt/wfb/wiegenfestbote-mailer.ini");
}

} // namespace
} // namespace wfb::mailer
