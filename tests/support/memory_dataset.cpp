// The in-memory record set for framework and grid-model tests.
#include "support/memory_dataset.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"
#include "platform/locale.h"

using namespace platform;

namespace {

constexpr int32_t kTailSize = 5;  // row id + bookmark flag

int32_t ReadInt32(const char* p) {
  int32_t v;
  std::memcpy(&v, p, 4);
  return v;
}

void WriteInt32(char* p, int32_t v) { std::memcpy(p, &v, 4); }

}  // namespace

// A stream over the stored text of a memo column of the active record.
class MemoryBlobStream : public TStream {
 public:
  MemoryBlobStream(MemoryDataSet& dataSet, TField* field, TBlobStreamMode mode)
      : dataSet_(dataSet), field_(field) {
    if (mode != bmWrite) {
      if (char* image = dataSet_.StateRecord()) {
        data_ = dataSet_.SlotText(image, field->FieldNo() - 1);
        if (field->Transliterate()) data_ = dataSet_.TranslateText(data_, false);
      }
    } else {
      modified_ = true;
    }
  }
  int32_t Read(void* buffer, int32_t count) override {
    int32_t n = std::max<int32_t>(0, std::min<int32_t>(count, static_cast<int32_t>(data_.size()) - position_));
    std::memcpy(buffer, data_.data() + position_, n);
    position_ += n;
    return n;
  }
  int32_t Write(const void* buffer, int32_t count) override {
    if (static_cast<int32_t>(data_.size()) < position_ + count) data_.resize(position_ + count);
    std::memcpy(data_.data() + position_, buffer, count);
    position_ += count;
    modified_ = true;
    return count;
  }
  int64_t Seek(int64_t offset, TSeekOrigin origin) override {
    int64_t base = origin == soBeginning ? 0 : origin == soCurrent ? position_ : data_.size();
    position_ = static_cast<int32_t>(std::clamp<int64_t>(base + offset, 0, data_.size()));
    return position_;
  }
  void Flush() override {
    if (!modified_) return;
    if (dataSet_.State() != dsEdit && dataSet_.State() != dsInsert)
      DatabaseError(DbMsg::NotEditing);
    std::string stored = field_->Transliterate() ? dataSet_.TranslateText(data_, true) : data_;
    dataSet_.SetSlotText(dataSet_.StateRecord(), field_->FieldNo() - 1,
                         stored.empty() ? std::nullopt : std::optional<std::string>(stored));
    dataSet_.FieldChanged(field_);
    modified_ = false;
  }

 private:
  MemoryDataSet& dataSet_;
  TField* field_;
  std::string data_;
  int32_t position_ = 0;
  bool modified_ = false;
};

MemoryDataSet::MemoryDataSet(std::vector<Column> columns, bool translate)
    : columns_(std::move(columns)), translate_(translate) {
  for (size_t i = 0; i < columns_.size(); ++i) {
    offsets_.push_back(imageSize_);
    imageSize_ += 1 + SlotWidth(static_cast<int32_t>(i));
  }
}

MemoryDataSet::~MemoryDataSet() { Close(); }

int32_t MemoryDataSet::SlotWidth(int32_t column) const {
  const Column& c = columns_[column];
  if (c.type == ftString) return std::max<int32_t>(c.size, 1);
  if (c.type == ftMemo || c.type == ftBlob) return 256;
  return 32;
}

std::string MemoryDataSet::SlotText(const char* image, int32_t column) const {
  const char* slot = image + offsets_[column];
  return std::string(slot + 1, strnlen(slot + 1, SlotWidth(column)));
}

void MemoryDataSet::SetSlotText(char* image, int32_t column, const std::optional<std::string>& text) {
  char* slot = image + offsets_[column];
  std::memset(slot, 0, 1 + SlotWidth(column));
  if (!text) return;
  slot[0] = 1;
  std::memcpy(slot + 1, text->data(), std::min<size_t>(text->size(), SlotWidth(column)));
}

