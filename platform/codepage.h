// Fixed code-page tables of the two code pages the program runs with:
// 1251 ("ANSI", the screen side) and 866 ("OEM", the file side).
// The engine works on byte strings; only the viewer and the command-line
// tool's output convert to Unicode, through these functions.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

enum class CodePage { Cp1251, Cp866 };

// The Unicode character of one byte of the code page.
char16_t ToUnicode(CodePage cp, uint8_t byte);
// The byte of the code page for a Unicode character, -1 when it has none.
int FromUnicode(CodePage cp, char32_t c);

// A byte run of the code page as UTF-8, and back (characters the code page
// lacks, and malformed UTF-8, become `replacement`).
std::string ToUtf8(std::string_view bytes, CodePage cp);
std::string FromUtf8(std::string_view utf8, CodePage cp, char replacement = '?');
// The same into `out`, which has room for `capacity` bytes: returns the
// length of the whole conversion (never more than utf8.size()); when that
// exceeds `capacity`, only the first `capacity` bytes were written.
size_t FromUtf8Into(std::string_view utf8, CodePage cp, char* out, size_t capacity, char replacement = '?');

// The platform's conversion of one byte between the code pages, as the
// system's ANSI/OEM conversion does it: a character the target lacks
// becomes '?'.
uint8_t ConvertByte(uint8_t byte, CodePage from, CodePage to);

}  // namespace platform
