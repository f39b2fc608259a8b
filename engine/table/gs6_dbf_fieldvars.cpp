// Field list, field variables and table functions (see gs6_dbf_fieldvars.h).
#include "engine/table/gs6_dbf_fieldvars.h"

#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_dbf_field.h"
#include "platform/ansi.h"

TgslDBFFieldVars::TgslDBFFieldVars(GSO_dBaseFld* table, int32_t field, std::string_view names)
    : TgsUserDefFieldVar(names, table->FieldLength(field)),
      table_(table),
      field_(field),
      offset_(table->FieldOffset(field)) {
  const char type = table->FieldType(field);
  storedForm_ = type == 'C' ? 'C' : ((type == 'N' || type == 'F') && !table->IsBinaryField(field)) ? 'N' : 0;
}

// The field's bytes in the current record, as GetFieldText copies them.
std::string_view TgslDBFFieldVars::StoredText() {
  const char* record = table_->CurrentRecord();
  return record ? std::string_view(record + offset_, static_cast<size_t>(length_)) : std::string_view();
}

TgsExpValueType TgslDBFFieldVars::GetValue(TgsExpValue& value) {
  switch (table_->FieldType(field_)) {
    case 'C':
      value.SetText(table_->GetFieldText(field_));
      return TgsExpValueType::Text;
    case 'D':
      value.SetDouble(table_->GetDate(field_));
      return TgsExpValueType::Date;
    case 'F':
    case 'N':
      value.SetDouble(table_->GetNumber(field_));
      return TgsExpValueType::Number;
    case 'L':
      value.SetBoolean(table_->GetLogical(field_));
      return TgsExpValueType::Boolean;
    case 'M':
      value.SetText(table_->ReadMemo(field_));
      return TgsExpValueType::Text;
    default:
      value.SetText(table_->GetFieldText(field_));
      return TgsExpValueType::Memo;
  }
}

TgsDBFFields::TgsDBFFields(GSO_dBaseFld* table, int32_t field)
    : table_(table),
      name_(table->FieldName(field)),
      type_(table->FieldType(field)),
      length_(table->FieldLength(field)),
      decimals_(table->FieldDecimals(field)),
      number_(field),
      offset_(table->FieldOffset(field)),
      variable_(std::make_unique<TgslDBFFieldVars>(table, field, name_)) {}

TgslDBFTableFunction::TgslDBFTableFunction(GSO_dBaseFld* table, Kind kind) : table_(table), kind_(kind) {}

std::string TgslDBFTableFunction::FunctionName() const {
  switch (kind_) {
    case Kind::RecNo:
      return "RECNO";
    case Kind::Deleted:
      return "DELETED";
    case Kind::Bof:
      return "BOF";
    case Kind::Eof:
      return "EOF";
    case Kind::Type:
      return "TYPE";
    case Kind::Len:
      return "LEN";
    case Kind::FieldNo:
      break;
  }
  return "FIELDNO";
}

TgsExpValueType TgslDBFTableFunction::Execute(TgsExpFunction& call, TgsExpValue& value) {
  switch (kind_) {
    case Kind::RecNo:
      value.SetDouble(table_->RecNumber());
      return TgsExpValueType::Number;
    case Kind::Deleted:
      value.SetBoolean(table_->IsDeleted());
      return TgsExpValueType::Boolean;
    case Kind::Bof:
      value.SetBoolean(table_->Bof());
      return TgsExpValueType::Boolean;
    case Kind::Eof:
      value.SetBoolean(table_->Eof());
      return TgsExpValueType::Boolean;
    default:
      break;
  }
  call.GetArgument(0, value, TgsExpValueType::Text);
  std::string name = platform::UpperCase(value.AsText());
  int32_t field = table_->FieldNumber(name);
  if (kind_ == Kind::FieldNo) {
    value.SetDouble(field);
    return TgsExpValueType::Number;
  }
  if (field == 0) RaiseError(Msg::NoFieldName, table_->FileName() + "->" + name);
  if (kind_ == Kind::Type) {
    value.SetText(std::string(1, table_->FieldType(field)));
    return TgsExpValueType::Text;
  }
  value.SetDouble(table_->FieldLength(field));
  return TgsExpValueType::Number;
}

void RegisterTableVariables(GSO_dBaseFld* table, TgsExpUserLink& link) {
  using Kind = TgslDBFTableFunction::Kind;
  for (Kind kind : {Kind::RecNo, Kind::Deleted, Kind::Bof, Kind::Eof, Kind::Type, Kind::Len, Kind::FieldNo})
    link.AddFunction(std::make_unique<TgslDBFTableFunction>(table, kind));
  for (int32_t n = 1; n <= table->FieldCount(); ++n) {
    std::string name = table->FieldName(n);
    link.AddVariable(
        std::make_unique<TgslDBFFieldVars>(table, n, name + ";" + table->TableName() + "." + name));
  }
}
