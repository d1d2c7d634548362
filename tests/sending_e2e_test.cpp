// The real program, copied into a folder of its own, started the way cron, a timer or a user
// starts it; a recording script stands in for the mailer.

#include "support/installation.h"
#include "support/xserver.h"

#include <gtest/gtest.h>

#include <filesystem>

namespace fs = std::filesystem;

namespace wfb::test {
namespace {

const std::string greeting = "Guten Morgen,\r\n\r\nheute haben Geburtstag:\r\n\r\n";

// The list of 11 December 2026 (the date the runs are given) over belegschaft.mdb.
const std::string december11 = greeting + "Petra Abel (030 998877): 35 Jahre\r\n\r\n"
                                          "J\xFCrgen M\xFCller (089 123456): 46 Jahre\r\n\r\n"
                                          "Neumann (0221 55555): 25 Jahre\r\n\r\n"
                                          "Klaus Zimmermann (0171 2345678): 60 Jahre\r\n\r\n";

std::vector<std::string> expectedArguments(const Installation& installation,
                                           const std::string& recipient) {
    return {"/s:Geburtstage des Tages", "/b:" + installation.listFile(),
            "/e:noreply@example.com",   "/n:noreply@example.com",
            "/to:" + recipient,         "/sofort"};
}

TEST(UnattendedRunWithoutDisplay, WritesTheListAndStartsTheMailerWithSixArguments) {
    for (const std::string name : {"wiegenfestbote", "wiegenfestbote.exe"}) {
        Installation installation(name);
        installation.standardSettings(greeting);
        const ProcessResult result = installation.run({"/go"}, installation.withoutDisplay());
        EXPECT_EQ(result.exitStatus, 0) << result.err;
        EXPECT_EQ(result.err, "");
        ASSERT_TRUE(installation.waitForCalls(1));
        const auto calls = installation.calls();
        ASSERT_EQ(calls.size(), 1u);
        EXPECT_EQ(calls[0].arguments, expectedArguments(installation, "chef@example.com"));
        EXPECT_EQ(readFile(installation.listFile()), december11);
        EXPECT_EQ(calls[0].body, december11);
    }
}

TEST(UnattendedRunWithoutDisplay, RecipientWithShellSyntaxIsOneArgumentAndRunsNothing) {
    Installation installation;
    const std::string marker = installation.path("eingeschleust");
    const std::string recipient =
        "chef@example.com; touch " + marker + " $(touch " + marker + "2) `touch " + marker + "3`";
    installation.standardSettings(greeting, recipient);
    const ProcessResult result = installation.run({"/go"}, installation.withoutDisplay());
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    ASSERT_TRUE(installation.waitForCalls(1));
    EXPECT_EQ(installation.calls()[0].arguments, expectedArguments(installation, recipient));
    for (const std::string suffix : {"", "2", "3"}) {
        EXPECT_FALSE(fs::exists(marker + suffix)) << suffix;
    }
}

TEST(UnattendedRunWithoutDisplay, ReportsEveryFailureOnStderrAndEndsWithStatusOne) {
    struct Case {
        const char* what;
        std::function<void(const Installation&)> prepare;
        std::string stderrStart;
        bool listWritten;
        int status;
    };
    const Case cases[] = {
        {"empty mailer: the list is written, nothing started, nothing reported",
         [](const Installation& i) { i.standardSettings(greeting, "a@b.de", ""); }, "", true, 0},
        {"mailer missing",
         [](const Installation& i) { i.standardSettings(greeting, "a@b.de", i.path("fehlt")); },
         "wiegenfestbote: Der Mailer „", true, 1},
        {"mailer not on the PATH",
         [](const Installation& i) {
             i.standardSettings(greeting, "a@b.de", "kein-solcher-mailer");
         },
         "wiegenfestbote: Der Mailer „kein-solcher-mailer“ kann nicht gestartet werden: Er ist "
         "in keinem Verzeichnis des Suchpfads (PATH) zu finden.\n",
         true, 1},
        {"mailer not executable",
         [](const Installation& i) {
             i.standardSettings(greeting);
             fs::permissions(i.recorder(), fs::perms::owner_read | fs::perms::owner_write);
         },
         "wiegenfestbote: Der Mailer „", true, 1},
        {"list file unwritable: a directory stands at its path",
         [](const Installation& i) {
             i.standardSettings(greeting);
             fs::create_directory(i.listFile());
         },
         "wiegenfestbote: Die Listendatei „", false, 1},
        {"template missing: \"memo\" is sent, and no mailer since none was read",
         [](const Installation& i) {
             i.settings("[Option]\ntext=" + i.path("fehlt.txt") + "\nMailer=" + i.recorder() +
                        "\nRCPT=a@b.de\n");
         },
         "wiegenfestbote: Die Vorlage „", true, 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        Installation installation;
        c.prepare(installation);
        const ProcessResult result = installation.run({"/go"}, installation.withoutDisplay());
        EXPECT_EQ(result.exitStatus, c.status);
        EXPECT_TRUE(result.err.starts_with(c.stderrStart)) << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), c.status) << result.err;
        EXPECT_EQ(fs::is_regular_file(installation.listFile()), c.listWritten);
        // A mailer that was started has recorded itself before the program ended.
        EXPECT_EQ(installation.calls().size(), 0u);
    }
}

TEST(UnattendedRunWithoutDisplay, MissingTemplateSendsMemo) {
    Installation installation;
    installation.settings("[Option]\ntext=" + installation.path("fehlt.txt") + "\n");
    const ProcessResult result = installation.run({"/go"}, installation.withoutDisplay());
    EXPECT_EQ(result.exitStatus, 1);
    EXPECT_EQ(result.err, "wiegenfestbote: Die Vorlage „" + installation.path("fehlt.txt") +
                              "“ kann nicht gelesen werden: Datei oder Verzeichnis nicht "
                              "gefunden.\n");
    EXPECT_EQ(readFile(installation.listFile()), "memo");
}

TEST(UnattendedRunWithoutDisplay, DamagedDatabaseIsOneLineOfItsOwn) {
    // One byte changed in a copy of belegschaft.mdb: libmdb has its own English warnings for
    // both, which must not reach stderr beside the program's line.
    const std::tuple<std::size_t, char, std::string> cases[] = {
        {8720, '\xE8', "Das Verzeichnis ihrer Tabellen (MSysObjects) ist nicht lesbar"},
        {110305, 'c', "Zeile 3 auf Seite 26 der Tabelle „u_fahrer“ ist nicht lesbar"},
    };
    for (const auto& [offset, byte, what] : cases) {
        Installation installation;
        installation.standardSettings(greeting);
        std::string database = readFile(installation.path("belegschaft.mdb"));
        database[offset] = byte;
        writeFile(installation.path("belegschaft.mdb"), database);
        const ProcessResult result = installation.run({"/go"}, installation.withoutDisplay());
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_TRUE(result.err.starts_with("wiegenfestbote: Die Datenbank „" +
                                           installation.path("belegschaft.mdb") +
                                           "“ ist beschädigt: " + what))
            << result.err;
        EXPECT_EQ(std::count(result.err.begin(), result.err.end(), '\n'), 1) << result.err;
        EXPECT_EQ(result.out, "");
        // The template went out without birthday lines.
        ASSERT_TRUE(installation.waitForCalls(1));
        EXPECT_EQ(installation.calls()[0].body, greeting);
    }
}

TEST(UnattendedRunWithoutDisplay, OnlyExactlyGoRunsWithoutDisplay) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{}, {"/GO"}, {"/go", "x"}, {"go"}}) {
        Installation installation;
        installation.standardSettings(greeting);
        const ProcessResult result = installation.run(arguments, installation.withoutDisplay());
        EXPECT_EQ(result.exitStatus, 1);
        EXPECT_TRUE(result.err.starts_with("wiegenfestbote: Kein Bildschirm:")) << result.err;
        EXPECT_NE(result.err.find("/go"), std::string::npos);
        EXPECT_FALSE(fs::exists(installation.listFile()));
        EXPECT_EQ(installation.calls().size(), 0u);
    }
}

