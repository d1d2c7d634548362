#include "app/main.h"
#include "settings/codepage.h"
#include "settings/failure.h"
#include "support/boxwatcher.h"
#include "support/installation.h"
#include "support/tempdir.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTextDocument>
#include <gtest/gtest.h>

#include <filesystem>

namespace wfb {
namespace {

// A program folder as a user lays it out: the executable's settings and template beside it.
struct ProgramFolder {
    test::TempDir dir;
    std::string executable = dir / "wiegenfestbote";

    void settings(const std::string& text) const { dir.write("wiegenfestbote.ini", text); }

    // Settings naming a template with the given content.
    void withTemplate(const std::string& content) const {
        settings("[Option]\ntext=" + dir.write("vorlage.txt", content) +
                 "\nMailer=/usr/bin/mailer\nRCPT=chef@example.com\n");
    }

    // Settings naming a template and the recording mailer.
    void withRecorder(const std::string& content) const {
        settings("[Option]\ntext=" + dir.write("vorlage.txt", content) +
                 "\nMailer=" + test::installRecorder(dir.path()) + "\nRCPT=chef@example.com\n");
    }

    std::string listFile() const { return dir / "wiegenfestbote.txt"; }
    std::vector<test::MailerCall> calls() const { return test::recordedCalls(dir.path()); }

    StartupEnvironment environment(std::vector<std::string> arguments = {}) const {
        arguments.insert(arguments.begin(), executable);
        return {executable, arguments};
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
    const std::pair<std::string, std::string> cases[] = {
        {"Guten Morgen,\n\nheute:\n", "Guten Morgen,\r\n\r\nheute:\r\n"},
        {"Guten Morgen,\r\rheute:\r", "Guten Morgen,\r\n\r\nheute:\r\n"},
        {"Guten Morgen,\r\n\r\nheute:\r\n", "Guten Morgen,\r\n\r\nheute:\r\n"},
        {"ohne Zeilenende", "ohne Zeilenende"},
        {"", ""},
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
    EXPECT_EQ(fmain.listText(), every);
    EXPECT_EQ(fmain.memo->toPlainText().left(3), QString(QChar(0)) + QChar(1) + QChar(2));
}

TEST(MainWindow, TypedCharactersWithoutAByteBecomeQuestionMarks) {
    ProgramFolder folder;
    folder.withTemplate("Liste\r\n");
    Tfmain fmain(folder.environment());
    fmain.memo->moveCursor(QTextCursor::End);
    fmain.memo->insertPlainText(QString::fromUtf8("Łukasz 😀 – €\n"));
    EXPECT_EQ(fmain.listText(), "Liste\r\n?ukasz ? \x96 \x80\r\n");
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
    std::string expected = "Hallo,\r\n";
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
    EXPECT_EQ(test::readFile(folder.listFile()), "Hallo,\r\n");
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

} // namespace
} // namespace wfb
