// The mailer as the main program starts it: the real program, copied into a folder of its own
// with its own settings, sending to an aiosmtpd server on loopback. What arrives is read by
// Python's email package, as a mail program would read it.

#include "smtptest.h"
#include "support/tempdir.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <optional>

namespace wfb::test {
namespace {

// The list text as the main program writes it: Windows-1252, CR LF.
std::string longLine(const std::string& word) {
    std::string line = "Eine lange Zeile:";
    for (int i = 0; i < 24; ++i) {
        line += " " + word;
    }
    return line + "\r\n";
}

const std::string listText = "Guten Morgen,\r\n"
                             "\r\n"
                             "heute haben Geburtstag \x96 herzlichen Gl\xFC"
                             "ckwunsch!\r\n"
                             "\r\n"
                             "M\xFC"
                             "ller, J\xFC"
                             "rgen (0711 / 47 11): 50 Jahre\r\n"
                             "\r\n"
                             "\xC4"
                             "rger, \xD6"
                             "zlem (089 1234): 33 Jahre\r\n"
                             "\r\n"
                             ".\r\n"
                             "..\r\n"
                             "From the desk of HR \r\n"
                             "Tab am Ende\t\r\n"
                             "Preis: 5 \x80 = 5 Euro\r\n" +
                             longLine("\xE4\xF6\xFC\xDF");

// The same text as it must arrive: UTF-8, CR LF.
const std::string listTextUtf8 = "Guten Morgen,\r\n"
                                 "\r\n"
                                 "heute haben Geburtstag – herzlichen Glückwunsch!\r\n"
                                 "\r\n"
                                 "Müller, Jürgen (0711 / 47 11): 50 Jahre\r\n"
                                 "\r\n"
                                 "Ärger, Özlem (089 1234): 33 Jahre\r\n"
                                 "\r\n"
                                 ".\r\n"
                                 "..\r\n"
                                 "From the desk of HR \r\n"
                                 "Tab am Ende\t\r\n"
                                 "Preis: 5 € = 5 Euro\r\n" +
                                 longLine("äöüß");

const std::string headerOrder =
    "From,To,Subject,Date,Message-ID,MIME-Version,Content-Type,Content-Transfer-Encoding";

std::string withPort(std::string text, int port) {
    for (auto at = text.find("@PORT@"); at != std::string::npos; at = text.find("@PORT@")) {
        text.replace(at, 6, std::to_string(port));
    }
    return text;
}

// What the header fields of an arrived message must say.
struct Expected {
    std::string subject = "Geburtstage des Tages";
    std::string fromName = "noreply@example.com";
    std::string fromAddress = "noreply@example.com";
    std::vector<std::string> to = {"geburtstage@example.com"};
};

class MailerEndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(programDir);
        std::filesystem::copy_file(WFB_MAILER_PROGRAM, program);
        writeFile(listFile, listText);
    }

    void settings(const std::string& text) const {
        writeFile(programDir + "/wiegenfestbote-mailer.ini", text);
    }

    // The six arguments as the main program passes them.
    std::vector<std::string> asMainProgram(const std::string& recipient = "geburtstage@example.com",
                                           bool now = true) const {
        std::vector<std::string> arguments = {"/s:Geburtstage des Tages", "/b:" + listFile,
                                              "/e:noreply@example.com", "/n:noreply@example.com",
                                              "/to:" + recipient};
        if (now) {
            arguments.push_back("/sofort");
        }
        return arguments;
    }

    ProcessResult run(std::vector<std::string> arguments) const {
        arguments.insert(arguments.begin(), program);
        return runProcess(arguments, dir);
    }