TEST(UnattendedRunWithoutDisplay, GoWrittenInQuotesIsGo) {
    Installation installation;
    installation.standardSettings(greeting);
    // The shell takes the quotes off, as the command line of a scheduler does.
    const ProcessResult result =
        runProcess({"/bin/sh", "-c", "\"$0\" \"/go\"", installation.program()},
                   atFixedTime(installation.withoutDisplay()));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    ASSERT_TRUE(installation.waitForCalls(1));
    EXPECT_EQ(installation.calls()[0].body, december11);
}

TEST(UnattendedRunWithoutDisplay, SettingsLieBesideTheRealExecutableBehindALink) {
    Installation installation;
    installation.standardSettings(greeting);
    TempDir elsewhere;
    const std::string link = elsewhere / "wfb";
    fs::create_symlink(installation.program(), link);
    const ProcessResult result =
        runProcess({link, "/go"}, atFixedTime(installation.withoutDisplay()));
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    EXPECT_TRUE(readFile(installation.listFile()).starts_with(greeting));
    EXPECT_FALSE(fs::exists(elsewhere / "wfb.txt"));
}

// Under a real X server: the window opens, sends on "Senden", and the /go run ends by itself.
class UnderX : public ::testing::Test {
protected:
    XServer x;
    TempDir runtime;

