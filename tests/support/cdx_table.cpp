// Index test table; see cdx_table.h.
#include "cdx_table.h"

#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "engine/support/gs6_date.h"

namespace {

// A table field as an expression variable, read from the current record.
class RecordFieldVar : public TgsUserDefFieldVar {
 public:
  RecordFieldVar(GSO_dBaseDBF* table, std::string_view name, char type, int offset, int length)
      : TgsUserDefFieldVar(name, length), table_(table), type_(type), offset_(offset) {}

  int32_t VariableKind() const override { return kTableFieldKind; }

  TgsExpValueType GetValue(TgsExpValue& value) override {
    std::string_view text(table_->CurrentRecord() + offset_, static_cast<size_t>(length_));
    switch (type_) {
      case 'N':
      case 'F': {
        std::string s(text);
        value.SetDouble(std::strtod(s.c_str(), nullptr));
        return TgsExpValueType::Number;
      }
      case 'D': {
        int32_t day = DBFDate().TextToDay(text);
        value.SetDouble(day == 0 ? BlankDate : day);
        return TgsExpValueType::Date;
      }
      case 'L':
        value.SetBoolean(!text.empty() && std::strchr("TtYyJj", text[0]) && text[0] != 0);
        return TgsExpValueType::Boolean;
      default:
        value.SetText(text);
        return TgsExpValueType::Text;
    }
  }

 private:
  GSO_dBaseDBF* table_;
  char type_;
  int offset_;
};

}  // namespace

IndexTestTable::IndexTestTable(const std::string& path, bool shared)
    : table_(std::make_unique<GSO_dBaseDBF>(path, "", shared, true)) {
  table_->OpenTable();
  int offset = 1;
  for (int32_t n = 1; n <= table_->FieldCount(); ++n) {
    const uint8_t* d = table_->FieldDescriptor(n);
    std::string name(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
    const int length = table_->DescriptorLength(n);
    const char type = static_cast<char>(d[11]);
    fields_.push_back({name, type, offset, length});
    link_.AddVariable(std::make_unique<RecordFieldVar>(table_.get(), name, type, offset, length));
    offset += length;
  }
}

IndexTestTable::~IndexTestTable() = default;

const IndexTestTable::FieldSlot& IndexTestTable::Slot(std::string_view name) const {
  for (const FieldSlot& f : fields_)
    if (f.name == name) return f;
  throw std::invalid_argument("no field " + std::string(name));
}

void IndexTestTable::Read(TRecNo n) { table_->ReadRecord(n); }

std::string IndexTestTable::Field(std::string_view name) const {
  const FieldSlot& f = Slot(name);
  return std::string(table_->CurrentRecord() + f.offset, static_cast<size_t>(f.length));
}

void IndexTestTable::SetField(std::string_view name, std::string_view text) {
  const FieldSlot& f = Slot(name);
  std::string value(text.substr(0, static_cast<size_t>(f.length)));
  std::string padded(static_cast<size_t>(f.length), ' ');
  if (f.type == 'N' || f.type == 'F')
    padded.replace(padded.size() - value.size(), value.size(), value);
  else
    padded.replace(0, value.size(), value);
  std::memcpy(table_->CurrentRecord() + f.offset, padded.data(), padded.size());
}

void IndexTestTable::Blank() {
  std::memset(table_->CurrentRecord(), ' ', static_cast<size_t>(table_->RecordLength()));
}

void IndexTestTable::Write(TRecNo n, const std::vector<GSobjIndexFile*>& indexes) {
  table_->SetRecordChanged(true);
  for (GSobjIndexFile* f : indexes) f->UpdateKeys(n, false);
  table_->WriteRecord(n);
}

void IndexTestTable::Append(const std::vector<GSobjIndexFile*>& indexes) {
  table_->AppendRecord();
  table_->SetRecordChanged(true);
  for (GSobjIndexFile* f : indexes) f->UpdateKeys(table_->RecordCount(), true);
  table_->SetRecordChanged(false);
}