    // The message file is well formed, and Python reads from it what was sent.
    void expectIntact(const std::string& path, const Expected& expected = {}) const {
        SCOPED_TRACE(path);
        const std::string raw = readFile(path);
        const auto headerEnd = raw.find("\r\n\r\n");
        ASSERT_NE(headerEnd, std::string::npos);
        for (std::size_t pos = 0, end; pos < raw.size(); pos = end + 2) {
            end = raw.find("\r\n", pos);
            ASSERT_NE(end, std::string::npos) << "the message ends without CR LF";
            const auto line = std::string_view(raw).substr(pos, end - pos);
            EXPECT_EQ(line.find_first_of("\r\n"), std::string_view::npos) << "a bare CR or LF";
            EXPECT_LE(line.size(), pos < headerEnd ? 78u : 76u) << line;
        }

        const ParsedMail mail = parseMail(path, dir);
        SCOPED_TRACE(mail.report);
        EXPECT_EQ(mail["defects"], "");
        EXPECT_EQ(mail["headers"], headerOrder);
        EXPECT_EQ(mail["subject"], expected.subject);
        EXPECT_EQ(mail["from-name"], expected.fromName);
        EXPECT_EQ(mail["from-address"], expected.fromAddress);
        const auto to = mail.fields.find("to-address");
        ASSERT_NE(to, mail.fields.end());
        EXPECT_EQ(to->second, expected.to);
        EXPECT_NE(mail["date"], "invalid");
        const std::string domain = expected.fromAddress.substr(expected.fromAddress.find('@'));
        EXPECT_TRUE(mail["message-id"].starts_with('<') &&
                    mail["message-id"].ends_with(domain + ">"));
        EXPECT_EQ(mail["mime-version"], "1.0");
        EXPECT_EQ(mail["content-type"], "text/plain");
        EXPECT_EQ(mail["charset"], "utf-8");
        EXPECT_EQ(mail["transfer-encoding"], "quoted-printable");
        EXPECT_EQ(mail.body, listTextUtf8);
    }

    // Exactly one message arrived, from the sender to the recipients, and it is intact.
    void expectDelivered(const SmtpServer& server, const Expected& expected = {}) const {
        const auto received = server.received();
        ASSERT_EQ(received.size(), 1u) << server.log();
        EXPECT_EQ(received[0].mailFrom, expected.fromAddress);
        EXPECT_EQ(received[0].rcptTo, expected.to);
        expectIntact(received[0].path, expected);
        EXPECT_TRUE(messageFiles(outbox()).empty()) << "a sent message stays in the outbox";
        EXPECT_TRUE(messageFiles(failed()).empty());
    }

    std::string outbox() const { return programDir + "/outbox"; }
    std::string failed() const { return outbox() + "/fehlgeschlagen"; }

    const TempDir dir;
    // A folder with a blank, as "/b:" passes it without quotes.
    const std::string programDir = dir / "Wiegen festbote";
    const std::string program = programDir + "/wiegenfestbote-mailer";
    const std::string listFile = programDir + "/wiegenfestbote.txt";
};

// Nothing but one line of our own on stderr: a sanitizer's report would be more.
void expectOneMessageLine(const ProcessResult& result, const std::string& part) {
    EXPECT_TRUE(result.err.starts_with("wiegenfestbote-mailer: ")) << result.err;
    EXPECT_EQ(result.err.find('\n'), result.err.size() - 1) << result.err;
    EXPECT_NE(result.err.find(part), std::string::npos) << result.err;
}

TEST_F(MailerEndToEnd, SendsTheListAsTheMainProgramHandsItOver) {
    const SmtpServer server(dir);
    settings(withPort("[SMTP]\nServer=smtp://127.0.0.1:@PORT@\nStartTLS=no\n", server.port()));
    const auto result = run(asMainProgram());
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_EQ(result.err, "");
    expectDelivered(server);
    EXPECT_NE(result.out.find("Gesendet an geburtstage@example.com"), std::string::npos)
        << result.out;
}

