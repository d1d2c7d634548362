#include "app/main.h"
#include "support/boxwatcher.h"
#include "support/installation.h"
#include "support/tempdir.h"
#include "support/testdata.h"
#include "system/failure.h"
#include "system/paths.h"
#include "text/codepage.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <filesystem>

namespace wfb {
namespace {

// A day on which nobody in belegschaft.mdb has a birthday.
constexpr Date nobodysBirthday{2027, 2, 28};

const std::string emptyDay = "Keine Geburtstage am heutigen Tag.";

// A program folder as a user lays it out: the executable's settings and template beside it, and
// the employee database.
struct ProgramFolder {
    test::TempDir dir;
    std::string executable = dir / "wiegenfestbote";
    Date today = nobodysBirthday;

    void settings(const std::string& text) const { dir.write("wiegenfestbote.ini", text); }

    // Settings naming a template with the given content and a copy of a test database.
    void withTemplate(const std::string& content, const std::string& database = "belegschaft.mdb",
                      const std::string& mailer = "/usr/bin/mailer") const {
        settings("[DB]\nMain=" + dir.write(database, test::readFile(test::testData(database))) +
                 "\nPass=geheim\n[Option]\ntext=" + dir.write("vorlage.txt", content) +
                 "\nMailer=" + mailer + "\nRCPT=chef@example.com\n");
    }

    // Settings naming a template, the database and the recording mailer.
    void withRecorder(const std::string& content) const {
        withTemplate(content, "belegschaft.mdb", test::installRecorder(dir.path()));
    }

    std::string listFile() const { return dir / "wiegenfestbote.txt"; }
    std::vector<test::MailerCall> calls() const { return test::recordedCalls(dir.path()); }

