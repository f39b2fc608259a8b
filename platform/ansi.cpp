// Case mapping and collation of code page 1251 under the Russian locale,
// from fixed tables built once on first use.
#include "platform/ansi.h"

#include <array>
#include <cstring>
#include <vector>

namespace platform {
namespace {

// Upper/lower pairs beyond a-z and а-я.
constexpr uint8_t kExtraPairs[][2] = {
    {0xA8, 0xB8},  // Ё ё
    {0x80, 0x90},  // Ђ ђ
    {0x81, 0x83},  // Ѓ ѓ
    {0x8A, 0x9A},  // Љ љ
    {0x8C, 0x9C},  // Њ њ
    {0x8D, 0x9D},  // Ќ ќ
    {0x8E, 0x9E},  // Ћ ћ
    {0x8F, 0x9F},  // Џ џ
    {0xA1, 0xA2},  // Ў ў
    {0xA3, 0xBC},  // Ј ј
    {0xA5, 0xB4},  // Ґ ґ
    {0xAA, 0xBA},  // Є є
    {0xAF, 0xBF},  // Ї ї
    {0xB2, 0xB3},  // І і
    {0xBD, 0xBE},  // Ѕ ѕ
};

// Cyrillic letters of other alphabets placed after a Russian letter
// (lower-case bytes): { after, letter }.
constexpr uint8_t kCyrillicAfter[][2] = {
    {0xE3, 0x83},  // г ѓ
    {0x83, 0xB4},  // ѓ ґ
    {0xE4, 0x90},  // д ђ
    {0xE5, 0xB8},  // е ё
    {0xB8, 0xBA},  // ё є
    {0xE7, 0xBE},  // з ѕ
    {0xE8, 0xB3},  // и і
    {0xB3, 0xBF},  // і ї
    {0xE9, 0xBC},  // й ј
    {0xEA, 0x9D},  // к ќ
    {0xEB, 0x9A},  // л љ
    {0xED, 0x9C},  // н њ
    {0xF2, 0x9E},  // т ћ
    {0xF3, 0xA2},  // у ў
    {0xF7, 0x9F},  // ч џ
};

struct Tables {
  std::array<uint8_t, 256> upper{};
  std::array<uint8_t, 256> lower{};
  std::array<uint8_t, 256> weight{};
  std::array<bool, 256> letter{};

  Tables() {
    for (int c = 0; c < 256; ++c) upper[c] = lower[c] = static_cast<uint8_t>(c);
    auto pair = [this](int up, int low) {
      upper[low] = static_cast<uint8_t>(up);
      lower[up] = static_cast<uint8_t>(low);
      letter[up] = letter[low] = true;
    };
    for (int c = 'a'; c <= 'z'; ++c) pair(c - 32, c);
    for (int c = 0xE0; c <= 0xFF; ++c) pair(c - 32, c);
    for (const auto& p : kExtraPairs) pair(p[0], p[1]);

    // Lower-case letters in collation order.
    std::vector<uint8_t> letters;
    for (int c = 'a'; c <= 'z'; ++c) letters.push_back(static_cast<uint8_t>(c));
    for (int c = 0xE0; c <= 0xFF; ++c) {
      letters.push_back(static_cast<uint8_t>(c));
      // Follow the chain of letters placed after this one.
      for (uint8_t last = static_cast<uint8_t>(c);;) {
        bool found = false;
        for (const auto& a : kCyrillicAfter) {
          if (a[0] == last) {
            letters.push_back(a[1]);
            last = a[1];
            found = true;
            break;
          }
        }
        if (!found) break;
      }
    }

    uint8_t w = 0;
    for (int c = 0; c < 256; ++c)
      if (!letter[c] && !(c >= '0' && c <= '9')) weight[c] = w++;
    for (int c = '0'; c <= '9'; ++c) weight[c] = w++;
    for (uint8_t low : letters) {
      weight[low] = weight[upper[low]] = w++;
    }
  }
};

const Tables& T() {
  static const Tables tables;
  return tables;
}

int Sign(int v) { return (v > 0) - (v < 0); }

// Compares by primary weights; 0 when equal over both full lengths.
int ComparePrimary(std::string_view a, std::string_view b) {
  const Tables& t = T();
  size_t n = a.size() < b.size() ? a.size() : b.size();
  for (size_t i = 0; i < n; ++i) {
    int d = t.weight[static_cast<uint8_t>(a[i])] - t.weight[static_cast<uint8_t>(b[i])];
    if (d != 0) return Sign(d);
  }
  return a.size() < b.size() ? -1 : a.size() > b.size() ? 1 : 0;
}

std::string_view ViewZ(const char* p) { return p ? std::string_view(p, std::strlen(p)) : std::string_view(); }

}  // namespace

uint8_t UpperChar(uint8_t c) { return T().upper[c]; }
uint8_t LowerChar(uint8_t c) { return T().lower[c]; }
bool IsLetter(uint8_t c) { return T().letter[c]; }
uint8_t CollationWeight(uint8_t c) { return T().weight[c]; }

std::string UpperCase(std::string_view text) {
  std::string out(text);
  UpperCaseInPlace(out);
  return out;
}

void UpperCaseInPlace(std::string& text) {
  const Tables& t = T();
  for (char& ch : text) ch = static_cast<char>(t.upper[static_cast<uint8_t>(ch)]);
}

std::string LowerCase(std::string_view text) {
  const Tables& t = T();
  std::string out(text);
  for (char& ch : out) ch = static_cast<char>(t.lower[static_cast<uint8_t>(ch)]);
  return out;
}

int CompareStr(std::string_view a, std::string_view b) {
  int r = ComparePrimary(a, b);
  if (r != 0) return r;
  // Same letters, same length: lower case before upper case, then bytes.
  const Tables& t = T();
  for (size_t i = 0; i < a.size(); ++i) {
    uint8_t x = static_cast<uint8_t>(a[i]), y = static_cast<uint8_t>(b[i]);
    bool xUpper = t.letter[x] && t.upper[x] == x;
    bool yUpper = t.letter[y] && t.upper[y] == y;
    if (xUpper != yUpper) return xUpper ? 1 : -1;
  }
  for (size_t i = 0; i < a.size(); ++i) {
    int d = static_cast<uint8_t>(a[i]) - static_cast<uint8_t>(b[i]);
    if (d != 0) return Sign(d);
  }
  return 0;
}

int CompareText(std::string_view a, std::string_view b) { return ComparePrimary(a, b); }

int CompareStrZ(const char* a, const char* b) { return CompareStr(ViewZ(a), ViewZ(b)); }
int CompareTextZ(const char* a, const char* b) { return CompareText(ViewZ(a), ViewZ(b)); }

size_t TextPos(std::string_view sub, std::string_view text) {
  if (sub.empty()) return 0;
  size_t p = text.find(sub);
  return p == std::string_view::npos ? 0 : p + 1;
}

}  // namespace platform
