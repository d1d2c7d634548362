#include "mailer/mailer.h"
#include "mailer/message.h"
#include "system/failure.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

namespace wfb::mailer {
namespace {

// Sets the local time zone for one test (a POSIX rule, so no zone files are needed).
class LocalTimeZone {
public:
    explicit LocalTimeZone(const char* zone) {
        if (const char* old = std::getenv("TZ")) {
            old_ = old;
            hadOne_ = true;
        }
        ::setenv("TZ", zone, 1);
        ::tzset();
    }
    LocalTimeZone(const LocalTimeZone&) = delete;
    LocalTimeZone& operator=(const LocalTimeZone&) = delete;
    ~LocalTimeZone() {
        if (hadOne_) {
            ::setenv("TZ", old_.c_str(), 1);
        } else {
            ::unsetenv("TZ");
        }
        ::tzset();
    }

private:
    std::string old_;
    bool hadOne_ = false;
};

constexpr const char* germany = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr std::time_t fifthOfFebruary = 1707114600; // 2024-02-05 06:30:00 UTC

// Undoes quoted-printable as a receiving mail program does.
std::string decodeQuotedPrintable(std::string_view qp) {
    std::string out;
    for (std::size_t i = 0; i < qp.size();) {
        if (qp[i] != '=') {
            out += qp[i++];
        } else if (qp.substr(i, 3) == "=\r\n") {
            i += 3;
        } else {
            out += static_cast<char>(std::stoi(std::string(qp.substr(i + 1, 2)), nullptr, 16));
            i += 3;
        }
    }
    return out;
}

std::string decodeBase64(std::string_view text) {
    const std::string digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string out;
    unsigned bits = 0;
    int count = 0;
    for (const char c : text) {
        if (c == '=') {
            break;
        }
        bits = bits << 6 | static_cast<unsigned>(digits.find(c));
        count += 6;
        if (count >= 8) {
            count -= 8;
            out += static_cast<char>((bits >> count) & 0xFF);
        }
    }
    return out;
}

std::vector<std::string> linesOf(std::string_view text) {
    std::vector<std::string> lines;
    for (std::size_t pos = 0; pos < text.size();) {
        auto end = text.find("\r\n", pos);
        if (end == std::string_view::npos) {
            end = text.size();
        }
        lines.emplace_back(text.substr(pos, end - pos));
        pos = end + 2;
    }
    return lines;
}

MailMessage mainProgramsMail() {
    MailMessage m;
    m.senderAddress = "noreply@example.com";
    m.senderName = "noreply@example.com";
    m.recipients = {"geburtstage@example.com"};
    m.subject = "Geburtstage des Tages";
    m.body = "Guten Morgen,\r\n\r\nheute \xE2\x80\x93 Glück\r\n.\r\n";
    return m;
}

TEST(MailerMessage, ComposesTheMainProgramsMail) {
    const LocalTimeZone zone(germany);
    const std::string id =
        messageIdFor("20240205073000.4711.0123456789abcdef", "noreply@example.com");
    EXPECT_EQ(id, "<20240205073000.4711.0123456789abcdef@example.com>");
    EXPECT_EQ(composeMessage(mainProgramsMail(), fifthOfFebruary, id),
              "From: \"noreply@example.com\" <noreply@example.com>\r\n"
              "To: geburtstage@example.com\r\n"
              "Subject: Geburtstage des Tages\r\n"
              "Date: Mon, 5 Feb 2024 07:30:00 +0100\r\n"
              "Message-ID: <20240205073000.4711.0123456789abcdef@example.com>\r\n"
              "MIME-Version: 1.0\r\n"
              "Content-Type: text/plain; charset=UTF-8\r\n"
              "Content-Transfer-Encoding: quoted-printable\r\n"
              "\r\n"
              "Guten Morgen,\r\n"
              "\r\n"
              "heute =E2=80=93 Gl=C3=BCck\r\n"
              "=2E\r\n");
}

TEST(MailerMessage, TakesTheCommandLineAndTheBodyAsWindows1252) {
    MailerArguments arguments;
    arguments.subject = "Gl\xFC"
                        "ckw\xFC"
                        "nsche \x96 heute";
    arguments.senderName = "Personalb\xFCro";
    arguments.senderAddress = "noreply@example.com";
    arguments.recipients = {"a@example.com", "b@example.com"};
    const auto m = messageFrom(arguments, "M\xFCller \x80\r\n");
    EXPECT_EQ(m.subject, "Glückwünsche – heute");
    EXPECT_EQ(m.senderName, "Personalbüro");
    EXPECT_EQ(m.senderAddress, "noreply@example.com");
    EXPECT_EQ(m.recipients, (std::vector<std::string>{"a@example.com", "b@example.com"}));
    EXPECT_EQ(m.body, "Müller €\r\n");
}

TEST(MailerMessage, DatesCarryTheLocalOffset) {
    struct Case {
        const char* zone;
        std::time_t when;
        const char* expected;
    };
    const Case cases[] = {
        {germany, fifthOfFebruary, "Mon, 5 Feb 2024 07:30:00 +0100"},
        {germany, 1719810000, "Mon, 1 Jul 2024 07:00:00 +0200"},
        {germany, 1735687800, "Wed, 1 Jan 2025 00:30:00 +0100"},  // a new day and year locally
        {germany, 1711846799, "Sun, 31 Mar 2024 01:59:59 +0100"}, // the second before summer time
        {germany, 1711846800, "Sun, 31 Mar 2024 03:00:00 +0200"},
        {"UTC0", fifthOfFebruary, "Mon, 5 Feb 2024 06:30:00 +0000"},
        {"IST-5:30", fifthOfFebruary, "Mon, 5 Feb 2024 12:00:00 +0530"},
        {"EST5EDT,M3.2.0,M11.1.0", fifthOfFebruary, "Mon, 5 Feb 2024 01:30:00 -0500"},
    };
    for (const auto& c : cases) {
        const LocalTimeZone zone(c.zone);
        EXPECT_EQ(formatDate(c.when), c.expected) << c.zone << " " << c.when;
    }
}

TEST(MailerMessage, RefusesLineBreaksAndNulInEveryHeaderValue) {
    const std::string bad[] = {"a@example.com\r\nBcc: b@example.com", "a@example.com\nBcc: x",
                               "a@example.com\rBcc: x", std::string("a@example.com\0x", 15)};
    struct Field {
        const char* name; // as the message names it
        void (*set)(MailMessage&, const std::string&);
    };
    const Field fields[] = {
        {"Der Betreff", [](MailMessage& m, const std::string& v) { m.subject = "Hallo " + v; }},
        {"Der Absendername", [](MailMessage& m, const std::string& v) { m.senderName = v; }},
        {"Der Absender", [](MailMessage& m, const std::string& v) { m.senderAddress = v; }},
        {"Der Empfänger", [](MailMessage& m, const std::string& v) { m.recipients = {v}; }},
        {"Der Empfänger",
         [](MailMessage& m, const std::string& v) {
             m.recipients = {"ok@example.com", v};
         }},
    };
    for (const auto& field : fields) {
        for (const auto& value : bad) {
            MailMessage m = mainProgramsMail();
            field.set(m, value);
            try {
                composeMessage(m, fifthOfFebruary, "<x@example.com>");
                ADD_FAILURE() << field.name << " with " << value << ": composed";
            } catch (const Failure& failure) {
                const std::string text = failure.what();
                EXPECT_TRUE(text.starts_with(field.name)) << text;
                EXPECT_NE(text.find("Zeilenumbruch"), std::string::npos) << text;
                EXPECT_EQ(text.find_first_of(std::string("\r\n\0", 3)), std::string::npos)
                    << "the message itself must stay on one line: " << text;
            }
        }
    }
}

TEST(MailerMessage, TakesOnlyPlainMailAddresses) {
    const char* good[] = {"a@example.com", "first.last+tag@mail.example.com", "noreply@localhost",
                          "o'brien@example.ie", "x_y-z@a-b.example"};
    for (const char* address : good) {
        EXPECT_NO_THROW(checkAddress("Der Empfänger", address)) << address;
    }
    const std::string bad[] = {"",
                               "a",
                               "@example.com",
                               "a@",
                               "a b@example.com",
                               "<a@example.com>",
                               "Hans <a@example.com>",
                               "a@b@example.com",
                               "müller@example.com",
                               "a@exämple.com",
                               "a@b_c.example",
                               ".a@example.com",
                               "a.@example.com",
                               "a..b@example.com",
                               "a@-b.example",
                               "a@b..example",
                               "a@example.com.",
                               "\"a\"@example.com",
                               std::string(65, 'a') + "@example.com",
                               "a@" + std::string(250, 'b') + ".de"};
    for (const auto& address : bad) {
        try {
            checkAddress("Der Empfänger", address);
            ADD_FAILURE() << address << ": taken";
        } catch (const Failure& failure) {
            EXPECT_TRUE(std::string(failure.what()).starts_with("Der Empfänger „" + address + "“"))
                << failure.what();
        }
    }
}

TEST(MailerMessage, QuotedPrintableKeepsEveryLineIntact) {
    const std::string x75(75, 'x'), x74(74, 'x');
    const std::pair<std::string, std::string> cases[] = {
        {"", ""},
        {"abc\r\n", "abc\r\n"},
        {"abc", "abc=\r\n"},         // no line break added at the end
        {"a b \r\n", "a b=20\r\n"},  // trailing blank
        {"tab\t\r\n", "tab=09\r\n"}, // trailing tab
        {" \r\n", "=20\r\n"},        // a line of one blank
        {"a=b\r\n", "a=3Db\r\n"},    // the escape character itself
        {".\r\n", "=2E\r\n"},        // a line holding a single dot
        {"..x\r\n", "=2E.x\r\n"},    // only the first dot matters
        {"a.\r\n", "a.\r\n"},        //
        {"From here\r\nFromage\r\n", "=46rom here\r\nFromage\r\n"},
        {"a\nb\rc\r\n", "a\r\nb\r\nc\r\n"},       // every line break becomes CR LF
        {"\r\n\r\n", "\r\n\r\n"},                 // empty lines stay
        {"Grüße\r\n", "Gr=C3=BC=C3=9Fe\r\n"},     // UTF-8 bytes
        {x75 + "x\r\n", x75 + "x\r\n"},           // 76 characters fit
        {x75 + "xx\r\n", x75 + "=\r\nxx\r\n"},    // 77 do not: a soft break at 75 + "="
        {x75 + " \r\n", x75 + "=\r\n=20\r\n"},    // an encoded blank does not fit
        {x74 + "ü\r\n", x74 + "=\r\n=C3=BC\r\n"}, // "=C3" is never cut
        {x75 + ".y\r\n", x75 + "=\r\n=2Ey\r\n"},  // a dot after a soft break
        {x75 + "\x01\r\n", x75 + "=\r\n=01\r\n"},
        // The last line without a break ends in a soft break, whose "=" needs its room too.
        {x75 + "x", x75 + "=\r\nx=\r\n"},
        {x74 + "x", x74 + "x=\r\n"},
        {x74 + "ü", x74 + "=\r\n=C3=BC=\r\n"},
    };
    for (const auto& [text, expected] : cases) {
        EXPECT_EQ(quotedPrintable(text), expected) << text;
    }
}

TEST(MailerMessage, QuotedPrintableDecodesToTheTextOnLongMixedLines) {
    // Pieces that meet the line limit in every position: blanks, tabs, dots, "=", "From ",
    // two- and three-byte characters and every kind of line break.
    const std::string pieces[] = {" ",  "\t", ".",    "=",  "F",  "From ", "ä",   "–",
                                  "xy", "z",  "\r\n", "\n", "\r", "€ ",    "\x7F"};
    std::string text;
    std::string expected;
    unsigned seed = 12345;
    for (int i = 0; i < 20000; ++i) {
        seed = seed * 1103515245 + 12345;
        const auto& piece = pieces[(seed >> 16) % std::size(pieces)];
        // Long lines are rarer than pieces: line breaks come once in about 60 pieces.
        const bool lineBreak = piece == "\r\n" || piece == "\n" || piece == "\r";
        if (lineBreak && (seed >> 8) % 4 != 0) {
            continue;
        }
        // A CR and then an LF would be one line break, not two.
        if (piece.starts_with('\n') && text.ends_with('\r')) {
            continue;
        }
        text += piece;
        expected += piece == "\n" || piece == "\r" ? "\r\n" : piece;
    }
    const std::string qp = quotedPrintable(text);
    EXPECT_EQ(decodeQuotedPrintable(qp), expected);
    ASSERT_TRUE(qp.ends_with("\r\n"));
    for (const auto& line : linesOf(qp)) {
        EXPECT_LE(line.size(), 76u) << line;
        EXPECT_FALSE(line.starts_with('.')) << line;
        EXPECT_FALSE(line.starts_with("From ")) << line;
        EXPECT_FALSE(line.ends_with(' ') || line.ends_with('\t')) << line;
        for (const char c : line) {
            ASSERT_TRUE(c == '\t' || (c >= 0x20 && c <= 0x7E)) << "not printable in " << line;
        }
    }
}

TEST(MailerMessage, SubjectsBeyondAsciiBecomeEncodedWords) {
    EXPECT_EQ(headerText("Geburtstage des Tages", 7), "Geburtstage des Tages");
    EXPECT_EQ(headerText("Glück", 7), "=?UTF-8?B?R2zDvGNr?=");
    // Text a reader would take for an encoded word, and blanks at the ends, are encoded too.
    EXPECT_EQ(headerText("=?x?=", 7), "=?UTF-8?B?PT94Pz0=?=");
    EXPECT_EQ(headerText(" a", 7), "=?UTF-8?B?IGE=?=");

    const std::string texts[] = {
        std::string(100, 'a'),
        "Herzlichen Glückwunsch zum Geburtstag – "
        "äöüÄÖÜß€ äöüÄÖÜß€ äöüÄÖÜß€ äöüÄÖÜß€ äöüÄÖÜß€ äöüÄÖÜß€",
    };
    for (const auto& text : texts) {
        const std::string header = "Subject: " + headerText(text, 7);
        std::string decoded;
        for (auto line : linesOf(header)) {
            EXPECT_LE(line.size(), 78u) << line;
            if (line.starts_with("Subject: ")) {
                line = line.substr(9);
            } else {
                ASSERT_TRUE(line.starts_with(' ')) << "a folded line starts with a blank";
                line = line.substr(1);
            }
            ASSERT_TRUE(line.starts_with("=?UTF-8?B?") && line.ends_with("?=")) << line;
            const std::string word = decodeBase64(line.substr(10, line.size() - 12));
            // Each word holds whole characters.
            EXPECT_NE(static_cast<unsigned char>(word.front()) & 0xC0, 0x80) << line;
            decoded += word;
        }
        EXPECT_EQ(decoded, text);
    }
}

TEST(MailerMessage, DisplayNamesAreQuotedOrEncodedAsNeeded) {
    const std::pair<std::string, std::string> cases[] = {
        {"", "a@example.com"},
        {"Wiegenfestbote", "Wiegenfestbote <a@example.com>"},
        {"Der Bote", "Der Bote <a@example.com>"},
        {"noreply@example.com", "\"noreply@example.com\" <a@example.com>"},
        {"Bote, Wiegenfest", "\"Bote, Wiegenfest\" <a@example.com>"},
        {"Sag \"hi\" \\o/", "\"Sag \\\"hi\\\" \\\\o/\" <a@example.com>"},
        {"Zwei  Blanks", "\"Zwei  Blanks\" <a@example.com>"},
        {"Müller, Hans", "=?UTF-8?B?TcO8bGxlciwgSGFucw==?= <a@example.com>"},
        {"=?UTF-8?B?QQ==?=", "=?UTF-8?B?PT9VVEYtOD9CP1FRPT0/PQ==?= <a@example.com>"},
    };
    for (const auto& [name, expected] : cases) {
        EXPECT_EQ(mailbox(name, "a@example.com"), expected) << name;
    }
    // A long name folds, and the address is never cut.
    const std::string from = "From: " + mailbox(std::string(60, 'n'), "a@example.com");
    for (const auto& line : linesOf(from)) {
        EXPECT_LE(line.size(), 78u) << line;
    }
    EXPECT_TRUE(from.ends_with(" <a@example.com>")) << from;
}

TEST(MailerMessage, LongRecipientListsFold) {
    const LocalTimeZone zone(germany);
    MailMessage m = mainProgramsMail();
    m.recipients.clear();
    for (int i = 0; i < 8; ++i) {
        m.recipients.push_back("empfaenger" + std::to_string(i) + "@abteilung.example.com");
    }
    const std::string message = composeMessage(m, fifthOfFebruary, "<x@example.com>");
    const auto to = message.find("To: ");
    const auto subject = message.find("\r\nSubject: ");
    std::string unfolded;
    for (const auto& line : linesOf(message.substr(to, subject - to))) {
        EXPECT_LE(line.size(), 78u) << line;
        unfolded += line;
    }
    std::string expected = "To: ";
    for (const auto& r : m.recipients) {
        expected += (r == m.recipients.front() ? "" : ", ") + r;
    }
    EXPECT_EQ(unfolded, expected);
}

} // namespace
} // namespace wfb::mailer