void MemoryDataSet::AddRow(const Values& values) {
  Row row{nextId_++, std::string(imageSize_, '\0')};
  for (size_t i = 0; i < columns_.size() && i < values.size(); ++i)
    SetSlotText(row.image.data(), static_cast<int32_t>(i), values[i]);
  rows_.push_back(std::move(row));
  indexOfId_[rows_.back().id] = static_cast<int32_t>(rows_.size() - 1);
}

std::optional<std::string> MemoryDataSet::StoredValue(int32_t row, int32_t column) const {
  const char* image = rows_.at(row).image.data();
  if (image[offsets_.at(column)] == 0) return std::nullopt;
  return SlotText(image, column);
}

void MemoryDataSet::Reindex() {
  indexOfId_.clear();
  for (size_t i = 0; i < rows_.size(); ++i) indexOfId_[rows_[i].id] = static_cast<int32_t>(i);
}

int32_t MemoryDataSet::IndexOfId(int32_t id) const {
  auto it = indexOfId_.find(id);
  return it == indexOfId_.end() ? -1 : it->second;
}

// --- Opening -------------------------------------------------------------------------

void MemoryDataSet::InitFieldDefs() {
  FieldDefs().Clear();
  for (const Column& c : columns_) FieldDefs().Add(c.name, c.type, c.type == ftString ? c.size : 0);
}

void MemoryDataSet::OpenDataset() {
  InitFieldDefs();
  if (DefaultFields()) CreateFields();
  BindFields(true);
  pos_ = -1;
}

void MemoryDataSet::CloseDataset() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
}

int32_t MemoryDataSet::RecordBufferSize() { return imageSize_ + CalcFieldsSize() + kTailSize; }

// --- Records ---------------------------------------------------------------------------

bool MemoryDataSet::Accept(int32_t index) {
  ++readCount_;
  if (!Filtered() || !OnFilterRecord) return true;
  filterImage_ = rows_[index].image;
  return FilterAccepts();
}

TGetResult MemoryDataSet::FetchRecord(TRecordBuffer buffer, TGetMode mode, bool) {
  const int32_t n = static_cast<int32_t>(rows_.size());
  switch (mode) {
    case gmCurrent:
      if (pos_ < 0) return grBOF;
      if (pos_ >= n) return grEOF;
      if (!Accept(pos_)) return grError;
      break;
    case gmNext:
      do {
        ++pos_;
      } while (pos_ < n && !Accept(pos_));
      if (pos_ >= n) {
        pos_ = n;
        return grEOF;
      }
      break;
    case gmPrior:
      do {
        --pos_;
      } while (pos_ >= 0 && !Accept(pos_));
      if (pos_ < 0) {
        pos_ = -1;
        return grBOF;
      }
      break;
  }
  std::memcpy(buffer, rows_[pos_].image.data(), imageSize_);
  WriteInt32(buffer + imageSize_ + CalcFieldsSize(), rows_[pos_].id);
  SetBookmarkFlag(buffer, bfCurrent);
  GetCalcFields(buffer);
  return grOK;
}

void MemoryDataSet::InternalInitRecord(TRecordBuffer buffer) {
  std::memset(buffer, 0, imageSize_);
}

void MemoryDataSet::ClearCalcFields(TRecordBuffer buffer) {
  std::memset(buffer + imageSize_, 0, CalcFieldsSize());
}

TBookmark MemoryDataSet::GetBookmarkData(TRecordBuffer buffer) {
  return TBookmark(buffer + imageSize_ + CalcFieldsSize(), 4);
}

void MemoryDataSet::SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) {
  if (bookmark.size() == 4) std::memcpy(buffer + imageSize_ + CalcFieldsSize(), bookmark.data(), 4);
}

TBookmarkFlag MemoryDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(buffer[imageSize_ + CalcFieldsSize() + 4]);
}

void MemoryDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[imageSize_ + CalcFieldsSize() + 4] = static_cast<char>(flag);
}

void MemoryDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  int32_t index = bookmark.size() == 4 ? IndexOfId(ReadInt32(bookmark.data())) : -1;
  if (index < 0) DatabaseError(DbMsg::RecordNotFound);
  pos_ = index;
}

