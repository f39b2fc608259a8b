// Text rules of the ANSI code page 1251 under the Russian locale: upper and
// lower case, locale comparison and substring search. Texts are byte
// strings in code page 1251.
//
// Case pairs: Latin a-z/A-Z; Cyrillic а-я/А-Я (0xE0-0xFF / 0xC0-0xDF);
// ё/Ё 0xB8/0xA8; and the other Cyrillic letters of the code page
// (ђ/Ђ, ѓ/Ѓ, љ/Љ, њ/Њ, ќ/Ќ, ћ/Ћ, џ/Џ, ў/Ў, ј/Ј, ґ/Ґ, є/Є, ї/Ї, і/І, ѕ/Ѕ).
// Every other byte is its own upper and lower case.
//
// Collation (the order of `CompareStr` and `CompareText`). Every byte has a
// primary weight; a lower-case letter and its upper case share one. Primary
// weights ascend in this order:
//   1. every byte that is neither letter nor digit (control codes,
//      blank, punctuation, symbols), in byte order;
//   2. the digits 0-9;
//   3. the Latin letters a-z;
//   4. the Cyrillic letters а-я in alphabetical order, with the letters of
//      other Cyrillic alphabets right after the Russian letter they derive
//      from: г ѓ ґ, д ђ, е ё є, з ѕ, и і ї, й ј, к ќ, л љ, н њ, т ћ, у ў,
//      ч џ.
// Strings compare first by their primary weights (a proper prefix sorts
// first); on a tie by case, position by position, lower case before upper
// case (a < A < b < B); on a further tie by bytes. `CompareStr` is therefore
// a strict total order, 0 only for identical strings. `CompareText` stops
// after the primary weights: 0 exactly when the upper-cased strings are the
// same.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace platform {

uint8_t UpperChar(uint8_t c);
uint8_t LowerChar(uint8_t c);
bool IsLetter(uint8_t c);
std::string UpperCase(std::string_view text);
std::string LowerCase(std::string_view text);
void UpperCaseInPlace(std::string& text);

// The primary collation weight of a byte (see above).
uint8_t CollationWeight(uint8_t c);

// Locale comparison: negative, 0 or positive.
int CompareStr(std::string_view a, std::string_view b);   // case-sensitive
int CompareText(std::string_view a, std::string_view b);  // case-insensitive
// The same on NUL-terminated buffers (a null pointer is the empty text).
int CompareStrZ(const char* a, const char* b);
int CompareTextZ(const char* a, const char* b);

// The 1-based position of `sub` in `text`, 0 when it does not occur or
// `sub` is empty.
size_t TextPos(std::string_view sub, std::string_view text);

}  // namespace platform
