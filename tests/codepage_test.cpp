#include "text/codepage.h"

#include <gtest/gtest.h>

namespace wfb {
namespace {

TEST(Codepage, EveryByteSurvivesTheRoundTripThroughUtf8) {
    std::string all;
    for (int b = 0; b < 256; ++b) {
        all += static_cast<char>(b);
    }
    const std::string utf8 = cp1252::toUtf8(all);
    EXPECT_EQ(cp1252::fromUtf8(utf8), all);
    for (int b = 0; b < 256; ++b) {
        const auto back = cp1252::fromUnicode(cp1252::toUnicode(static_cast<unsigned char>(b)));
        ASSERT_TRUE(back.has_value()) << b;
        EXPECT_EQ(*back, b);
    }
}

TEST(Codepage, MapsBytesAsWindowsDoes) {
    const std::pair<unsigned char, char32_t> cases[] = {
        {0x41, U'A'},   {0x80, U'€'},   {0x81, 0x0081}, {0x8A, U'Š'},   {0x8D, 0x008D},
        {0x8F, 0x008F}, {0x90, 0x0090}, {0x96, U'–'},   {0x9D, 0x009D}, {0x9F, U'Ÿ'},
        {0xA0, 0x00A0}, {0xC4, U'Ä'},   {0xDF, U'ß'},   {0xE4, U'ä'},   {0xFC, U'ü'},
    };
    for (const auto& [byte, character] : cases) {
        EXPECT_EQ(cp1252::toUnicode(byte), character) << int(byte);
    }
    EXPECT_EQ(cp1252::toUtf8("Gl\xFC"
                             "ck \x96 \x80"),
              "Glück – €");
}

TEST(Codepage, CharactersWithoutAByteBecomeOneQuestionMarkEach) {
    const std::pair<std::string, std::string> cases[] = {
        {"Łódź", "?\xF3"
                 "d?"},
        {"a😀b", "a?b"},        // four UTF-8 bytes, one character
        {"\xFF", "?"},         // no UTF-8 at all
        {"x\xC3", "x?"},       // cut off sequence
        {"\xE2\x82", "?"},     // cut off three-byte sequence
        {"\xC0\xAF", "?"},     // overlong encoding of '/'
        {"\xED\xA0\x80", "?"}, // a surrogate is no character
    };
    for (const auto& [utf8, expected] : cases) {
        EXPECT_EQ(cp1252::fromUtf8(utf8), expected) << utf8;
    }
}

} // namespace
} // namespace wfb