    StartupEnvironment environment(std::vector<std::string> arguments = {}) const {
        arguments.insert(arguments.begin(), executable);
        const Date date = today;
        return {executable, arguments, [date] { return date; }};
    }
};

// The widget the tab key moves to from w.
QWidget* nextTabStop(QWidget* w) {
    do {
        w = w->nextInFocusChain();
    } while ((w->focusPolicy() & Qt::TabFocus) == 0);
    return w;
}

TEST(MainWindow, IsLaidOutAsDesigned) {
    ProgramFolder folder;
    folder.withTemplate("Hallo\r\n");
    Tfmain fmain(folder.environment());
    EXPECT_EQ(fmain.windowTitle(), "Wiegenfestbote");
    EXPECT_EQ(fmain.memo->geometry(), QRect(10, 15, 401, 331));
    EXPECT_EQ(fmain.BTsend->geometry(), QRect(420, 25, 75, 25));
    EXPECT_EQ(fmain.BTsend->text(), "Senden");
    EXPECT_FALSE(fmain.BTsend->isDefault());
    EXPECT_FALSE(fmain.BTsend->autoDefault());
    EXPECT_EQ(fmain.memo->lineWrapMode(), QPlainTextEdit::NoWrap);
    EXPECT_EQ(fmain.memo->horizontalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_EQ(fmain.memo->verticalScrollBarPolicy(), Qt::ScrollBarAlwaysOff);
    EXPECT_FALSE(fmain.memo->isReadOnly());
    EXPECT_EQ(nextTabStop(&fmain), fmain.memo);
    EXPECT_EQ(nextTabStop(fmain.memo), fmain.BTsend);

    fmain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fmain));
    EXPECT_EQ(fmain.frameGeometry().size(), QSize(541, 390));
    const QRect screen = fmain.screen()->availableGeometry();
    EXPECT_LE(std::abs(fmain.frameGeometry().center().x() - screen.center().x()), 1);
    EXPECT_LE(std::abs(fmain.frameGeometry().center().y() - screen.center().y()), 1);
    fmain.resize(800, 600);
    EXPECT_EQ(fmain.memo->geometry(), QRect(10, 15, 401, 331));
}

TEST(MainWindow, ExactlyOneArgumentGoAsksForTheUnattendedRun) {
    const std::pair<std::vector<std::string>, bool> cases[] = {
        {{"/go"}, true},
        {{}, false},
        {{"/GO"}, false},
        {{"/go", "x"}, false},
        {{"x", "/go"}, false},
        {{"/go "}, false},
        {{"-platform", "offscreen", "/go"}, false}, // Qt's own options count too
    };
    for (const auto& [arguments, autoSend] : cases) {
        ProgramFolder folder;
        folder.withTemplate("Hallo\r\n");
        Tfmain fmain(folder.environment(arguments));
        EXPECT_EQ(fmain.AutoSend, autoSend) << arguments.size();
    }
}

TEST(MainWindow, LoadsTheTemplateWithCrLfBreaks) {
    const std::string day = emptyDay + "\r\n";
    const std::pair<std::string, std::string> cases[] = {
        {"Guten Morgen,\n\nheute:\n", "Guten Morgen,\r\n\r\nheute:\r\n" + day},
        {"Guten Morgen,\r\rheute:\r", "Guten Morgen,\r\n\r\nheute:\r\n" + day},
        {"Guten Morgen,\r\n\r\nheute:\r\n", "Guten Morgen,\r\n\r\nheute:\r\n" + day},
        {"ohne Zeilenende", "ohne Zeilenende\r\n" + emptyDay},
        {"", day},
    };
    for (const auto& [content, expected] : cases) {
        ProgramFolder folder;
        folder.withTemplate(content);
        test::BoxWatcher watcher;
        Tfmain fmain(folder.environment());
        EXPECT_TRUE(watcher.boxes().empty());
        EXPECT_EQ(fmain.listText(), expected);
        EXPECT_EQ(fmain.MailerPath, "/usr/bin/mailer");
        EXPECT_EQ(fmain.Recipient, "chef@example.com");
    }
}

TEST(MainWindow, TemplateNobodyEditsComesBackByteForByte) {
    std::string every;
    for (int b = 0; b < 256; ++b) {
        if (b != '\r' && b != '\n') {
            every += static_cast<char>(b);
        }
    }
    every += "\r\nGl\xFC"
             "ckwunsch \x96 \xA0\r\n";
    ProgramFolder folder;
    folder.withTemplate(every);
    Tfmain fmain(folder.environment());
    EXPECT_EQ(fmain.listText(), every + emptyDay + "\r\n");
    EXPECT_EQ(fmain.memo->toPlainText().left(3), QString(QChar(0)) + QChar(1) + QChar(2));
}

TEST(MainWindow, TypedCharactersWithoutAByteBecomeQuestionMarks) {
    ProgramFolder folder;
    folder.withTemplate("Liste\r\n");
    Tfmain fmain(folder.environment());
    fmain.memo->moveCursor(QTextCursor::End);
    fmain.memo->insertPlainText(QString::fromUtf8("Łukasz 😀 – €\n"));
    EXPECT_EQ(fmain.listText(), "Liste\r\n" + emptyDay + "\r\n?ukasz ? \x96 \x80\r\n");
}

TEST(MainWindow, TemplateThatCannotBeReadShowsTheBoxAndLeavesMemo) {
    ProgramFolder folder;
    const std::string missing = folder.dir / "fehlt.txt";
    const std::pair<std::string, std::string> cases[] = {
        {"[Option]\ntext=" + missing + "\nMailer=m\nRCPT=r\n",
         "Die Vorlage " + quoted(missing) +
             " kann nicht gelesen werden: Datei oder Verzeichnis nicht gefunden."},
        {"[Option]\ntext=\nMailer=m\nRCPT=r\n",
         "Keine Vorlage eingestellt: Der Eintrag „text“ im Abschnitt [Option] von " +
             quoted(folder.dir / "wiegenfestbote.ini") + " fehlt oder ist leer."},
    };
    for (const auto& [settings, message] : cases) {
        folder.settings(settings);
        test::BoxWatcher watcher;
        Tfmain fmain(folder.environment({"/go"}));
        ASSERT_EQ(watcher.boxes().size(), 1u);
        const auto& box = watcher.boxes().front();
        EXPECT_EQ(box.title, "Wiegenfestbote");
        EXPECT_EQ(box.text, message);
        EXPECT_EQ(box.icon, QMessageBox::Critical);
        EXPECT_EQ(box.buttons, QMessageBox::Ok);
        EXPECT_EQ(fmain.memo->toPlainText(), "memo");
        EXPECT_EQ(fmain.listText(), "memo");
        EXPECT_TRUE(fmain.AutoSend);
        EXPECT_EQ(fmain.MailerPath, "");
        EXPECT_EQ(fmain.Recipient, "");
        EXPECT_EQ(fmain.BirthdayCount, 0);
    }
}

TEST(MainWindow, NoSettingsFileFailsAtTheTemplate) {
    ProgramFolder folder;
    test::BoxWatcher watcher;
    Tfmain fmain(folder.environment());
    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_NE(watcher.boxes().front().text.find("Keine Vorlage eingestellt"), std::string::npos);
    EXPECT_EQ(fmain.listText(), "memo");
    EXPECT_EQ(fmain.MailerPath, "");
}

TEST(Sending, EveryPressSendsTheTextAsItStandsEditsIncluded) {
    ProgramFolder folder;
    folder.withRecorder("Hallo,\r\n");
    Tfmain fmain(folder.environment());
    fmain.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&fmain));
    EXPECT_FALSE(std::filesystem::exists(folder.listFile()));

    const std::string typed[] = {"",
                                 "Gr\xFC\xDF"
                                 "e",
                                 "\nund \x96 tsch\xFC\xDF"};
    std::string expected = "Hallo,\r\n" + emptyDay + "\r\n";
    for (std::size_t press = 1; press <= 3; ++press) {
        fmain.memo->moveCursor(QTextCursor::End);
        fmain.memo->insertPlainText(QString::fromStdString(cp1252::toUtf8(typed[press - 1])));
        expected += withCrLf(typed[press - 1]);
        QTest::mouseClick(fmain.BTsend, Qt::LeftButton);
        EXPECT_EQ(test::readFile(folder.listFile()), expected);
        ASSERT_TRUE(test::waitForCalls(folder.dir.path(), press)) << press;
        EXPECT_EQ(folder.calls().back().body, expected);
    }
    EXPECT_EQ(folder.calls().size(), 3u);
    EXPECT_TRUE(fmain.isVisible());
}

