// Field access on the current record image: lookup by name, typed get and
// put for every field type, display and entry texts, blank records, the
// deletion flag, and memo fields through the table's memo object.
//
// Field storage in the record (the letter is descriptor byte 11):
//
//   C  text, left-aligned, blank-padded (length 16 bits)
//   N  decimal text, right-aligned, blank-padded, "." as decimal point
//   F  as N
//   D  "yyyymmdd"; 8 blanks = no date
//   L  1 character: true when one of "TtYyJj"; written "T" or "F"
//   M  memo start block as right-aligned decimal text; version 0x30: 4-byte
//      little-endian integer
//   G  as M
//   B  as M; version 0x30: 8-byte little-endian IEEE double
//   I  version 0x30: 4-byte little-endian signed integer
//   T  version 0x30: 4-byte Julian day number, 4-byte milliseconds of day
//   Y  version 0x30: 8-byte signed integer holding value x 10000
//
// In version 0x30 tables B, G, I, M, T and Y are "binary" (numbers stored as
// bytes); everything else is text. A binary field shorter than its storage
// is read zero-extended and written cut, never beyond the field.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/table/gs6_dbf.h"
#include "platform/variant.h"

class TgsExpUserLink;
class TgsDBFFields;

class GSO_dBaseFld : public GSO_dBaseDBF {
 public:
  GSO_dBaseFld(const std::string& fileName, const std::string& password, bool shared,
               bool readWrite);
  ~GSO_dBaseFld() override;

  // Opens the table and completes the field layer.
  void OpenTable() override;
  // Reads as the table does, then clears ChangedFieldMap.
  void ReadRecord(int32_t target) override;

  // Field operations, in slot order. Numbers outside 1..FieldCount give 0,
  // false or empty text; by-name variants raise "There is no field name %s"
  // for a missing name and "Field %s is the incorrect type" for a typed
  // access to a field of another type.
  virtual const uint8_t* FieldDescByName(std::string_view name);
  virtual void BlankRecord();
  virtual int32_t GetDateByName(std::string_view name);
  virtual int32_t GetDate(int32_t n);
  virtual bool PutDateByName(std::string_view name, int32_t day);
  virtual bool PutDate(int32_t n, int32_t day);
  virtual void MarkDeleted();
  virtual std::string GetFieldTextByName(std::string_view name);
  virtual std::string GetFieldText(int32_t n);
  virtual void PutFieldTextByName(std::string_view name, std::string_view text);
  virtual void PutFieldText(int32_t n, std::string_view text);
  virtual int32_t FieldDecimals(int32_t n);
  virtual int32_t FieldLength(int32_t n);
  virtual int32_t FieldOffset(int32_t n);
  virtual std::string FieldName(int32_t n);
  virtual char FieldType(int32_t n);
  virtual bool GetLogicalByName(std::string_view name);
  virtual bool GetLogical(int32_t n);
  virtual bool PutLogicalByName(std::string_view name, bool value);
  virtual bool PutLogical(int32_t n, bool value);
  virtual double GetNumberByName(std::string_view name);
  virtual double GetNumber(int32_t n);
  virtual bool PutNumberByName(std::string_view name, double value);
  virtual bool PutNumber(int32_t n, double value);
  virtual std::string GetDisplayTextByName(std::string_view name);
  virtual std::string GetDisplayText(int32_t n);
  virtual bool PutValueByName(std::string_view name, std::string_view text);
  virtual bool PutValueFromText(int32_t n, std::string_view text);
  // Builds a search record in `buffer` (at least RecordLength() bytes): the
  // record is blanked, then value i goes to the i-th name of the
  // ";"-separated list (a single value to the first name). A null value
  // stores an empty text; others are converted to text and, when the table
  // translates, from ANSI to OEM. The table's own record image is current
  // again afterwards, also when a value is refused.
  void FillRecordFromValues(char* buffer, std::string_view nameList,
                            const std::vector<platform::TVariant>& values);
  virtual void MarkUndeleted();

  // The display text of a type C field as a view into the current record
  // (the stored bytes without trailing blanks, as GetDisplayText gives
  // them) without copying; false for other types and numbers out of range.
  bool DisplayTextView(int32_t n, std::string_view& text) const;
  // The same view of field n in another image of a record of this table
  // (RecordLength() bytes), such as a row buffer the record was read into.
  bool DisplayTextViewIn(const char* record, int32_t n, std::string_view& text) const;

  // Field number of `name` (trailing blanks dropped, compared without
  // regard to case); false when there is none.
  bool FieldIndexByName(std::string_view name, int32_t& n) const;
  int32_t FieldNumber(std::string_view name) const;
  bool IsDeleted() const;
  // True for the types stored as bytes in this table's version.
  bool IsBinaryField(int32_t n) const;

  // Memo fields (types M and G, and B outside version 0x30). The memo file
  // is opened only when a memo is really read or written: a blank reference
  // reads as an empty text even when the file is missing.
  bool IsMemoField(int32_t n) const;
  GSobjMemo* MemoOf(int32_t n);
  // The start block in memo field n of the current record, 0 for none
  // (blanks or 0). A reference that is no block number (negative, beyond 32
  // bits, not decimal digits) raises "Memo record is bad in %s".
  int32_t MemoBlock(int32_t n);
  int32_t MemoSize(int32_t n);
  std::string ReadMemo(int32_t n);
  // Stores `text` as the memo of field n. An empty text leaves no memo: a
  // decimal reference becomes blanks, a binary one 0.
  void WriteMemo(int32_t n, std::string_view text);

  bool TranslateASCII() const { return translateASCII_; }
  // Also tells the expression context that the table's text is OEM.
  void SetTranslateASCII(bool on);

  // The table's expression context with its field variables and table
  // functions (none before the table is open).
  TgsExpUserLink* ExpressionLink() const { return expressionLink_.get(); }
  // The field list in field order; the entry named `name` (compared as
  // FieldIndexByName does), or none.
  const std::vector<std::unique_ptr<TgsDBFFields>>& Fields() const { return fields_; }
  TgsDBFFields* FieldObject(std::string_view name) const;

 private:
  // Number of a named field, raising when it is missing.
  int32_t FieldNumberOrRaise(std::string_view name);
  // Number of a named field whose type suits `wanted` (D, L, N or G).
  int32_t FieldNumberOfType(std::string_view name, char wanted);
  // TABLE->FIELD, and TABLE->FIELD (TEXT) for conversion messages.
  std::string FieldReference(int32_t n) const;
  std::string TrimmedText(int32_t n);
  void MarkChanged(int32_t n);
  // The field's bytes, at most `size`, zero-extended into `out`.
  void ReadBinary(int32_t n, uint8_t* out, size_t size);
  void WriteBinary(int32_t n, const uint8_t* in, size_t size);
  bool PutBinaryNumber(int32_t n, double value);
  // Text that does not fit the field raises "numeric value too big".
  std::string FormatNumber(int32_t n, double value);

  bool translateASCII_ = true;
  int32_t lastField_ = 0;
  std::unique_ptr<TgsExpUserLink> expressionLink_;
  std::vector<std::unique_ptr<TgsDBFFields>> fields_;
};