int MemoryDataSet::BookmarkCompare(const TBookmark& a, const TBookmark& b) {
  int32_t x = a.size() == 4 ? IndexOfId(ReadInt32(a.data())) : -1;
  int32_t y = b.size() == 4 ? IndexOfId(ReadInt32(b.data())) : -1;
  return x < y ? -1 : x > y ? 1 : 0;
}

bool MemoryDataSet::BookmarkIsValid(const TBookmark& bookmark) {
  return bookmark.size() == 4 && IndexOfId(ReadInt32(bookmark.data())) >= 0;
}

int32_t MemoryDataSet::RecordCount() {
  CheckActive();
  if (!Filtered() || !OnFilterRecord) return static_cast<int32_t>(rows_.size());
  int32_t count = 0;
  for (int32_t i = 0; i < static_cast<int32_t>(rows_.size()); ++i)
    if (Accept(i)) ++count;
  return count;
}

int32_t MemoryDataSet::ActiveRecordNumber() {
  CheckActive();
  TRecordBuffer buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (!buffer || IsEmpty()) return 0;
  return IndexOfId(ReadInt32(buffer + imageSize_ + CalcFieldsSize())) + 1;
}

void MemoryDataSet::GotoRecordNumber(int32_t recordNumber) {
  CheckBrowseMode();
  if (recordNumber < 1 || recordNumber > static_cast<int32_t>(rows_.size()))
    DatabaseError(DbMsg::RecordNotFound);
  DoBeforeScroll();
  pos_ = recordNumber - 1;
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

std::string MemoryDataSet::TranslateText(std::string_view source, bool toOem) {
  std::string out(source);
  if (!translate_) return out;
  for (char& c : out)
    c = static_cast<char>(ConvertByte(static_cast<uint8_t>(c), toOem ? CodePage::Cp1251 : CodePage::Cp866,
                                      toOem ? CodePage::Cp866 : CodePage::Cp1251));
  return out;
}

std::unique_ptr<TStream> MemoryDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  if (field->DataType() != ftMemo && field->DataType() != ftBlob)
    return TDataSet::CreateBlobStream(field, mode);
  if (mode != bmRead && State() != dsEdit && State() != dsInsert) DatabaseError(DbMsg::NotEditing);
  return std::make_unique<MemoryBlobStream>(*this, field, mode);
}

// --- Field values ------------------------------------------------------------------------

char* MemoryDataSet::StateRecord() {
  switch (State()) {
    case dsCalcFields: return CalcBuffer();
    case dsFilter: return filterImage_.data();
    case dsInactive: return nullptr;
    default: return IsEmpty() ? nullptr : ActiveBuffer();
  }
}

bool MemoryDataSet::ReadFieldValue(TField* field, void* destination) {
  char* image = StateRecord();
  if (!image) return false;
  if (destination) std::memset(destination, 0, field->DataSize());
  if (field->FieldNo() <= 0) {
    if (State() == dsFilter) return false;
    return ReadCalcFieldValue(image + imageSize_, field, destination);
  }
  const int32_t column = field->FieldNo() - 1;
  if (image[offsets_[column]] == 0) return false;
  std::string text = SlotText(image, column);
  if (!destination) return true;
  switch (field->DataType()) {
    case ftString:
      std::memcpy(destination, text.data(), std::min<size_t>(text.size(), field->Size()));
      break;
    case ftSmallint: {
      int16_t v = static_cast<int16_t>(std::strtoll(text.c_str(), nullptr, 10));
      std::memcpy(destination, &v, 2);
      break;
    }
    case ftInteger: {
      int32_t v = static_cast<int32_t>(std::strtoll(text.c_str(), nullptr, 10));
      std::memcpy(destination, &v, 4);
      break;
    }
    case ftLargeint: {
      int64_t v = std::strtoll(text.c_str(), nullptr, 10);
      std::memcpy(destination, &v, 8);
      break;
    }
    case ftBoolean: {
      int16_t v = (text == "T") ? 1 : 0;
      std::memcpy(destination, &v, 2);
      break;
    }
    case ftFloat:
    case ftCurrency:
    case ftDateTime: {
      double v = std::strtod(text.c_str(), nullptr);
      std::memcpy(destination, &v, 8);
      break;
    }
    case ftDate: {
      int32_t serial = 0;
      if (text.size() != 8 ||
          !TryEncodeDate(std::atoi(text.substr(0, 4).c_str()), std::atoi(text.substr(4, 2).c_str()),
                         std::atoi(text.substr(6, 2).c_str()), serial))
        return false;
      std::memcpy(destination, &serial, 4);
      break;
    }
    default:
      break;
  }
  return true;
}

