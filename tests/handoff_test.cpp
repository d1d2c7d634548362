#include "mail/handoff.h"
#include "mail/tools.h"
#include "support/process.h"
#include "support/tempdir.h"
#include "system/failure.h"
#include "system/files.h"

#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>
#include <sys/stat.h>
#include <sys/wait.h>

namespace fs = std::filesystem;

namespace wfb {
namespace {

TEST(MailerCommandLine, TokensJoinToTheParameterString) {
    const std::pair<std::string, std::string> cases[] = {
        {"chef@example.com",
         "\"/s:Geburtstage des Tages\" /b:/opt/Mein Programm/wiegenfestbote.txt "
         "/e:noreply@example.com /n:noreply@example.com /to:chef@example.com /sofort"},
        {"", "\"/s:Geburtstage des Tages\" /b:/opt/Mein Programm/wiegenfestbote.txt "
             "/e:noreply@example.com /n:noreply@example.com /to: /sofort"},
    };
    for (const auto& [recipient, expected] : cases) {
        const auto tokens = mailerTokens("/opt/Mein Programm/wiegenfestbote.txt", recipient);
        EXPECT_EQ(parameterString(tokens), expected);
    }
}

TEST(MailerCommandLine, EachTokenIsOneArgumentWithoutGroupingQuotes) {
    const std::string longPath = "/" + std::string(300, 'p') + "/liste.txt";
    const std::string recipient = "\"Chef\" <chef@example.com>; rm -rf ~";
    EXPECT_EQ(mailerArguments(mailerTokens(longPath, recipient)),
              (std::vector<std::string>{"/s:Geburtstage des Tages", "/b:" + longPath,
                                        "/e:noreply@example.com", "/n:noreply@example.com",
                                        "/to:" + recipient, "/sofort"}));
}

TEST(MailerCommandLine, ListFileLiesBesideTheExecutable) {
    EXPECT_EQ(listFilePath("/opt/Mein Programm/wiegenfestbote"),
              "/opt/Mein Programm/wiegenfestbote.txt");
    EXPECT_EQ(listFilePath("/opt/w.b/wiegenfestbote.exe"), "/opt/w.b/wiegenfestbote.txt");
}

// A folder with programs to find.
struct ProgramDirs {
    test::TempDir dir;
    ProgramDirs() {
        for (const auto* name : {"a/mailer", "b/mailer", "b/other", "c/mailer"}) {
            dir.write(name, "#!/bin/sh\n");
        }
        fs::permissions(dir / "b/mailer", fs::perms::owner_all);
        fs::permissions(dir / "b/other", fs::perms::owner_all);
        fs::permissions(dir / "c/mailer", fs::perms::owner_all);
        fs::create_directories(dir / "d/mailer");
    }
};

TEST(ShellOpen, FindsProgramsAsTheShellDoes) {
    ProgramDirs p;
    const std::string a = p.dir / "a", b = p.dir / "b", c = p.dir / "c", d = p.dir / "d";
    const std::tuple<std::string, std::string, std::string> cases[] = {
        {"mailer", a + ":" + b + ":" + c, b + "/mailer"}, // a/mailer is not executable
        {"mailer", d + ":" + c, c + "/mailer"},           // a directory is no program
        {"other", a + ":" + b, b + "/other"},
        {"fehlt", a + ":" + b, ""},
        {"./relativ", a, "./relativ"}, // a slash: taken as it stands
        {a + "/mailer", b, a + "/mailer"},
    };
    for (const auto& [program, searchPath, expected] : cases) {
        EXPECT_EQ(findProgram(program, searchPath), expected) << program << " in " << searchPath;
    }
    const auto here = fs::current_path();
    fs::current_path(b);
    EXPECT_EQ(findProgram("mailer", a + "::" + c), "./mailer"); // an empty entry: the current dir
    fs::current_path(here);
}

TEST(ShellOpen, StartsTheProgramDetachedAndReturnsAtOnce) {
    test::TempDir dir;
    const std::string done = dir / "done";
    const std::string script =
        dir.write("slow", "#!/bin/sh\nsleep 1\nprintf '%s|' \"$@\" > \"" + done + ".tmp\"\nmv \"" +
                              done + ".tmp\" \"" + done + "\"\n");
    fs::permissions(script, fs::perms::owner_all);
    const auto start = std::chrono::steady_clock::now();
    ShellOpen(script, {"eins", "zwei drei", "$(kein Befehl)"});
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(900));
    // Nothing is left for this process to reap: the program is no child of ours.
    EXPECT_EQ(::waitpid(-1, nullptr, WNOHANG), -1);
    EXPECT_EQ(errno, ECHILD);
    ASSERT_TRUE(test::waitFor([&] { return fs::exists(done); }));
    EXPECT_EQ(test::readFile(done), "eins|zwei drei|$(kein Befehl)|");
}

TEST(ShellOpen, ProgramThatCannotBeStartedIsAFailure) {
    test::TempDir dir;
    const std::string notExecutable = dir.write("mailer", "#!/bin/sh\n");
    const std::string noFormat = dir.write("kaputt", "\x7f"
                                                     "ELF kaputt");
    fs::permissions(noFormat, fs::perms::owner_all);
    const std::pair<std::string, std::string> cases[] = {
        {dir / "fehlt", "Datei oder Verzeichnis nicht gefunden"},
        {notExecutable, "Zugriff verweigert"},
        {dir.path(), "Es ist ein Verzeichnis"},
        {noFormat, "Das Programm hat kein ausführbares Format"},
    };
    for (const auto& [program, reason] : cases) {
        try {
            ShellOpen(program, {});
            ADD_FAILURE() << program << " started";
        } catch (const Failure& failure) {
            EXPECT_EQ(std::string(failure.what()),
                      "Der Mailer " + quoted(program) + " kann nicht gestartet werden: " + reason);
        }
    }
    EXPECT_NO_THROW(ShellOpen("", {"/sofort"}));
}

TEST(ListFile, ReplacingKeepsTheOldContentWhenItFails) {
    test::TempDir dir;
    const std::string list = dir.write("liste.txt", "alt");
    ::chmod(list.c_str(), 0640);
    ASSERT_FALSE(replaceWholeFile(list, "neu\r\n"));
    EXPECT_EQ(test::readFile(list), "neu\r\n");
    struct stat info {};
    ::stat(list.c_str(), &info);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A link to the list is followed, not replaced.
    const std::string link = dir / "verweis.txt";
    fs::create_symlink(list, link);
    ASSERT_FALSE(replaceWholeFile(link, "über den Verweis"));
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(test::readFile(list), "über den Verweis");

    // Nothing is left behind by a failed write.
    fs::create_directory(dir / "ordner.txt");
    EXPECT_EQ(replaceWholeFile(dir / "ordner.txt", "x").code, EISDIR);
    EXPECT_EQ(replaceWholeFile(dir / "fehlt/liste.txt", "x").code, ENOENT);
    std::size_t entries = 0;
    for ([[maybe_unused]] const auto& entry : fs::directory_iterator(dir.path())) {
        ++entries;
    }
    EXPECT_EQ(entries, 3u);
}

TEST(SendAction, WritesTheWholeTextAndStartsNothingWithoutMailer) {
    test::TempDir dir;
    const std::string text = "Liste\r\n\x96 Gr\xFC\xDF"
                             "e\r\n";
    sendList(text, "", "chef@example.com", dir / "wiegenfestbote");
    EXPECT_EQ(test::readFile(dir / "wiegenfestbote.txt"), text);
}

TEST(SendAction, FileThatCannotBeWrittenStopsBeforeTheMailer) {
    test::TempDir dir;
    fs::create_directory(dir / "wiegenfestbote.txt");
    const std::string marker = dir / "gestartet";
    const std::string mailer = dir.write("mailer", "#!/bin/sh\n: > \"" + marker + "\"\n");
    fs::permissions(mailer, fs::perms::owner_all);
    try {
        sendList("Liste", mailer, "chef@example.com", dir / "wiegenfestbote");
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "Die Listendatei " + quoted(dir / "wiegenfestbote.txt") +
                      " kann nicht geschrieben werden: Es ist ein Verzeichnis");
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_FALSE(fs::exists(marker));
}

} // namespace
} // namespace wfb
