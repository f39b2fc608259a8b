// Field objects of the record-set framework: one `TField` per column of a
// dataset, converting between the field's native value and text, integers,
// floats, booleans and date-times. A field reads and writes its value only
// through its dataset (ReadFieldValue / WriteFieldValue), in the native form
// below; string and memo fields pass text through the dataset's
// TranslateText hook while `Transliterate` is on (the default).
//
// Native value forms (what ReadFieldValue / WriteFieldValue exchange):
//
//   type          bytes      form
//   ftString      Size + 1   characters, zero-terminated
//   ftSmallint    2          int16_t
//   ftInteger     4          int32_t
//   ftLargeint    8          int64_t
//   ftBoolean     2          int16_t, 0 or 1
//   ftFloat       8          double
//   ftCurrency    8          double
//   ftDate        4          int32_t date serial (days since 30 Dec 1899)
//   ftDateTime    8          double date serial with the time as fraction
//   ftMemo/ftBlob 0          nothing; contents go through CreateBlobStream
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace platform {

class TDataSet;

using TRecordBuffer = char*;

enum TFieldType {
  ftUnknown,
  ftString,
  ftSmallint,
  ftInteger,
  ftLargeint,
  ftBoolean,
  ftFloat,
  ftCurrency,
  ftDate,
  ftDateTime,
  ftMemo,
  ftBlob,
};

// Data fields come from the storage; calculated fields are computed by
// OnCalcFields and live in the buffers' calculated-fields area.
enum TFieldKind { fkData, fkCalculated };

enum TAlignment { taLeftJustify, taRightJustify, taCenter };

enum TBlobStreamMode { bmRead, bmWrite, bmReadWrite };
enum TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream (blob contents).
class TStream {
 public:
  virtual ~TStream() = default;
  virtual int32_t Read(void* buffer, int32_t count) = 0;
  virtual int32_t Write(const void* buffer, int32_t count) = 0;
  virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
  // Stores what was written; a blob field calls it before dropping the
  // stream so that failures surface as exceptions.
  virtual void Flush() {}
  int64_t Size();
};

// The name of a field type ("String", "Integer", ...).
const char* FieldTypeName(TFieldType type);
// Bytes of a native value of this type and size.
int32_t FieldDataSize(TFieldType type, int32_t size);

class TField {
 public:
  TField(std::string fieldName, TFieldType dataType, int32_t size = 0);
  virtual ~TField() = default;
  TField(const TField&) = delete;
  TField& operator=(const TField&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  const std::string& FieldName() const { return fieldName_; }
  TFieldType DataType() const { return dataType_; }
  int32_t Size() const { return size_; }
  int32_t DataSize() const { return FieldDataSize(dataType_, size_); }
  // Position of the field in the storage's record (1-based); 0 or less for
  // calculated fields.
  int32_t FieldNo() const { return fieldNo_; }
  TFieldKind FieldKind() const { return fieldKind_; }
  void SetFieldKind(TFieldKind kind) { fieldKind_ = kind; }
  bool Calculated() const { return fieldKind_ == fkCalculated; }
  // Offset of a calculated field's slot in the calculated-fields area.
  int32_t Offset() const { return offset_; }
  // Position in the dataset's field list.
  int32_t Index() const { return index_; }

  const std::string& DisplayLabel() const {
    return displayLabel_.empty() ? fieldName_ : displayLabel_;
  }
  void SetDisplayLabel(const std::string& value) { displayLabel_ = value; }
  int32_t DisplayWidth() const;
  void SetDisplayWidth(int32_t value) { displayWidth_ = value; }
  bool Visible() const { return visible_; }
  void SetVisible(bool value) { visible_ = value; }
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool value) { readOnly_ = value; }
  bool Required() const { return required_; }
  void SetRequired(bool value) { required_ = value; }
  virtual TAlignment Alignment() const { return taLeftJustify; }
  // Whether text goes through the dataset's TranslateText (string and memo
  // fields; on by default).
  bool Transliterate() const { return transliterate_; }
  void SetTransliterate(bool value) { transliterate_ = value; }

  // Raw access: the native value (see the table above) of the record the
  // dataset's state selects. GetData returns whether there is a value.
  bool GetData(void* buffer) const;
  void SetData(const void* buffer);

  // Conversions. A null value reads as "", 0, 0.0, false.
  bool IsNull() const;
  void Clear() { SetData(nullptr); }
  virtual std::string AsString() const = 0;
  virtual void SetAsString(std::string_view value) = 0;
  virtual int64_t AsLargeInt() const;
  virtual void SetAsLargeInt(int64_t value);
  int32_t AsInteger() const { return static_cast<int32_t>(AsLargeInt()); }
  void SetAsInteger(int32_t value) { SetAsLargeInt(value); }
  virtual double AsFloat() const;
  virtual void SetAsFloat(double value);
  virtual bool AsBoolean() const;
  virtual void SetAsBoolean(bool value);
  virtual double AsDateTime() const;
  virtual void SetAsDateTime(double value);
  // The text shown for the value (empty for null).
  virtual std::string DisplayText() const { return AsString(); }
  // DisplayText into `out`, reusing its storage: for callers reading many
  // records in a row.
  virtual void ReadDisplayText(std::string& out) const { out = DisplayText(); }

  // Runs OnValidate for a value about to be stored (native form or null).
  void Validate(const void* buffer);
  std::function<void(TField&, const void* buffer)> OnValidate;

 protected:
  // A string field's text as its dataset's FieldTextView gives it, cut as
  // the native form is (at Size() characters and at a zero byte); false
  // when the dataset gives no view.
  bool TextView(std::string_view& text) const;

 private:
  friend class TDataSet;

  TDataSet* dataSet_ = nullptr;
  std::string fieldName_;
  TFieldType dataType_;
  int32_t size_;
  int32_t fieldNo_ = 0;
  TFieldKind fieldKind_ = fkData;
  int32_t offset_ = 0;
  int32_t index_ = -1;
  std::string displayLabel_;
  int32_t displayWidth_ = 0;
  bool visible_ = true;
  bool readOnly_ = false;
  bool required_ = false;
  bool transliterate_ = true;
};

class TStringField : public TField {
 public:
  explicit TStringField(std::string fieldName, int32_t size = 20);
  std::string AsString() const override;
  void ReadDisplayText(std::string& out) const override;
  void SetAsString(std::string_view value) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() const override;
  void SetAsFloat(double value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
  double AsDateTime() const override;
  void SetAsDateTime(double value) override;
};

// Smallint, integer and large-integer fields (2, 4 or 8 bytes).
class TIntegerField : public TField {
 public:
  explicit TIntegerField(std::string fieldName) : TIntegerField(std::move(fieldName), ftInteger) {}
  TAlignment Alignment() const override { return taRightJustify; }
  std::string AsString() const override;
  void ReadDisplayText(std::string& out) const override;
  void SetAsString(std::string_view value) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override;
  double AsFloat() const override { return static_cast<double>(AsLargeInt()); }
  void SetAsFloat(double value) override;
  int64_t MinValue() const;
  int64_t MaxValue() const;

 protected:
  TIntegerField(std::string fieldName, TFieldType type);
};

class TSmallintField : public TIntegerField {
 public:
  explicit TSmallintField(std::string fieldName) : TIntegerField(std::move(fieldName), ftSmallint) {}
};

class TLargeintField : public TIntegerField {
 public:
  explicit TLargeintField(std::string fieldName) : TIntegerField(std::move(fieldName), ftLargeint) {}
};

class TFloatField : public TField {
 public:
  explicit TFloatField(std::string fieldName) : TFloatField(std::move(fieldName), ftFloat) {}
  TAlignment Alignment() const override { return taRightJustify; }
  std::string AsString() const override;
  void SetAsString(std::string_view value) override;
  int64_t AsLargeInt() const override;
  void SetAsLargeInt(int64_t value) override { SetAsFloat(static_cast<double>(value)); }
  double AsFloat() const override;
  void SetAsFloat(double value) override;

 protected:
  TFloatField(std::string fieldName, TFieldType type);
};

// A float shown with two decimals.
class TCurrencyField : public TFloatField {
 public:
  explicit TCurrencyField(std::string fieldName) : TFloatField(std::move(fieldName), ftCurrency) {}
  std::string DisplayText() const override;
};

class TBooleanField : public TField {
 public:
  explicit TBooleanField(std::string fieldName) : TField(std::move(fieldName), ftBoolean) {}
  std::string AsString() const override;  // "True" / "False" / ""
  void SetAsString(std::string_view value) override;
  bool AsBoolean() const override;
  void SetAsBoolean(bool value) override;
};

// Date-time fields; the date field keeps whole days only.
class TDateTimeField : public TField {
 public:
  explicit TDateTimeField(std::string fieldName) : TDateTimeField(std::move(fieldName), ftDateTime) {}
  std::string AsString() const override;
  void SetAsString(std::string_view value) override;
  double AsFloat() const override { return AsDateTime(); }
  void SetAsFloat(double value) override { SetAsDateTime(value); }
  double AsDateTime() const override;
  void SetAsDateTime(double value) override;

 protected:
  TDateTimeField(std::string fieldName, TFieldType type);
};

class TDateField : public TDateTimeField {
 public:
  explicit TDateField(std::string fieldName) : TDateTimeField(std::move(fieldName), ftDate) {}
};

// Blob and memo fields: contents through the dataset's blob stream. The
// stream does any translation (a memo field's Transliterate tells it to).
class TBlobField : public TField {
 public:
  explicit TBlobField(std::string fieldName) : TBlobField(std::move(fieldName), ftBlob) {}
  std::string AsString() const override;
  void SetAsString(std::string_view value) override;
  std::string DisplayText() const override;  // "(BLOB)" or "(blob)" when empty

 protected:
  TBlobField(std::string fieldName, TFieldType type);
};

class TMemoField : public TBlobField {
 public:
  explicit TMemoField(std::string fieldName) : TBlobField(std::move(fieldName), ftMemo) {}
  std::string DisplayText() const override;  // "(MEMO)" or "(memo)" when empty
};

// A field object of the class for `type`.
std::unique_ptr<TField> CreateFieldObject(const std::string& name, TFieldType type, int32_t size);

}  // namespace platform
