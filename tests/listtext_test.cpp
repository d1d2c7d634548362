#include "app/report.h"
#include "support/tempdir.h"
#include "system/failure.h"
#include "text/listtext.h"

#include <gtest/gtest.h>

#include <vector>

namespace wfb {
namespace {

TEST(ListText, LoadingTurnsEveryLineBreakIntoCrLf) {
    const std::pair<std::string, std::string> cases[] = {
        {"a\nb\n", "a\r\nb\r\n"},
        {"a\rb\r", "a\r\nb\r\n"},
        {"a\r\nb\r\n", "a\r\nb\r\n"},
        {"a\r\n\nb\r\r\nc\n\rd", "a\r\n\r\nb\r\n\r\nc\r\n\r\nd"},
        {"no final break", "no final break"},
        {"", ""},
        {std::string("nul\0byte\n", 9), std::string("nul\0byte\r\n", 10)},
        {"Gr\xFC\xDF"
         "e \x96 \x81\x8D\x8F\x90\x9D",
         "Gr\xFC\xDF"
         "e \x96 \x81\x8D\x8F\x90\x9D"},
    };
    test::TempDir dir;
    for (const auto& [content, expected] : cases) {
        ListText list("memo");
        list.loadFromFile(dir.write("vorlage.txt", content));
        EXPECT_EQ(list.whole(), expected);
    }
}

TEST(ListText, TemplateThatCannotBeReadLeavesTheTextAndNamesTheFile) {
    test::TempDir dir;
    const std::string missing = dir / "fehlt.txt";
    ListText list("memo");
    try {
        list.loadFromFile(missing);
        FAIL() << "no failure";
    } catch (const Failure& failure) {
        EXPECT_EQ(std::string(failure.what()),
                  "Die Vorlage " + quoted(missing) +
                      " kann nicht gelesen werden: Datei oder Verzeichnis nicht gefunden");
    }
    EXPECT_EQ(list.whole(), "memo");
}

struct AppendCase {
    const char* what;
    std::string start;
    std::vector<std::string> lines;
    std::string expected;
};

TEST(ListText, AppendsLinesByTheBreakRule) {
    const AppendCase cases[] = {
        {"empty text", "", {"A"}, "A\r\n"},
        {"text ending with a break", "T\r\n", {"A", ""}, "T\r\nA\r\n\r\n"},
        {"text without final break", "T", {"A"}, "T\r\nA"},
        {"the empty line after the first entry is lost",
         "T",
         {"A", "", "B", ""},
         "T\r\nA\r\nB\r\n\r\n"},
        {"empty line onto an empty text", "", {""}, "\r\n"},
        {"text ending with a bare CR", "T\r", {"A"}, "T\r\r\nA"},
    };
    for (const auto& c : cases) {
        ListText list(c.start);
        for (const auto& line : c.lines) {
            list.appendLine(line);
        }
        EXPECT_EQ(list.whole(), c.expected) << c.what;
    }
}

TEST(ErrorBox, AddsAFullStopWhenTheLastCharacterSortsAfterIt) {
    const std::pair<std::string, std::string> cases[] = {
        {"Datei nicht gefunden", "Datei nicht gefunden."},
        {"Datei nicht gefunden.", "Datei nicht gefunden."},
        {"Fehler!", "Fehler!"},
        {"Spalte „Telefon“ (Zahl)", "Spalte „Telefon“ (Zahl)"},
        {"Wert: -", "Wert: -"},
        {"Wert: ,", "Wert: ,"},
        {"Pfad /tmp/", "Pfad /tmp/."},
        {"Fehler 42", "Fehler 42."},
        {"Zeile endet mit Blank ", "Zeile endet mit Blank "},
        {"Datei „a.txt“", "Datei „a.txt“."},
        {"Größe", "Größe."},
        {"", ""},
    };
    for (const auto& [message, shown] : cases) {
        EXPECT_EQ(boxText(message), shown) << message;
    }
}

} // namespace
} // namespace wfb