TEST_F(MailerEndToEnd, DecodesSubjectNameAndSeveralRecipients) {
    const SmtpServer server(dir);
    settings(withPort("[SMTP]\nServer=smtp://127.0.0.1:@PORT@\nStartTLS=no\n", server.port()));
    // Windows-1252 bytes, as the main program's settings hold them; another order.
    const auto result = run({"/sofort", "/to:geburtstage@example.com; chefin@example.com",
                             "/n:Personalb\xFCro \x96 Gr\xFC\xDF"
                             "e",
                             "/b:" + listFile,
                             "/s:Geburtstage \x96 Gl\xFC"
                             "ckw\xFC"
                             "nsche f\xFCr heute",
                             "/e:bote@firma.example.com"});
    EXPECT_EQ(result.status, 0) << result.err;
    Expected expected;
    expected.subject = "Geburtstage – Glückwünsche für heute";
    expected.fromName = "Personalbüro – Grüße";
    expected.fromAddress = "bote@firma.example.com";
    expected.to = {"geburtstage@example.com", "chefin@example.com"};
    expectDelivered(server, expected);
}

TEST_F(MailerEndToEnd, SendsOverTlsWithAPrivateCaAndLogsIn) {
    // STARTTLS on the submission port, and TLS from the start.
    const std::pair<const char*, const char*> cases[] = {{"--starttls", "smtp"},
                                                         {"--smtps", "smtps"}};
    for (const auto& [mode, scheme] : cases) {
        SCOPED_TRACE(scheme);
        const auto certificate = makeCertificate(dir, "server");
        const SmtpServer server(
            dir, {mode, certificate.cert, certificate.key, "--auth", "bote", "Geheim 4711"});
        settings(withPort("[SMTP]\nServer=" + std::string(scheme) +
                              "://127.0.0.1:@PORT@\nUser=bote\nPass=Geheim 4711\nCAFile=" +
                              certificate.cert + "\n",
                          server.port()));
        const auto result = run(asMainProgram());
        EXPECT_EQ(result.status, 0) << result.err << server.log();
        expectDelivered(server);
    }
}

TEST_F(MailerEndToEnd, WithoutServerTheMessageGoesToTheOutbox) {
    struct Case {
        const char* settings;
        std::string folder;
    };
    const Case cases[] = {
        {nullptr, programDir + "/outbox"}, // no settings file at all: the demo
        {"[SMTP]\nServer=\n", programDir + "/outbox"},
        {"[Outbox]\nDir=Ausgang\n", programDir + "/Ausgang"},
        {"[Outbox]\nDir=@DIR@/post aus\n", dir / "post aus"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.settings ? c.settings : "no settings");
        std::filesystem::remove(programDir + "/wiegenfestbote-mailer.ini");
        std::filesystem::remove_all(c.folder);
        if (c.settings) {
            std::string text = c.settings;
            if (const auto at = text.find("@DIR@"); at != std::string::npos) {
                text.replace(at, 5, dir.path());
            }
            settings(text);
        }
        // Two runs: two files, neither replacing the other.
        for (std::size_t i = 0; i < 2; ++i) {
            const auto before = messageFiles(c.folder);
            const auto result = run(asMainProgram());
            EXPECT_EQ(result.status, 0) << result.err;
            EXPECT_EQ(result.err, "");
            auto files = messageFiles(c.folder);
            ASSERT_EQ(files.size(), i + 1);
            std::erase_if(files, [&](const std::string& f) {
                return std::find(before.begin(), before.end(), f) != before.end();
            });
            ASSERT_EQ(files.size(), 1u);
            EXPECT_NE(result.out.find("Kein Mailserver eingestellt"), std::string::npos);
            EXPECT_NE(result.out.find("„" + files[0] + "“"), std::string::npos)
                << result.out << " does not name where the message lies";
            expectIntact(files[0]);
        }
    }
}

TEST_F(MailerEndToEnd, WithoutSofortNothingIsSent) {
    const SmtpServer server(dir);
    settings(withPort("[SMTP]\nServer=smtp://127.0.0.1:@PORT@\nStartTLS=no\n", server.port()));
    const auto result = run(asMainProgram("geburtstage@example.com", false));
    EXPECT_EQ(result.status, 0) << result.err;
    EXPECT_TRUE(server.received().empty());
    const auto files = messageFiles(outbox());
    ASSERT_EQ(files.size(), 1u);
    EXPECT_NE(result.out.find("/sofort"), std::string::npos) << result.out;
    EXPECT_NE(result.out.find(files[0]), std::string::npos) << result.out;
    expectIntact(files[0]);
}

