#include "settings/inifile.h"
#include "support/tempdir.h"
#include "system/failure.h"
#include "system/paths.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

namespace wfb {
namespace {

struct ExtensionCase {
    const char* path;
    const char* extension;
    const char* expected;
};

TEST(SettingsLocation, ReplacesTheExtensionOfTheFileNameOnly) {
    const ExtensionCase cases[] = {
        {"/opt/wiegenfestbote/wiegenfestbote", ".ini", "/opt/wiegenfestbote/wiegenfestbote.ini"},
        {"/opt/wiegenfestbote/wiegenfestbote.exe", ".ini",
         "/opt/wiegenfestbote/wiegenfestbote.ini"},
        {"/opt/v1.2/wiegenfestbote", ".ini", "/opt/v1.2/wiegenfestbote.ini"},
        {"/opt/v1.2/prog.tar.gz", ".txt", "/opt/v1.2/prog.tar.txt"},
        {"/home/a b/Geburts tag.exe", ".txt", "/home/a b/Geburts tag.txt"},
        {"/x/prog.", ".ini", "/x/prog.ini"},
        {"prog", ".ini", "prog.ini"},
        {"prog.bin", ".ini", "prog.ini"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(replaceExtension(c.path, c.extension), c.expected) << c.path;
    }
}

TEST(SettingsLocation, ExecutablePathIsAbsoluteAndCanonical) {
    const std::string self = executablePath();
    ASSERT_TRUE(self.starts_with('/')) << self;
    EXPECT_TRUE(std::filesystem::equivalent(self, "/proc/self/exe"));
    EXPECT_EQ(self, std::filesystem::canonical(self).string());
}

struct ReadCase {
    const char* what;
    std::string text;
    const char* section;
    const char* key;
    std::string expected;
};

TEST(IniFile, ReadsValuesAsTheProfileApiDoes) {
    const std::string longValue(3000, 'x');
    const ReadCase cases[] = {
        {"plain entry", "[DB]\nMain=/data/firma.mdb\n", "DB", "Main", "/data/firma.mdb"},
        {"names without regard to case", "[db]\nMAIN=a\n", "DB", "main", "a"},
        {"blanks around names and values", "  [ Option ]  \n  text  =  vorlage.txt  \n", "Option",
         "text", "vorlage.txt"},
        {"CR LF line ends", "[Option]\r\nRCPT=a@b.de\r\nMailer=m\r\n", "Option", "RCPT", "a@b.de"},
        {"double quotes taken off", "[O]\nk=\"  a b  \"\n", "O", "k", "  a b  "},
        {"single quotes taken off", "[O]\nk='x'\n", "O", "k", "x"},
        {"only one pair of quotes", "[O]\nk=\"\"x\"\"\n", "O", "k", "\"x\""},
        {"quotes that do not match stay", "[O]\nk=\"x'\n", "O", "k", "\"x'"},
        {"a lone quote stays", "[O]\nk=\"\n", "O", "k", "\""},
        {"equals signs in the value", "[O]\nk=a=b=c\n", "O", "k", "a=b=c"},
        {"empty value", "[O]\nk=\nk=second\n", "O", "k", ""},
        {"first key wins", "[O]\nk=first\nk=second\n", "O", "k", "first"},
        {"first section wins", "[O]\nk=first\n[O]\nk=second\n", "O", "k", "first"},
        {"only the first section is searched", "[O]\na=1\n[O]\nk=second\n", "O", "k", ""},
        {"lines without equals sign ignored", "[O]\nk\nk=v\n", "O", "k", "v"},
        {"key of another section", "[A]\nk=a\n[B]\nj=b\n", "B", "k", ""},
        {"entries before any section", "k=v\n[O]\n", "O", "k", ""},
        {"missing section", "[A]\nk=v\n", "B", "k", ""},
        {"no final line break", "[O]\nk=v", "O", "k", "v"},
        {"text after the closing bracket", "[O] ; Optionen\nk=v\n", "O", "k", "v"},
        {"a bracket line without closing bracket opens nothing", "[O]\n[X\nk=v\n", "O", "k", "v"},
        {"value bytes unchanged",
         "[O]\nk=Gr\xFC\xDF"
         "e\x96\x80\n",
         "O", "k",
         "Gr\xFC\xDF"
         "e\x96\x80"},
        {"byte-order mark before the first section", "\xEF\xBB\xBF[O]\nk=v\n", "O", "k", "v"},
        {"value cut to 2047 characters", "[O]\nk=" + longValue + "\n", "O", "k",
         longValue.substr(0, 2047)},
        {"quotes come off before the cut", "[O]\nk=\"" + longValue + "\"\n", "O", "k",
         longValue.substr(0, 2047)},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(IniFile::fromText(c.text).read(c.section, c.key), c.expected) << c.what;
    }
}

TEST(IniFile, MissingFileGivesEmptyValues) {
    test::TempDir dir;
    const IniFile settings(dir / "fehlt.ini");
    EXPECT_EQ(settings.read("DB", "Main"), "");
    EXPECT_EQ(settings.read("Option", "text", "vorgabe"), "vorgabe");
}

TEST(IniFile, ReadsTheFileItNames) {
    test::TempDir dir;
    const IniFile settings(dir.write("w.ini", "[Option]\r\nRCPT=chef@example.com\r\n"));
    EXPECT_EQ(settings.read("option", "rcpt"), "chef@example.com");
}

TEST(IniFile, UnreadableFileIsAFailureNamingIt) {
    test::TempDir dir;
    const std::string path = dir / "w.ini";
    std::filesystem::create_directory(path);
    try {
        IniFile settings(path);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        const std::string message = failure.what();
        EXPECT_NE(message.find(quoted(path)), std::string::npos) << message;
        EXPECT_NE(message.find("Verzeichnis"), std::string::npos) << message;
    }
}

} // namespace
} // namespace wfb