void MemoryDataSet::WriteFieldValue(TField* field, const void* source) {
  const TDataSetState state = State();
  if (state != dsEdit && state != dsInsert && state != dsSetKey && state != dsCalcFields &&
      state != dsFilter && state != dsNewValue && state != dsInternalCalc)
    DatabaseError(DbMsg::NotEditing);
  if (field->FieldNo() <= 0) {
    char* record = state == dsCalcFields ? CalcBuffer() : ActiveBuffer();
    WriteCalcFieldValue(record + imageSize_, field, source);
  } else {
    if (state == dsCalcFields) DatabaseError(DbMsg::NotEditing);
    if (field->ReadOnly()) DatabaseError(DbMsg::FieldReadOnly, {field->FieldName()});
    field->Validate(source);
    std::optional<std::string> text;
    if (source) {
      char number[64];
      switch (field->DataType()) {
        case ftString:
          text = std::string(static_cast<const char*>(source),
                             strnlen(static_cast<const char*>(source), field->Size()));
          break;
        case ftSmallint: {
          int16_t v;
          std::memcpy(&v, source, 2);
          text = std::to_string(v);
          break;
        }
        case ftInteger: {
          int32_t v;
          std::memcpy(&v, source, 4);
          text = std::to_string(v);
          break;
        }
        case ftLargeint: {
          int64_t v;
          std::memcpy(&v, source, 8);
          text = std::to_string(v);
          break;
        }
        case ftBoolean: {
          int16_t v;
          std::memcpy(&v, source, 2);
          text = v ? "T" : "F";
          break;
        }
        case ftFloat:
        case ftCurrency:
        case ftDateTime: {
          double v;
          std::memcpy(&v, source, 8);
          std::snprintf(number, sizeof number, "%.17g", v);
          text = number;
          break;
        }
        case ftDate: {
          int32_t serial;
          std::memcpy(&serial, source, 4);
          int y = 0, m = 0, d = 0;
          DecodeDate(serial, y, m, d);
          std::snprintf(number, sizeof number, "%04d%02d%02d", y, m, d);
          text = number;
          break;
        }
        default:
          break;
      }
    }
    char* record = state == dsFilter ? filterImage_.data() : ActiveBuffer();
    SetSlotText(record, field->FieldNo() - 1, text);
  }
  if (state != dsSetKey && state != dsCalcFields && state != dsFilter && state != dsNewValue)
    FieldChanged(field);
}

// --- Editing ---------------------------------------------------------------------------------

void MemoryDataSet::StoreRow(const char* image, bool append) {
  Row row{nextId_++, std::string(image, imageSize_)};
  int32_t at = append ? static_cast<int32_t>(rows_.size())
                      : std::clamp<int32_t>(pos_, 0, static_cast<int32_t>(rows_.size()));
  rows_.insert(rows_.begin() + at, std::move(row));
  Reindex();
  pos_ = at;
}

void MemoryDataSet::PostRecord() {
  TRecordBuffer buffer = ActiveBuffer();
  if (State() == dsEdit) {
    int32_t index = IndexOfId(ReadInt32(buffer + imageSize_ + CalcFieldsSize()));
    if (index < 0) DatabaseError(DbMsg::RecordNotFound);
    rows_[index].image.assign(buffer, imageSize_);
    pos_ = index;
  } else {
    StoreRow(buffer, GetBookmarkFlag(buffer) == bfEOF);
  }
}

void MemoryDataSet::AddRecordBuffer(TRecordBuffer buffer, bool append) { StoreRow(buffer, append); }

void MemoryDataSet::DeleteRecord() {
  if (pos_ < 0 || pos_ >= static_cast<int32_t>(rows_.size())) DatabaseError(DbMsg::RecordNotFound);
  rows_.erase(rows_.begin() + pos_);
  Reindex();
}