TEST_F(MailerEndToEnd, RefusesLineBreaksInHeaderValuesAndSendsNothing) {
    const SmtpServer server(dir);
    settings(withPort("[SMTP]\nServer=smtp://127.0.0.1:@PORT@\nStartTLS=no\n", server.port()));
    const std::pair<std::vector<std::string>, const char*> cases[] = {
        {asMainProgram("geburtstage@example.com\r\nBcc: alle@example.com"), "Der Empfänger"},
        {asMainProgram("geburtstage@example.com\nBcc: alle@example.com"), "Der Empfänger"},
        {asMainProgram("x@example.com, geburtstage@example.com\r"), "Der Empfänger"},
        {{"/s:Hallo\r\nBcc: alle@example.com", "/b:" + listFile, "/e:noreply@example.com",
          "/to:geburtstage@example.com", "/sofort"},
         "Der Betreff"},
        {{"/n:Bote\nBcc: alle@example.com", "/b:" + listFile, "/e:noreply@example.com",
          "/to:geburtstage@example.com", "/sofort"},
         "Der Absendername"},
    };
    for (const auto& [arguments, field] : cases) {
        const auto result = run(arguments);
        EXPECT_EQ(result.status, 1);
        expectOneMessageLine(result, std::string(field) + " „");
        EXPECT_NE(result.err.find("Zeilenumbruch"), std::string::npos) << result.err;
    }
    EXPECT_TRUE(server.received().empty());
    EXPECT_FALSE(std::filesystem::exists(outbox())) << "a refused message is not stored either";
}

TEST_F(MailerEndToEnd, WrongArgumentsStopBeforeAnything) {
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{"/b:" + listFile, "/e:noreply@example.com", "/to:a@example.com", "/x"},
         "Unbekanntes Argument „/x“"},
        {{"/b:" + dir / "fehlt.txt", "/e:noreply@example.com", "/to:a@example.com", "/sofort"},
         "Die Nachrichtendatei „" + dir / "fehlt.txt" +
             "“ (Argument /b:) kann nicht gelesen werden: Datei oder Verzeichnis nicht gefunden"},
        {asMainProgram(""), "Kein Empfänger"},
    };
    for (const auto& [arguments, message] : cases) {
        const auto result = run(arguments);
        EXPECT_EQ(result.status, 1);
        expectOneMessageLine(result, message);
    }
    EXPECT_FALSE(std::filesystem::exists(outbox()));
}

// A send that fails: the reason on stderr, exit status 1, nothing at the server, and the message
// kept whole in the outbox's folder "fehlgeschlagen".
struct FailedSend {
    const char* name;
    enum { plain, startTls, startTlsLogin, refusing, closedPort, silentPort } server;
    std::string settings; // @PORT@: the server's port, @CA@: its certificate
    std::string recipients;
    std::string message;
};

const std::string password = "Falsches-Kennwort-0815";

