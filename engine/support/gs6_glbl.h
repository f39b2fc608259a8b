// Engine-wide failures and the message table, the code-page translation
// tables and the process-wide settings.
//
// Every engine failure is an exception carrying one entry of the message
// table with its placeholders filled. The texts live only in gs6_glbl.cpp;
// callers name an entry by its `Msg` value and pass the arguments:
//
//   RaiseError(Msg::FileNotFound, fullPath);            // EDeridarError
//   Raise<EDeridarExpression>(Msg::MissingClosingParen);
//
// Placeholders are `%s` (any argument, printed as text) and `%d` (an integer
// argument, printed in decimal); arguments are used in order.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// Base of the engine's exception classes.
class EDeridarBase : public std::runtime_error {
 public:
  explicit EDeridarBase(const std::string& message) : std::runtime_error(message) {}
};

// Every engine failure not listed below.
class EDeridarError : public EDeridarBase {
 public:
  using EDeridarBase::EDeridarBase;
};

// Password problems at table open.
class EDeridarEncryption : public EDeridarBase {
 public:
  using EDeridarBase::EDeridarBase;
};

// Expression parse and evaluation errors, including argument errors of the
// built-in functions.
class EDeridarExpression : public EDeridarBase {
 public:
  using EDeridarBase::EDeridarBase;
};

// The 61 entries of the message table, in table order.
enum class Msg : int {
  // Fields and records
  InvalidDate,              // "Invalid date in field %s"
  NoFieldName,              // "There is no field name %s"
  InvalidFieldValue,        // "Invalid %s value for field %s"
  FieldIncorrectType,       // "Field %s is the incorrect type"
  MemoRecordBad,            // "Memo record is bad in %s"
  RecordNotInTable,         // "Record number %d is not in table %s"
  TableHeaderInvalid,       // "Table Header for %s is invalid"
  // Indexes
  IndexCorrupted,           // "Index file %s is corrupted"
  IndexTagNotFound,         // "Cannot find index tag %s"
  IndexLockFailed,          // "Could not lock indexes for Table %s"
  // Passwords
  PasswordForUnencrypted,   // "A Password is included for unencrypted file %s"
  NoPassword,               // "No Password for encrypted file %s"
  InvalidPassword,          // "Invalid Password for encrypted file %s"
  // Expressions and values
  ValueRequired,            // "A value is required for %s"
  ArgumentsSameType,        // "All arguments for %s must be of the same type"
  UnknownFieldVariable,     // "Field/variable %s is unknown"
  CannotEvaluate,           // "Expression cannot be evaluated"
  MissingClosingParen,      // "Missing closing parentheses"
  MissingClosingPeriod,     // "Missing closing period"
  MissingClosingQuote,      // "Missing closing \"%s\" on literal"
  ExpectingLogical,         // "Expecting \".T.\" or \".F.\""
  SyntaxError,              // "Syntax Error in expression \"%s\""
  VariantNotForAppend,      // "Variant type is not valid for append"
  VariantCompareMismatch,   // "Variant types mismatch for compare"
  VariantNotSortable,       // "Variant type cannot be sorted"
  SortKeyLength,            // "Sort key length must be 1-%d bytes, is %d"
  SortKeyAfterRetrieval,    // "Cannot add sort keys after beginning retrieval"
  // Numbers
  InvalidNumeric,           // "Invalid numeric value in field %s"
  NumericTooBig,            // "numeric value too big in field %s"
  // Files
  FileNotFound,             // "File %s could not be found"
  ReadError,                // "Error on Read of file %s"
  CloseError,               // "Error in Close of file %s"
  RenameError,              // "Error on Rename of file %s"
  AccessDenied,             // "Access denied to file %s"
  CreateError,              // "Could not create file %s"
  RequiresFullAccess,       // "%s requires full access to file %s"
  TruncateError,            // "Error in Truncate of file %s"
  UnlockError,              // "Error in Unlock of file %s"
  WriteError,               // "Error writing to %s"
  // Functions
  NoFunction,               // "There is no function for %s"
  ArgumentNeeded,           // "%s needed for Argument %d of %s"
  ArgumentMustBe,           // "Argument for %s must be %s"
  TargetValueMissing,       // "Target value missing for %s operation"
  SidesDoNotMatch,          // "The two sides of an operation do not match"
  ValueRequiredInvalid,     // "A %s value is required but invalid"
  ErrorGetting,             // "Error getting %s"
  // Tables and the dataset
  IndexAlreadyOpen,         // "Index file %s already open"
  RecordBeyondRange,        // "Record request beyond range of table"
  CannotDelete,             // "Cannot delete the record"
  CannotRecall,             // "Cannot recall the record"
  BookmarkInvalid,          // "Bookmark is invalid for table " (table name appended)
  RecordLocked,             // "Record is locked by another user"
  BusyIndexing,             // "Table is busy building an index"
  BusyCopying,              // "Table is busy copying"
  FilterNotBoolean,         // "Filter expression must return boolean result"
  NotEditing,               // "Dataset not in edit or insert mode"
  MasterNoIndex,            // "Master/Detail relation failed, no index open for %s"
  MasterFieldMismatch,      // "Master/Detail relation failed, field missmatch for %s"
  // Files, continued
  FileSizeError,            // "Error getting FileSize for file %s"
  FlushError,               // "Error on Flush for file %s"
  CannotLockFile,           // "Can not Lock file %s"
  Count_
};