TEST(Sending, GoSendsOnShowingAndCloses) {
    ProgramFolder folder;
    folder.withRecorder("Hallo,\r\n");
    test::BoxWatcher watcher;
    Tfmain fmain(folder.environment({"/go"}));
    fmain.show();
    EXPECT_EQ(test::readFile(folder.listFile()), "Hallo,\r\n" + emptyDay + "\r\n");
    ASSERT_TRUE(test::waitFor([&] {
        QCoreApplication::processEvents();
        return !fmain.isVisible();
    }));
    ASSERT_TRUE(test::waitForCalls(folder.dir.path(), 1));
    EXPECT_TRUE(watcher.boxes().empty());
}

TEST(Sending, GoWithAFailedSendShowsTheBoxAndStaysOpen) {
    ProgramFolder folder;
    folder.withRecorder("Hallo,\r\n");
    std::filesystem::create_directory(folder.listFile());
    test::BoxWatcher watcher;
    Tfmain fmain(folder.environment({"/go"}));
    fmain.show();
    ASSERT_EQ(watcher.boxes().size(), 1u);
    EXPECT_EQ(watcher.boxes()[0].text, "Die Listendatei " + quoted(folder.listFile()) +
                                           " kann nicht geschrieben werden: Es ist ein "
                                           "Verzeichnis.");
    QTest::qWait(50);
    EXPECT_TRUE(fmain.isVisible());
    EXPECT_TRUE(folder.calls().empty());
}