    ProcessOptions onDisplay() const {
        ProcessOptions options;
        options.environment["DISPLAY"] = x.display();
        options.environment["WAYLAND_DISPLAY"] = std::nullopt;
        options.environment["QT_QPA_PLATFORM"] = std::nullopt;
        options.environment["XDG_RUNTIME_DIR"] = runtime.path();
        return atFixedTime(options);
    }

    // The visible main window, once it is there.
    std::string waitForWindow() const {
        return x.xdotool({"search", "--sync", "--onlyvisible", "--name", "^Wiegenfestbote$"});
    }
};

TEST_F(UnderX, GoSendsAndEndsByItself) {
    Installation installation;
    installation.standardSettings(greeting);
    const ProcessResult result = installation.run({"/go"}, onDisplay());
    EXPECT_EQ(result.exitStatus, 0) << result.err;
    ASSERT_TRUE(installation.waitForCalls(1));
    EXPECT_EQ(installation.calls()[0].arguments,
              expectedArguments(installation, "chef@example.com"));
}

TEST_F(UnderX, SendenSendsEachTimeItIsPressed) {
    Installation installation;
    installation.standardSettings(greeting);
    BackgroundProcess program(installation.command({}), onDisplay());
    const std::string window = waitForWindow();
    ASSERT_FALSE(window.empty());
    EXPECT_FALSE(fs::exists(installation.listFile()));
    for (std::size_t press = 1; press <= 2; ++press) {
        x.xdotool({"mousemove", "--window", window, "457", "37", "click", "1"});
        ASSERT_TRUE(installation.waitForCalls(press)) << press;
    }
    EXPECT_TRUE(readFile(installation.listFile()).starts_with(greeting));
    EXPECT_FALSE(program.wait(std::chrono::milliseconds(0)).has_value()) << "window closed";
}

TEST_F(UnderX, GoAfterAFailedStartShowsTheBoxThenSendsMemo) {
    Installation installation;
    installation.settings("[Option]\ntext=" + installation.path("fehlt.txt") +
                          "\nMailer=" + installation.recorder() + "\n");
    BackgroundProcess program(installation.command({"/go"}), onDisplay());
    // The box carries the program's title too; it is the only window until it is dismissed.
    const std::string box = waitForWindow();
    ASSERT_FALSE(box.empty());
    EXPECT_FALSE(fs::exists(installation.listFile()));
    x.xdotool({"key", "--window", box, "Return"});
    EXPECT_EQ(program.wait(std::chrono::seconds(20)), 0);
    EXPECT_EQ(readFile(installation.listFile()), "memo");
    EXPECT_TRUE(installation.calls().empty());
}

TEST_F(UnderX, OtherArgumentsThanGoWaitForTheUser) {
    for (const std::vector<std::string>& arguments :
         {std::vector<std::string>{"/GO"}, {"/go", "x"}}) {
        Installation installation;
        installation.standardSettings(greeting);
        BackgroundProcess program(installation.command(arguments), onDisplay());
        ASSERT_FALSE(waitForWindow().empty());
        EXPECT_FALSE(program.wait(std::chrono::milliseconds(300)).has_value());
        EXPECT_FALSE(fs::exists(installation.listFile()));
        EXPECT_EQ(installation.calls().size(), 0u);
    }
}

} // namespace
} // namespace wfb::test