constexpr int kMessageCount = static_cast<int>(Msg::Count_);

// The format string of a message-table entry.
const char* MessageText(Msg id);

// One argument of a message: text or an integer.
struct MsgArg {
  std::string text;
  bool isInt = false;
  int64_t number = 0;
  MsgArg(std::string_view s) : text(s) {}
  MsgArg(const std::string& s) : text(s) {}
  MsgArg(const char* s) : text(s ? s : "") {}
  template <class T, std::enable_if_t<std::is_integral_v<T>, int> = 0>
  MsgArg(T v) : isInt(true), number(static_cast<int64_t>(v)) {}
};

// The entry's text with its placeholders filled by `args` in order.
std::string FormatMessage(Msg id, const std::vector<MsgArg>& args = {});

template <class E = EDeridarError, class... A>
[[noreturn]] void Raise(Msg id, A&&... args) {
  throw E(FormatMessage(id, std::vector<MsgArg>{MsgArg(std::forward<A>(args))...}));
}

template <class... A>
[[noreturn]] void RaiseError(Msg id, A&&... args) {
  Raise<EDeridarError>(id, std::forward<A>(args)...);
}

// --- Code-page translation -------------------------------------------------
// Two 256-byte tables translate text between the ANSI code page of the screen
// (1251) and the OEM code page of the files (866). They are built once, on
// first use, from the platform's byte conversion and completed so that every
// byte survives the round trip ANSI -> OEM -> ANSI (see BuildTranslationTables).

using TgsByteTable = std::array<uint8_t, 256>;

struct TgsTranslationTables {
  TgsByteTable toOem;   // ANSI -> OEM (direction 1, toward the file)
  TgsByteTable toAnsi;  // OEM -> ANSI (direction 0, toward the screen)
};

// Builds both tables from a seed conversion of single bytes:
//  1. for c = 33..255: A(c) = ansiToOem(c), R(c) = oemToAnsi(A(c));
//  2. A(c) is freed (0) where R(c) != c or R(c) < 33;
//  3. a free A(c) becomes c when no A value equals c yet;
//  4. a still free A(c) becomes the smallest code from 33 up that no A value
//     equals yet;
//  5. bytes 0..32 map to themselves both ways; the OEM table maps code c
//     (33..255) to the smallest x with A(x) = c, or to c when there is none.
TgsTranslationTables BuildTranslationTables(uint8_t (*ansiToOem)(uint8_t),
                                            uint8_t (*oemToAnsi)(uint8_t));

// The process-wide tables, seeded from the fixed 1251/866 conversions.
const TgsTranslationTables& TranslationTables();

std::string TranslateToOem(std::string_view text);
std::string TranslateToAnsi(std::string_view text);
// Raw buffers: `count` bytes from `source` to `dest` (they may be the same).
void TranslateToOem(const char* source, char* dest, size_t count);
void TranslateToAnsi(const char* source, char* dest, size_t count);

// --- Settings --------------------------------------------------------------
// The system directory where the optional configuration file lives.
std::string WindowsDirectory();