TEST(Sending, GoAfterAFailedStartSendsTheTextAsItStands) {
    ProgramFolder folder;
    folder.settings("[Option]\ntext=" + (folder.dir / "fehlt.txt") +
                    "\nMailer=" + test::installRecorder(folder.dir.path()) + "\n");
    test::BoxWatcher watcher;
    Tfmain fmain(folder.environment({"/go"}));
    ASSERT_EQ(watcher.boxes().size(), 1u);
    fmain.show();
    EXPECT_EQ(test::readFile(folder.listFile()), "memo");
    ASSERT_TRUE(test::waitFor([&] {
        QCoreApplication::processEvents();
        return !fmain.isVisible();
    }));
    // The mailer was never read: nothing is started.
    QTest::qWait(200);
    EXPECT_TRUE(folder.calls().empty());
}

// The lines of 11 December 2026 in belegschaft.mdb, in Windows-1252.
const char* const december11[] = {
    "Petra Abel (030 998877): 35 Jahre",
    "J\xFCrgen M\xFCller (089 123456): 46 Jahre",
    "Neumann (0221 55555): 25 Jahre",
    "Klaus Zimmermann (0171 2345678): 60 Jahre",
};

TEST(MainWindow, ListsTodaysBirthdaysBelowTheTemplate) {
    const std::string e1 = december11[0], e2 = december11[1], e3 = december11[2],
                      e4 = december11[3];
    const std::pair<std::string, std::string> cases[] = {
        {"Guten Morgen,\r\nheute haben Geburtstag:\r\n",
         "Guten Morgen,\r\nheute haben Geburtstag:\r\n" + e1 + "\r\n\r\n" + e2 + "\r\n\r\n" + e3 +
             "\r\n\r\n" + e4 + "\r\n\r\n"},
        // Without a final line break the first entry still gets a line of its own, but the
        // empty line after it falls away.
        {"Heute:",
         "Heute:\r\n" + e1 + "\r\n" + e2 + "\r\n\r\n" + e3 + "\r\n\r\n" + e4 + "\r\n\r\n"},
        {"", e1 + "\r\n\r\n" + e2 + "\r\n\r\n" + e3 + "\r\n\r\n" + e4 + "\r\n\r\n"},
    };
    for (const char* database : {"belegschaft.mdb", "belegschaft.accdb"}) {
        for (const auto& [content, expected] : cases) {
            ProgramFolder folder;
            folder.today = {2026, 12, 11};
            folder.withTemplate(content, database);
            test::BoxWatcher watcher;
            Tfmain fmain(folder.environment());
            EXPECT_TRUE(watcher.boxes().empty()) << database;
            EXPECT_EQ(fmain.listText(), expected) << database;
            EXPECT_EQ(fmain.BirthdayCount, 4) << database;
            EXPECT_TRUE(fmain.memo->toPlainText().contains(
                QString::fromUtf8("Jürgen Müller (089 123456): 46 Jahre")));
            EXPECT_TRUE(fmain.Datenbank.connected()) << "open as long as the window lives";
        }
    }
}

