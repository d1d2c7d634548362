#include "mailer/arguments.h"
#include "system/failure.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace wfb::mailer {
namespace {

using Arguments = std::vector<std::string>;

TEST(MailerArguments, ReadsTheSixArgumentsInAnyOrder) {
    // As the main program passes them, then shuffled.
    const Arguments asPassed = {
        "/s:Geburtstage des Tages",    "/b:/opt/wiegen festbote/wiegenfestbote.txt",
        "/e:noreply@example.com",      "/n:noreply@example.com",
        "/to:geburtstage@example.com", "/sofort"};
    const Arguments orders[] = {
        asPassed,
        {asPassed[5], asPassed[4], asPassed[3], asPassed[2], asPassed[1], asPassed[0]},
        {asPassed[1], asPassed[5], asPassed[0], asPassed[4], asPassed[2], asPassed[3]},
    };
    for (const auto& order : orders) {
        const auto a = parseArguments(order);
        EXPECT_EQ(a.subject, "Geburtstage des Tages");
        EXPECT_EQ(a.bodyFile, "/opt/wiegen festbote/wiegenfestbote.txt");
        EXPECT_EQ(a.senderAddress, "noreply@example.com");
        EXPECT_EQ(a.senderName, "noreply@example.com");
        EXPECT_EQ(a.recipients, Arguments{"geburtstage@example.com"});
        EXPECT_TRUE(a.sendNow);
    }
}

TEST(MailerArguments, OnlyBodySenderAndRecipientAreRequired) {
    const auto a = parseArguments({"/to:a@example.com", "/b:liste.txt", "/e:b@example.com"});
    EXPECT_EQ(a.subject, "");
    EXPECT_EQ(a.senderName, "");
    EXPECT_FALSE(a.sendNow);
    // Values pass byte for byte, colons and Windows-1252 included.
    const auto b = parseArguments({"/to:a@example.com", "/b:x", "/e:b@example.com",
                                   "/s:Gl\xFC"
                                   "ck: 3 \x96 4",
                                   "/n:"});
    EXPECT_EQ(b.subject, "Gl\xFC"
                         "ck: 3 \x96 4");
    EXPECT_EQ(b.senderName, "");
}

TEST(MailerArguments, SplitsTheRecipientListAtCommasAndSemicolons) {
    const std::pair<const char*, Arguments> cases[] = {
        {"a@example.com", {"a@example.com"}},
        {"a@example.com,b@example.com", {"a@example.com", "b@example.com"}},
        {"a@example.com; b@example.com", {"a@example.com", "b@example.com"}},
        {" a@example.com ;; , b@example.com ,", {"a@example.com", "b@example.com"}},
        {"\ta@example.com\t", {"a@example.com"}},
        {"a b@example.com", {"a b@example.com"}}, // refused later, as no address
        {" ,; ", {}},
        {"", {}},
    };
    for (const auto& [list, expected] : cases) {
        EXPECT_EQ(splitRecipients(list), expected) << list;
    }
}

struct WrongCase {
    const char* what;
    Arguments arguments;
    const char* message; // part of the failure's text
};

TEST(MailerArguments, RefusesWrongArgumentsWithAMessageNamingThem) {
    const std::string b = "/b:liste.txt", e = "/e:noreply@example.com", to = "/to:a@example.com";
    const WrongCase cases[] = {
        {"unknown switch", {b, e, to, "/x:1"}, "Unbekanntes Argument „/x:1“"},
        {"prefixes are lower case", {b, e, to, "/S:Betreff"}, "Unbekanntes Argument „/S:Betreff“"},
        {"no colon", {b, e, to, "/s"}, "Unbekanntes Argument „/s“"},
        {"more after /sofort", {b, e, to, "/sofortig"}, "Unbekanntes Argument „/sofortig“"},
        {"without slash", {b, e, to, "sofort"}, "Unbekanntes Argument „sofort“"},
        {"empty argument", {b, e, to, ""}, "Unbekanntes Argument „“"},
        {"a line break is shown", {b, e, to, "x\r\ny"}, "„x\\r\\ny“"},
        {"quotes of a shell line", {b, e, to, "\"/s:Geburtstage\""}, "Unbekanntes Argument"},
        {"subject twice", {b, e, to, "/s:a", "/s:b"}, "/s: (Betreff) ist mehrfach"},
        {"recipient twice", {b, e, to, to}, "/to: (Empfänger) ist mehrfach"},
        {"/sofort twice", {b, e, to, "/sofort", "/sofort"}, "„/sofort“ ist mehrfach"},
        {"no body file", {e, to, "/sofort"}, "Keine Nachrichtendatei"},
        {"empty body file", {"/b:", e, to}, "Keine Nachrichtendatei"},
        {"no sender", {b, to}, "Kein Absender"},
        {"empty sender", {b, "/e:", to}, "Kein Absender"},
        {"no recipient", {b, e, "/sofort"}, "Kein Empfänger"},
        {"empty recipient", {b, e, "/to:", "/sofort"}, "Kein Empfänger"},
        {"only separators", {b, e, "/to: ;, "}, "Kein Empfänger"},
        {"nothing at all", {}, "Keine Nachrichtendatei"},
    };
    for (const auto& c : cases) {
        try {
            parseArguments(c.arguments);
            ADD_FAILURE() << c.what << ": accepted";
        } catch (const Failure& failure) {
            EXPECT_NE(std::string(failure.what()).find(c.message), std::string::npos)
                << c.what << ": " << failure.what();
        }
    }
}

} // namespace
} // namespace wfb::mailer
