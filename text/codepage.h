#pragma once

#include <optional>
#include <string>
#include <string_view>

// The program's 8-bit text is Windows-1252, the code page of the machines its files come from.
// Every byte value has a character: the five bytes Windows-1252 leaves undefined stand for the C1
// control characters of the same value, as Windows maps them, so that decoding and encoding
// again gives back every byte.
namespace wfb::cp1252 {

// The character a byte stands for.
char32_t toUnicode(unsigned char byte);

// The byte of a character, or nothing when Windows-1252 has none for it.
std::optional<unsigned char> fromUnicode(char32_t character);

// The byte that stands in for a character Windows-1252 cannot hold.
constexpr char replacement = '?';

// Windows-1252 bytes to UTF-8.
std::string toUtf8(std::string_view bytes);

// UTF-8 to Windows-1252; characters without a byte, and bytes that are no valid UTF-8, become
// the replacement character, one per character.
std::string fromUtf8(std::string_view utf8);

} // namespace wfb::cp1252