// A failure while opening the database or running the query: the box, and the window opens
// with the template, the mailer and recipient read, no birthday counted and no empty-day line.
TEST(MainWindow, DatabaseThatFailsShowsTheBoxAndTheTemplate) {
    ProgramFolder folder;
    folder.today = {2026, 12, 11};
    const std::string vorlage = "Guten Morgen,\r\nheute haben Geburtstag:\r\n";
    const std::string whole = test::readFile(test::testData("belegschaft.mdb"));
    const std::string truncated = folder.dir.write("abgeschnitten.mdb", whole.substr(0, 50000));
    const std::string database = folder.dir / "fehlt/belegschaft.mdb";
    const std::pair<std::string, std::string> cases[] = {
        {"ohne_telefon.mdb", "In der Tabelle „u_fahrer“ der Datenbank " +
                                 quoted(folder.dir / "ohne_telefon.mdb") +
                                 " fehlt die Spalte „Telefon“."},
        {"telefon_zahl.mdb", "Die Spalte „Telefon“ der Tabelle „u_fahrer“ in " +
                                 quoted(folder.dir / "telefon_zahl.mdb") +
                                 " hat den Typ Zahl (Long Integer), erwartet ist Text."},
        {"ohne_tabelle.mdb", "In der Datenbank " + quoted(folder.dir / "ohne_tabelle.mdb") +
                                 " fehlt die Tabelle „u_fahrer“."},
        {"geburtstag_text.mdb", "Die Spalte „Geburtstag“ der Tabelle „u_fahrer“ in " +
                                    quoted(folder.dir / "geburtstag_text.mdb") +
                                    " hat den Typ Text, erwartet ist Datum/Uhrzeit."},
    };
    const auto check = [&](const std::string& message) {
        test::BoxWatcher watcher;
        Tfmain fmain(folder.environment({"/go"}));
        ASSERT_EQ(watcher.boxes().size(), 1u) << message;
        EXPECT_EQ(watcher.boxes().front().text, message);
        EXPECT_EQ(watcher.boxes().front().icon, QMessageBox::Critical);
        EXPECT_EQ(fmain.listText(), vorlage);
        EXPECT_EQ(fmain.MailerPath, "/usr/bin/mailer");
        EXPECT_EQ(fmain.Recipient, "chef@example.com");
        EXPECT_EQ(fmain.BirthdayCount, 0);
        EXPECT_TRUE(fmain.AutoSend);
    };
    for (const auto& [file, message] : cases) {
        folder.withTemplate(vorlage, file);
        check(message);
    }
    const std::string tail = "\nPass=\n[Option]\ntext=" + folder.dir / "vorlage.txt" +
                             "\nMailer=/usr/bin/mailer\nRCPT=chef@example.com\n";
    folder.settings("[DB]\nMain=" + truncated + tail);
    check("Die Datenbank " + quoted(truncated) +
          " ist beschädigt: Sie ist unvollständig: 50000 Bytes sind keine ganze Zahl von Seiten "
          "zu 4096 Bytes.");
    folder.settings("[DB]\nMain=" + database + tail);
    check("Die Datenbank " + quoted(database) + " fehlt, und auch " +
          quoted(folder.dir / "belegschaft.mdb") + " (neben dem Programm) wurde nicht gefunden.");
    folder.settings("[DB]\nMain=" + tail);
    check("Keine Datenbank eingestellt: Der Datenbankpfad (Eintrag „Main“ im Abschnitt [DB] der "
          "Einstellungen) ist leer.");
}

TEST(MainWindow, DatabaseMissingAtItsPathIsOpenedFromBesideTheProgram) {
    ProgramFolder folder;
    folder.today = {2026, 12, 11};
    folder.withTemplate("");
    folder.settings("[DB]\nMain=/nirgends/belegschaft.mdb\n[Option]\ntext=" +
                    folder.dir / "vorlage.txt" + "\n");
    test::BoxWatcher watcher;
    Tfmain fmain(folder.environment());
    EXPECT_TRUE(watcher.boxes().empty());
    EXPECT_EQ(fmain.BirthdayCount, 4);
    EXPECT_EQ(fmain.Datenbank.databaseName(), folder.dir / "belegschaft.mdb");
    EXPECT_TRUE(fmain.listText().starts_with(std::string(december11[0]) + "\r\n\r\n"));
}

// The demo as the build lays it out beside the programs (what "make run" shows): the template,
// then the birthdays of the demo database, which has someone on every day.
TEST(MainWindow, DemoAsBuiltListsTodaysBirthdaysBelowTheTemplate) {
    const std::string bin = directoryOf(executablePath());
    const std::string vorlage = test::readFile(bin + "/vorlage.txt");
    for (const Date date : {Date{2028, 1, 1}, Date{2028, 2, 29}, Date{2027, 12, 31}}) {
        test::BoxWatcher watcher;
        Tfmain fmain({bin + "/wiegenfestbote", {bin + "/wiegenfestbote"}, [date] { return date; }});
        EXPECT_TRUE(watcher.boxes().empty());
        EXPECT_GE(fmain.BirthdayCount, 1);
        EXPECT_TRUE(fmain.listText().starts_with(vorlage));
        EXPECT_TRUE(fmain.listText().ends_with(" Jahre\r\n\r\n"));
        if (date == Date{2028, 1, 1}) {
            EXPECT_EQ(fmain.listText(), vorlage + "Zoe Krause (050 76562): 24 Jahre\r\n\r\n");
        }
    }
}

} // namespace
} // namespace wfb
