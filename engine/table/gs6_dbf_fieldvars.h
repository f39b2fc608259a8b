// The table's fields as the expression engine sees them: the field list
// (`TgsDBFFields`, one object per field, each with its field variable) and
// the table functions RECNO(), DELETED(), BOF(), EOF(), TYPE(name),
// LEN(name) and FIELDNO(name), all registered in the table's expression
// context (`TgsExpUserLink`) when the table opens.
//
// A field is registered twice: as NAME in the field list's variable, and as
// "NAME;TABLE.NAME" in the context, so expressions may use either spelling.
// Field values by type: C raw text (untrimmed), D day number, N/F number,
// L logical, M memo text, any other letter raw text reported as "Memo".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "engine/expr/gs6_sql.h"

class GSO_dBaseFld;

class TgslDBFFieldVars : public TgsUserDefFieldVar {
 public:
  TgslDBFFieldVars(GSO_dBaseFld* table, int32_t field, std::string_view names);
  int32_t VariableKind() const override { return kTableFieldKind; }
  TgsExpValueType GetValue(TgsExpValue& value) override;
  // C fields and text-stored N and F fields, read in the current record.
  char StoredForm() const override { return storedForm_; }
  std::string_view StoredText() override;

  int32_t FieldNumber() const { return field_; }

 private:
  GSO_dBaseFld* table_;
  int32_t field_;
  char storedForm_;
  int32_t offset_;
};

// One entry of the table's field list.
class TgsDBFFields {
 public:
  TgsDBFFields(GSO_dBaseFld* table, int32_t field);

  GSO_dBaseFld* Owner() const { return table_; }
  const std::string& Name() const { return name_; }
  char Type() const { return type_; }
  int32_t Length() const { return length_; }
  int32_t Decimals() const { return decimals_; }
  int32_t Number() const { return number_; }
  int32_t Offset() const { return offset_; }
  TgslDBFFieldVars* Variable() const { return variable_.get(); }

 private:
  GSO_dBaseFld* table_;
  std::string name_;
  char type_;
  int32_t length_;
  int32_t decimals_;
  int32_t number_;
  int32_t offset_;
  std::unique_ptr<TgslDBFFieldVars> variable_;
};

// The table functions (they refer to their table; one set per table).
class TgslDBFTableFunction : public TgsUserDefFunction {
 public:
  enum class Kind { RecNo, Deleted, Bof, Eof, Type, Len, FieldNo };
  TgslDBFTableFunction(GSO_dBaseFld* table, Kind kind);
  std::string FunctionName() const override;
  TgsExpValueType Execute(TgsExpFunction& call, TgsExpValue& value) override;

 private:
  GSO_dBaseFld* table_;
  Kind kind_;
};

// Fills the table's expression context: the table functions, then every
// field under NAME;TABLE.NAME.
void RegisterTableVariables(GSO_dBaseFld* table, TgsExpUserLink& link);
