// The message table and its formatter, the code-page translation tables and
// the process-wide settings.
#include "engine/support/gs6_glbl.h"

#include "platform/codepage.h"
#include "platform/hot.h"
#include "platform/system.h"

namespace {

constexpr const char* kMessages[kMessageCount] = {
    "Invalid date in field %s",
    "There is no field name %s",
    "Invalid %s value for field %s",
    "Field %s is the incorrect type",
    "Memo record is bad in %s",
    "Record number %d is not in table %s",
    "Table Header for %s is invalid",
    "Index file %s is corrupted",
    "Cannot find index tag %s",
    "Could not lock indexes for Table %s",
    "A Password is included for unencrypted file %s",
    "No Password for encrypted file %s",
    "Invalid Password for encrypted file %s",
    "A value is required for %s",
    "All arguments for %s must be of the same type",
    "Field/variable %s is unknown",
    "Expression cannot be evaluated",
    "Missing closing parentheses",
    "Missing closing period",
    "Missing closing \"%s\" on literal",
    "Expecting \".T.\" or \".F.\"",
    "Syntax Error in expression \"%s\"",
    "Variant type is not valid for append",
    "Variant types mismatch for compare",
    "Variant type cannot be sorted",
    "Sort key length must be 1-%d bytes, is %d",
    "Cannot add sort keys after beginning retrieval",
    "Invalid numeric value in field %s",
    "numeric value too big in field %s",
    "File %s could not be found",
    "Error on Read of file %s",
    "Error in Close of file %s",
    "Error on Rename of file %s",
    "Access denied to file %s",
    "Could not create file %s",
    "%s requires full access to file %s",
    "Error in Truncate of file %s",
    "Error in Unlock of file %s",
    "Error writing to %s",
    "There is no function for %s",
    "%s needed for Argument %d of %s",
    "Argument for %s must be %s",
    "Target value missing for %s operation",
    "The two sides of an operation do not match",
    "A %s value is required but invalid",
    "Error getting %s",
    "Index file %s already open",
    "Record request beyond range of table",
    "Cannot delete the record",
    "Cannot recall the record",
    "Bookmark is invalid for table ",
    "Record is locked by another user",
    "Table is busy building an index",
    "Table is busy copying",
    "Filter expression must return boolean result",
    "Dataset not in edit or insert mode",
    "Master/Detail relation failed, no index open for %s",
    "Master/Detail relation failed, field missmatch for %s",
    "Error getting FileSize for file %s",
    "Error on Flush for file %s",
    "Can not Lock file %s",
};

}  // namespace

const char* MessageText(Msg id) {
  int i = static_cast<int>(id);
  return (i >= 0 && i < kMessageCount) ? kMessages[i] : "";
}

std::string FormatMessage(Msg id, const std::vector<MsgArg>& args) {
  std::string out;
  size_t next = 0;
  for (const char* p = MessageText(id); *p; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'd')) {
      if (next < args.size()) {
        const MsgArg& a = args[next++];
        out += a.isInt ? std::to_string(a.number) : a.text;
      }
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

// --- Code-page translation -------------------------------------------------

TgsTranslationTables BuildTranslationTables(uint8_t (*ansiToOem)(uint8_t),
                                            uint8_t (*oemToAnsi)(uint8_t)) {
  std::array<int, 256> a{};  // A(c) for c = 33..255; 0 = free
  std::array<bool, 256> used{};  // some A value equals this code
  for (int c = 33; c < 256; ++c) {
    uint8_t oem = ansiToOem(static_cast<uint8_t>(c));
    uint8_t back = oemToAnsi(oem);
    // A code below 33 is freed too: bytes 0..32 translate to themselves, so
    // such a code could never come back.
    a[c] = (back != c || back < 33 || oem < 33) ? 0 : oem;
  }
  for (int c = 33; c < 256; ++c)
    if (a[c] != 0) used[a[c]] = true;
  for (int c = 33; c < 256; ++c) {
    if (a[c] == 0 && !used[c]) {
      a[c] = c;
      used[c] = true;
    }
  }
  int nextFree = 33;
  for (int c = 33; c < 256; ++c) {
    if (a[c] != 0) continue;
    while (nextFree < 256 && used[nextFree]) ++nextFree;
    // 223 bytes compete for the 223 codes 33..255, so one is always left.
    a[c] = nextFree;
    used[nextFree] = true;
  }

  TgsTranslationTables t;
  for (int c = 0; c < 256; ++c) {
    t.toOem[c] = static_cast<uint8_t>(c);
    t.toAnsi[c] = static_cast<uint8_t>(c);
  }
  for (int c = 33; c < 256; ++c) t.toOem[c] = static_cast<uint8_t>(a[c]);
  std::array<bool, 256> mapped{};
  for (int x = 33; x < 256; ++x) {
    if (!mapped[a[x]]) {
      t.toAnsi[a[x]] = static_cast<uint8_t>(x);
      mapped[a[x]] = true;
    }
  }
  return t;
}

namespace {
uint8_t SeedToOem(uint8_t c) {
  return platform::ConvertByte(c, platform::CodePage::Cp1251, platform::CodePage::Cp866);
}
uint8_t SeedToAnsi(uint8_t c) {
  return platform::ConvertByte(c, platform::CodePage::Cp866, platform::CodePage::Cp1251);
}
}  // namespace

DERIDAR_ROW_PATH const TgsTranslationTables& TranslationTables() {
  static const TgsTranslationTables tables = BuildTranslationTables(SeedToOem, SeedToAnsi);
  return tables;
}

namespace {
DERIDAR_ROW_PATH void MapBytes(const TgsByteTable& table, const char* source, char* dest,
                               size_t count) {
  // Four bytes a turn: field texts are short and translated on every read.
  size_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const uint8_t b0 = table[static_cast<uint8_t>(source[i])];
    const uint8_t b1 = table[static_cast<uint8_t>(source[i + 1])];
    const uint8_t b2 = table[static_cast<uint8_t>(source[i + 2])];
    const uint8_t b3 = table[static_cast<uint8_t>(source[i + 3])];
    dest[i] = static_cast<char>(b0);
    dest[i + 1] = static_cast<char>(b1);
    dest[i + 2] = static_cast<char>(b2);
    dest[i + 3] = static_cast<char>(b3);
  }
  for (; i < count; ++i) dest[i] = static_cast<char>(table[static_cast<uint8_t>(source[i])]);
}
}  // namespace

std::string TranslateToOem(std::string_view text) {
  std::string out(text.size(), '\0');
  MapBytes(TranslationTables().toOem, text.data(), out.data(), text.size());
  return out;
}

std::string TranslateToAnsi(std::string_view text) {
  std::string out(text.size(), '\0');
  MapBytes(TranslationTables().toAnsi, text.data(), out.data(), text.size());
  return out;
}

DERIDAR_ROW_PATH void TranslateToOem(const char* source, char* dest, size_t count) {
  MapBytes(TranslationTables().toOem, source, dest, count);
}

DERIDAR_ROW_PATH void TranslateToAnsi(const char* source, char* dest, size_t count) {
  MapBytes(TranslationTables().toAnsi, source, dest, count);
}

// --- Settings --------------------------------------------------------------

std::string WindowsDirectory() { return platform::WindowsDirectory(); }