const FailedSend failedSends[] = {
    {"StartTlsNotOffered", FailedSend::plain, "Server=smtp://127.0.0.1:@PORT@\n",
     "geburtstage@example.com", "keine Verschlüsselung (STARTTLS) an"},
    {"CertificateNotTrusted", FailedSend::startTls, "Server=smtp://127.0.0.1:@PORT@\n",
     "geburtstage@example.com", "Zertifikat des Servers ist nicht vertrauenswürdig"},
    {"CertificateForAnotherName", FailedSend::startTls,
     "Server=smtp://localhost:@PORT@\nCAFile=@CA@\n", "geburtstage@example.com",
     "Zertifikat des Servers ist nicht vertrauenswürdig oder nicht auf seinen Namen"},
    {"CaFileMissing", FailedSend::startTls, "Server=smtp://127.0.0.1:@PORT@\nCAFile=@CA@.fehlt\n",
     "geburtstage@example.com", "Die Zertifikatsdatei „"},
    {"LoginRefused", FailedSend::startTlsLogin,
     "Server=smtp://127.0.0.1:@PORT@\nCAFile=@CA@\nUser=bote\nPass=" + password + "\n",
     "geburtstage@example.com", "Der Server hat die Anmeldung abgelehnt"},
    {"RecipientRefused", FailedSend::refusing, "Server=smtp://127.0.0.1:@PORT@\nStartTLS=no\n",
     "geburtstage@example.com, niemand@example.com", "Der Server hat einen Empfänger abgelehnt"},
    {"PortClosed", FailedSend::closedPort, "Server=smtp://127.0.0.1:@PORT@\nStartTLS=no\n",
     "geburtstage@example.com", "Der Server nimmt keine Verbindung an"},
    {"ServerSilent", FailedSend::silentPort,
     "Server=smtp://127.0.0.1:@PORT@\nStartTLS=no\nTimeout=2\n", "geburtstage@example.com",
     "nicht binnen 2 Sekunden geantwortet"},
    {"SettingMakesNoSense", FailedSend::plain, "Server=smtp://127.0.0.1:@PORT@\nStartTLS=jein\n",
     "geburtstage@example.com", "„StartTLS“ im Abschnitt [SMTP]"},
};

void PrintTo(const FailedSend& c, std::ostream* out) {
    *out << c.name;
}

class MailerFailedSend : public MailerEndToEnd, public ::testing::WithParamInterface<FailedSend> {};

TEST_P(MailerFailedSend, KeepsTheMessageAndSaysWhy) {
    const FailedSend& c = GetParam();
    std::optional<Certificate> certificate;
    std::optional<SmtpServer> server;
    std::optional<DeadPort> deadPort;
    switch (c.server) {
    case FailedSend::plain:
        server.emplace(dir);
        break;
    case FailedSend::startTls:
    case FailedSend::startTlsLogin:
        certificate = makeCertificate(dir, "server");
        if (c.server == FailedSend::startTls) {
            server.emplace(
                dir, std::vector<std::string>{"--starttls", certificate->cert, certificate->key});
        } else {
            server.emplace(dir, std::vector<std::string>{"--starttls", certificate->cert,
                                                         certificate->key, "--auth", "bote",
                                                         "Geheim 4711"});
        }
        break;
    case FailedSend::refusing:
        server.emplace(dir, std::vector<std::string>{"--refuse", "niemand@example.com"});
        break;
    case FailedSend::closedPort:
    case FailedSend::silentPort:
        deadPort.emplace(c.server == FailedSend::silentPort);
        break;
    }
    std::string text =
        "[SMTP]\n" + withPort(c.settings, server ? server->port() : deadPort->port());
    if (const auto at = text.find("@CA@"); at != std::string::npos) {
        text.replace(at, 4, certificate->cert);
    }
    settings(text);

    const auto result = run(asMainProgram(c.recipients));
    EXPECT_EQ(result.status, 1);
    expectOneMessageLine(result, c.message);
    EXPECT_EQ(result.err.find(password), std::string::npos) << "the password is shown";
    if (server) {
        EXPECT_TRUE(server->received().empty()) << server->log();
    }
    EXPECT_TRUE(messageFiles(outbox()).empty());
    const auto kept = messageFiles(failed());
    ASSERT_EQ(kept.size(), 1u);
    EXPECT_NE(result.err.find("Die Nachricht liegt in „" + kept[0] + "“"), std::string::npos)
        << result.err;
    Expected expected;
    expected.to = c.recipients.find(',') == std::string::npos
                      ? std::vector<std::string>{c.recipients}
                      : std::vector<std::string>{"geburtstage@example.com", "niemand@example.com"};
    expectIntact(kept[0], expected);
}

INSTANTIATE_TEST_SUITE_P(Failures, MailerFailedSend, ::testing::ValuesIn(failedSends),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
} // namespace wfb::test
