// The dataset adapter (see Razuz6oz.h): opening and closing the table,
// field definitions, row buffers and bookmarks, field values, translation,
// counts, editing under record locks, the alias list and the memo stream.
#include "dataset/Razuz6oz.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>

#include "engine/expr/gs6_sql.h"
#include "engine/support/gs6_glbl.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/hot.h"
#include "platform/locale.h"
#include "platform/system.h"

using namespace platform;

namespace {

// The dataset's own messages (raised as the framework's database error).
enum class DsMsg { TableNameMissing, FileMissing, FieldNotIndexed };

constexpr const char* kDsMessages[] = {
    "Table name missing",
    "Cannot find file %s",
    "Field '%s' is not indexed and cannot be modified",
};

[[noreturn]] void DataSetError(DsMsg id, const std::string& argument = std::string()) {
  std::string text = kDsMessages[static_cast<int>(id)];
  size_t at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, argument);
  throw EDatabaseError(text);
}

// Engine-table messages that the dataset raises as database errors: the
// argument fills the message's placeholder, or is appended to a message
// without one (the bookmark message names its table that way).
[[noreturn]] void DataSetError(Msg id, const std::string& argument = std::string()) {
  if (std::string_view(MessageText(id)).find("%s") != std::string_view::npos)
    throw EDatabaseError(FormatMessage(id, {MsgArg(argument)}));
  throw EDatabaseError(FormatMessage(id) + argument);
}

// Milliseconds from the date-time origin of 'T' fields to date serial 0.
constexpr double kSerialDayOffset = 693594.0;
constexpr double kMsPerDay = 86400000.0;

std::string TrimRightBlanks(std::string text) {
  size_t end = text.find_last_not_of(' ');
  text.erase(end == std::string::npos ? 0 : end + 1);
  return text;
}

std::string Trim(std::string_view text) {
  size_t start = text.find_first_not_of(" \t\r");
  if (start == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(" \t\r");
  return std::string(text.substr(start, end - start + 1));
}

bool HasExtension(const std::string& name) {
  size_t slash = name.find_last_of('/');
  size_t dot = name.find_last_of('.');
  return dot != std::string::npos && (slash == std::string::npos || dot > slash);
}

// A double rounded into the range of T.
template <class T>
T RoundInto(double value) {
  if (!std::isfinite(value)) return 0;
  double r = std::round(value);
  if (r <= static_cast<double>(std::numeric_limits<T>::min())) return std::numeric_limits<T>::min();
  if (r >= static_cast<double>(std::numeric_limits<T>::max())) return std::numeric_limits<T>::max();
  return static_cast<T>(r);
}

bool ParseDigits(std::string_view text, int& value) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && ptr == text.data() + text.size();
}

// The program's folder, for the "Default Directory" alias.
std::string ProgramFolder() {
  std::error_code error;
  std::filesystem::path exe = std::filesystem::read_symlink("/proc/self/exe", error);
  if (error) return std::string();
  return exe.parent_path().string();
}

bool SameText(std::string_view a, std::string_view b) { return CompareText(a, b) == 0; }

// The "Alias" section of an INI-style text as name/value pairs.
void ReadAliasSection(const std::string& text, TgsAliasList& list) {
  bool inSection = false;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = Trim(std::string_view(text).substr(start, end - start));
    start = end + 1;
    if (line.empty() || line[0] == ';') continue;
    if (line.front() == '[') {
      size_t close = line.find(']');
      inSection = close != std::string::npos && SameText(Trim(line.substr(1, close - 1)), "Alias");
      continue;
    }
    size_t equals = line.find('=');
    if (!inSection || equals == std::string::npos) continue;
    std::string name = Trim(line.substr(0, equals));
    if (!name.empty()) list.emplace_back(name, Trim(line.substr(equals + 1)));
  }
}

}  // namespace

// ---------------------------------------------------------------------------
// Alias list and folders

namespace {

// "Default Directory" and the aliases of "deridar.cfg" in `directory`.
TgsAliasList ReadAliasList(const std::string& directory) {
  TgsAliasList list;
  list.emplace_back(TDeridarDataSet::kDefaultDirectory, ProgramFolder());
  File config;
  if (config.Open(directory + "/deridar.cfg", false, true)) {
    // A configuration file is small; a huge one is read only in part.
    int64_t size = std::clamp<int64_t>(config.Size(), 0, 1 << 20);
    std::string text(static_cast<size_t>(size), '\0');
    int64_t got = config.ReadAt(0, text.data(), text.size());
    text.resize(static_cast<size_t>(std::max<int64_t>(got, 0)));
    ReadAliasSection(text, list);
  }
  return list;
}

}  // namespace

TgsAliasList& TDeridarDataSet::Aliases() {
  static TgsAliasList list = ReadAliasList(::WindowsDirectory());
  return list;
}

void TDeridarDataSet::LoadAliases(const std::string& directory) {
  Aliases() = ReadAliasList(directory);
}

std::string TDeridarDataSet::DatabasePath() const {
  std::string path;
  if (SameText(databaseName_, kDefaultDirectory)) {
    path = ProgramFolder();
  } else {
    path = databaseName_;
    for (const auto& [name, value] : Aliases()) {
      if (SameText(name, databaseName_)) {
        path = value;
        break;
      }
    }
  }
  if (!path.empty() && path.back() != '/') path += '/';
  return path;
}

// ---------------------------------------------------------------------------
// Life and properties

TDeridarDataSet::TDeridarDataSet() = default;

TDeridarDataSet::~TDeridarDataSet() {
  try {
    Close();
  } catch (...) {
    // A failure while freeing cannot be reported any more.
  }
}

void TDeridarDataSet::CheckClosed() const {
  if (Active()) DatabaseError(DbMsg::DataSetOpen);
}

void TDeridarDataSet::SetAutoFlush(bool on) {
  autoFlush_ = on;
  if (table_) table_->SetAutoFlush(on);
}

void TDeridarDataSet::SetDatabaseName(const std::string& name) {
  CheckClosed();
  databaseName_ = name;
  if (SameText(name, kDefaultDirectory) || name.empty()) return;
  std::string value = name;
  if (value.size() > 1 && value.back() == '/') value.pop_back();
  TgsAliasList& list = Aliases();
  bool known = std::any_of(list.begin(), list.end(),
                           [&](const auto& entry) { return SameText(entry.first, name); });
  if (!known) list.emplace_back(name, value);
}

void TDeridarDataSet::SetEncryptionKey(const std::string& key) {
  CheckClosed();
  encryptionKey_ = key;
}

void TDeridarDataSet::SetExclusive(bool on) {
  CheckClosed();
  exclusive_ = on;
}

void TDeridarDataSet::SetLargeIntegerAs(TgsIntFields as) {
  CheckClosed();
  largeIntegerAs_ = as;
}

void TDeridarDataSet::SetLockProtocol(TgsLokProtocol protocol) {
  lockProtocol_ = protocol;
  if (table_) table_->SetLockProtocol(protocol);
}

void TDeridarDataSet::SetMasterSource(TDataSource* source) {
  if (source && IsLinkedTo(source)) DatabaseError(DbMsg::CircularDataLink);
  masterLink_.SetDataSource(source);
}

void TDeridarDataSet::SetReadOnly(bool on) {
  readOnly_ = on;
  if (table_ && !table_->IsReadWrite()) readOnly_ = true;
}

void TDeridarDataSet::SetTableName(const std::string& name) {
  CheckClosed();
  if (name != tableName_ && !loading_) indexFiles_.clear();
  tableName_ = name;
}

void TDeridarDataSet::SetTranslateASCII(bool on) {
  translateASCII_ = on;
  if (table_) table_->SetTranslateASCII(on);
}

void TDeridarDataSet::SetUseDeleted(bool on) {
  useDeleted_ = on;
  if (table_) table_->SetUseDeleted(on);
}

void TDeridarDataSet::SetUserID(int32_t id) {
  userId_ = id;
  if (table_) table_->SetUserID(static_cast<uint32_t>(id));
}

DERIDAR_ROW_PATH void TDeridarDataSet::CheckActive() {
  if (buildingIndexDefs_) return;
  TDataSet::CheckActive();
  if (busy_ == 1) DataSetError(Msg::BusyIndexing);
  if (busy_ == 2) DataSetError(Msg::BusyCopying);
}

void TDeridarDataSet::RequireOpenTable() const {
  if (!table_) DatabaseError(DbMsg::DataSetClosed);
}

// ---------------------------------------------------------------------------
// Open and close

std::unique_ptr<DBFObject> TDeridarDataSet::MakeTable(bool readWrite, bool shared) {
  if (tableName_.empty()) DataSetError(DsMsg::TableNameMissing);
  std::string name = tableName_;
  if (!HasExtension(name)) name += ".DBF";
  std::string path = DatabasePath() + name;
  if (!FileExists(path)) DataSetError(DsMsg::FileMissing, path);
  auto table = std::make_unique<DBFObject>(this, path, encryptionKey_, shared, readWrite);
  table->OpenTable();
  return table;
}

void TDeridarDataSet::OpenDataset() {
  table_ = MakeTable(!readOnly_, !exclusive_);
  table_->SetTranslateASCII(translateASCII_);
  table_->SetAutoFlush(autoFlush_);
  table_->SetUseDeleted(useDeleted_);
  table_->SetCacheSwitch(false);
  table_->SetLockProtocol(lockProtocol_);
  table_->SetUserID(static_cast<uint32_t>(userId_));
  if (!table_->IsReadWrite()) readOnly_ = true;
  recordLength_ = table_->RecordLength();

  InitFieldDefs();
  if (DefaultFields()) CreateFields();
  BindFields(true);

  keyBuffer_.assign(static_cast<size_t>(RecordBufferSize()), 0);

  if (Filtered()) {
    table_->SetFilterActive(true);
    ApplyFilter(Filter(), FilterOptions());
  }
  beforeFirst_ = true;
  afterLast_ = false;
  if (!indexFiles_.empty()) {
    OpenIndexFilesIn(*table_);
    table_->SelectTag(indexName_, false);
  }
  editInProgress_ = false;
  ApplyMasterRange();
}

void TDeridarDataSet::CloseDataset() {
  BindFields(false);
  if (DefaultFields()) DestroyFields();
  table_.reset();
  recordLength_ = 0;
  keyBuffer_.clear();
  std::vector<uint8_t>().swap(deletedMarks_);  // gives the memory back
  deletedMarksCount_ = -1;
  orderRows_.clear();
  editInProgress_ = false;
  beforeFirst_ = afterLast_ = false;
}

TFieldType TDeridarDataSet::MapFieldType(char type, int32_t length, int32_t decimals) const {
  switch (type) {
    case 'C':
      return ftString;
    case 'D':
      return ftDate;
    case 'N':
    case 'F':
      if (decimals > 0) return ftFloat;
      if (length <= 4) return ftSmallint;
      if (length <= 9) return ftInteger;
      switch (largeIntegerAs_) {
        case TgsIntFields::asLargeInt: return ftLargeint;
        case TgsIntFields::asFloat: return ftFloat;
        case TgsIntFields::asInteger: break;
      }
      return ftInteger;
    case 'I':
      return ftInteger;
    case 'L':
      return ftBoolean;
    case 'M':
      return ftMemo;
    case 'B':
    case 'G':
      return ftBlob;
    case 'T':
      return ftDateTime;
    case 'Y':
      return ftCurrency;
    default:
      return ftUnknown;
  }
}

void TDeridarDataSet::InitFieldDefs() {
  FieldDefs().Clear();
  std::unique_ptr<DBFObject> temporary;
  GSO_dBHandler* table = table_.get();
  if (!table) {
    temporary = MakeTable(false, true);
    table = temporary.get();
  }
  for (int32_t n = 1; n <= table->FieldCount(); ++n) {
    const int32_t length = table->FieldLength(n);
    TFieldType type = MapFieldType(table->FieldType(n), length, table->FieldDecimals(n));
    if (type == ftUnknown) continue;
    TFieldDef& def = FieldDefs().Add(table->FieldName(n), type, type == ftString ? length : 0);
    // Numbered by the table's field number, so that skipped fields of
    // unknown types leave no gap in the mapping.
    def.fieldNo = n;
  }
}

// ---------------------------------------------------------------------------
// Buffers and bookmarks

int32_t TDeridarDataSet::RecordBufferSize() { return recordLength_ + CalcFieldsSize() + 19; }

DERIDAR_ROW_PATH void TDeridarDataSet::AttachBuffer(char* buffer) {
  if (State() != dsFilter && buffer) table_->SetCurrentRecord(buffer);
}

DERIDAR_ROW_PATH void TDeridarDataSet::DetachBuffer() {
  if (State() != dsFilter && table_) table_->RestoreCurrentRecord();
}

TRecNo TDeridarDataSet::BufferRecNo(const char* buffer) const {
  TRecNo n;
  std::memcpy(&n, buffer + recordLength_ + CalcFieldsSize(), sizeof n);
  return n;
}

DERIDAR_ROW_PATH void TDeridarDataSet::SetBufferRecNo(char* buffer, TRecNo n) {
  std::memcpy(buffer + InfoOffset(), &n, sizeof n);
}

DERIDAR_ROW_PATH TBookmark TDeridarDataSet::GetBookmarkData(TRecordBuffer buffer) {
  return TBookmark(buffer + InfoOffset() + 8, kBookmarkSize);
}

void TDeridarDataSet::SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) {
  char* area = buffer + InfoOffset() + 8;
  std::memset(area, 0, kBookmarkSize);
  std::memcpy(area, bookmark.data(), std::min<size_t>(bookmark.size(), kBookmarkSize));
}

DERIDAR_ROW_PATH TBookmarkFlag TDeridarDataSet::GetBookmarkFlag(TRecordBuffer buffer) {
  return static_cast<TBookmarkFlag>(static_cast<uint8_t>(buffer[InfoOffset() + 5]));
}

DERIDAR_ROW_PATH void TDeridarDataSet::SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) {
  buffer[InfoOffset() + 5] = static_cast<char>(flag);
}

namespace {

// The 11-byte bookmark text of record n into `area`: the number
// right-aligned in ten characters, then a zero byte.
DERIDAR_ROW_PATH void WriteBookmarkText(char* area, TRecNo n) {
  constexpr size_t kWidth = TDeridarDataSet::kBookmarkSize - 1;
  area[kWidth] = '\0';
  if (n >= 0) {
    // Every row fetched writes one: digits from the right, blanks before
    // (no table of digit pairs, which would be one more page to touch).
    std::memset(area, ' ', kWidth);
    char* digit = area + kWidth;
    auto v = static_cast<uint32_t>(n);
    do {
      *--digit = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    return;
  }
  char digits[16];
  auto [end, ec] = std::to_chars(digits, digits + sizeof digits, n);
  (void)ec;
  const size_t length = std::min(static_cast<size_t>(end - digits), kWidth);
  std::memset(area, ' ', kWidth - length);
  std::memcpy(area + (kWidth - length), digits, length);
  area[kWidth] = '\0';
}

DERIDAR_ROW_PATH TBookmark BookmarkText(TRecNo n) {
  char text[TDeridarDataSet::kBookmarkSize];
  WriteBookmarkText(text, n);
  return TBookmark(text, TDeridarDataSet::kBookmarkSize);
}

// The record number of a bookmark text; false when it is not a number.
bool BookmarkNumber(const TBookmark& bookmark, TRecNo& n) {
  std::string text(bookmark.c_str());  // up to the zero byte
  text = Trim(text);
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), n);
  return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

int TDeridarDataSet::BookmarkCompare(const TBookmark& a, const TBookmark& b) {
  if (a.empty() || b.empty()) return a.empty() == b.empty() ? 0 : (a.empty() ? -1 : 1);
  int c = std::memcmp(a.data(), b.data(), std::min(a.size(), b.size()));
  if (c == 0) c = a.size() < b.size() ? -1 : (a.size() > b.size() ? 1 : 0);
  return c < 0 ? -1 : (c > 0 ? 1 : 0);
}

bool TDeridarDataSet::BookmarkIsValid(const TBookmark& bookmark) {
  if (!table_) return false;
  TRecNo n = 0;
  return BookmarkNumber(bookmark, n) && n >= 1 && n <= table_->RecordCount();
}

void TDeridarDataSet::InternalGotoBookmark(const TBookmark& bookmark) {
  RequireOpenTable();
  TRecNo n = 0;
  if (!BookmarkIsValid(bookmark) || !BookmarkNumber(bookmark, n))
    DataSetError(Msg::BookmarkInvalid, tableName_);
  beforeFirst_ = afterLast_ = false;
  table_->RestoreCurrentRecord();
  table_->ReadRecord(n);
}

void TDeridarDataSet::InternalFirst() {
  beforeFirst_ = true;
  afterLast_ = false;
}

void TDeridarDataSet::InternalLast() {
  beforeFirst_ = false;
  afterLast_ = true;
}

// ---------------------------------------------------------------------------
// Fetching

DERIDAR_ROW_PATH TGetResult TDeridarDataSet::FetchRecord(TRecordBuffer buffer, TGetMode mode,
                                                          bool doCheck) {
  RequireOpenTable();
  TGetResult result = grOK;
  bool moved = false;
  AttachBuffer(buffer);
  try {
    switch (mode) {
      case gmCurrent:
        if (beforeFirst_) {
          result = grBOF;
        } else if (afterLast_) {
          result = grEOF;
        } else {
          table_->ReadRecord(GotoCurrent);
          moved = true;
        }
        break;
      case gmNext:
        if (beforeFirst_ && rangeTopRecord_ >= 0 && rangeTopRecord_ == table_->RecNumber()) {
          // The handler stands on the top of the range it has just set.
          rangeTopRecord_ = -1;
          std::memcpy(buffer, table_->RecordBuffer(), static_cast<size_t>(recordLength_));
          beforeFirst_ = false;
          moved = true;
        } else if (beforeFirst_) {
          table_->ReadRecord(GotoFirst);
          beforeFirst_ = false;
          moved = true;
        } else if (afterLast_) {
          result = grEOF;
        } else {
          table_->ReadRecord(GotoNext);
          moved = true;
        }
        break;
      case gmPrior:
        if (beforeFirst_) {
          result = grBOF;
        } else if (afterLast_) {
          if (State() == dsInsert && ActiveRecord() > 0)
            table_->ReadRecord(GotoPrevious);
          else
            table_->ReadRecord(GotoLast);
          afterLast_ = false;
          moved = true;
        } else {
          table_->ReadRecord(GotoPrevious);
          moved = true;
        }
        break;
    }
  } catch (...) {
    DetachBuffer();
    if (doCheck) DataSetError(Msg::RecordBeyondRange);
    return grError;
  }
  DetachBuffer();
  if (moved) {
    if (table_->Eof())
      result = grEOF;
    else if (table_->Bof())
      result = grBOF;
  }
  if (result == grOK) {
    const TRecNo n = table_->RecNumber();
    SetBufferRecNo(buffer, n);
    SetBookmarkFlag(buffer, bfCurrent);
    GetCalcFields(buffer);
    WriteBookmarkText(buffer + InfoOffset() + 8, n);
  }
  return result;
}

void TDeridarDataSet::ClearCalcFields(TRecordBuffer buffer) {
  if (buffer && CalcFieldsSize() > 0)
    std::memset(buffer + recordLength_, 0, static_cast<size_t>(CalcFieldsSize()));
}

void TDeridarDataSet::InternalInitRecord(TRecordBuffer buffer) {
  RequireOpenTable();
  AttachBuffer(buffer);
  try {
    table_->BlankRecord();
  } catch (...) {
    DetachBuffer();
    throw;
  }
  DetachBuffer();
  if (State() != dsEdit) {
    // The snapshot (old values) of a new record is the blank record.
    std::memcpy(const_cast<char*>(table_->SnapshotBuffer()), buffer,
                static_cast<size_t>(recordLength_));
  }
  SetBufferRecNo(buffer, 0);
}

// ---------------------------------------------------------------------------
// Field values

DERIDAR_ROW_PATH char* TDeridarDataSet::FieldBuffer() {
  if (lookupBuffer_) return lookupBuffer_;
  switch (State()) {
    case dsBrowse:
      return IsEmpty() ? nullptr : ActiveBuffer();
    case dsEdit:
    case dsInsert:
    case dsNewValue:
      return ActiveBuffer();
    case dsSetKey:
      return keyBuffer_.empty() ? nullptr : keyBuffer_.data();
    case dsCalcFields:
    case dsInternalCalc:
      return CalcBuffer();
    case dsFilter:
      return table_ ? table_->CurrentRecord() : nullptr;
    case dsOldValue:
      if (editInProgress_ && table_) return const_cast<char*>(table_->SnapshotBuffer());
      return ActiveBuffer();
    case dsInactive:
      break;
  }
  return nullptr;
}

DERIDAR_ROW_PATH bool TDeridarDataSet::ReadFieldValue(TField* field, void* destination) {
  if (!table_ || !field) return false;
  if (State() == dsBrowse && IsEmpty()) return false;
  char* buffer = FieldBuffer();
  if (!buffer) return false;
  if (field->FieldNo() <= 0 || field->Calculated())
    return ReadCalcFieldValue(buffer + recordLength_, field, destination);

  const int32_t n = field->FieldNo();
  const int32_t size = field->DataSize();
  if (destination && size > 0) std::memset(destination, 0, static_cast<size_t>(size));
  AttachBuffer(buffer);
  bool present = true;
  try {
    switch (field->DataType()) {
      case ftString: {
        std::string_view view;
        std::string text;
        if (!table_->DisplayTextView(n, view)) {
          text = table_->GetDisplayText(n);
          view = text;
        }
        present = !view.empty();
        if (present && destination)
          std::memcpy(destination, view.data(), std::min<size_t>(view.size(), size - 1));
        break;
      }
      case ftSmallint: {
        int16_t v = RoundInto<int16_t>(table_->GetNumber(n));
        if (destination) std::memcpy(destination, &v, sizeof v);
        break;
      }
      case ftInteger: {
        int32_t v = RoundInto<int32_t>(table_->GetNumber(n));
        if (destination) std::memcpy(destination, &v, sizeof v);
        break;
      }
      case ftLargeint: {
        int64_t v = RoundInto<int64_t>(table_->GetNumber(n));
        if (destination) std::memcpy(destination, &v, sizeof v);
        break;
      }
      case ftBoolean: {
        int16_t v = table_->GetLogical(n) ? 1 : 0;
        if (destination) std::memcpy(destination, &v, sizeof v);
        break;
      }
      case ftFloat:
      case ftCurrency: {
        double v = table_->GetNumber(n);
        if (destination) std::memcpy(destination, &v, sizeof v);
        break;
      }
      case ftDate: {
        std::string text = TrimRightBlanks(table_->GetFieldText(n));
        int year = 0, month = 0, day = 0;
        int32_t serial = 0;
        present = text.size() == 8 && text != "00000000" &&
                  ParseDigits(std::string_view(text).substr(0, 4), year) &&
                  ParseDigits(std::string_view(text).substr(4, 2), month) &&
                  ParseDigits(std::string_view(text).substr(6, 2), day) &&
                  TryEncodeDate(year, month, day, serial);
        if (present && destination) std::memcpy(destination, &serial, sizeof serial);
        break;
      }
      case ftDateTime: {
        double ms = table_->GetNumber(n);
        present = ms != 0;
        if (present && destination) {
          double serial = ms / kMsPerDay - kSerialDayOffset;
          std::memcpy(destination, &serial, sizeof serial);
        }
        break;
      }
      case ftMemo:
      case ftBlob:
        present = table_->GetNumber(n) != 0;
        break;
      case ftUnknown:
        present = false;
        break;
    }
  } catch (...) {
    DetachBuffer();
    throw;
  }
  DetachBuffer();
  return present;
}

DERIDAR_ROW_PATH bool TDeridarDataSet::FieldTextView(TField* field, std::string_view& text) {
  // A character field of the table reads straight from the row buffer:
  // no copy into a native value, nothing lent to the table object.
  if (!table_ || field->DataType() != ftString || field->FieldNo() <= 0 || field->Calculated())
    return false;
  text = std::string_view();
  const char* buffer;
  if (State() == dsBrowse && !lookupBuffer_)
    buffer = IsEmpty() ? nullptr : ActiveBuffer();  // a row shown in a grid
  else if (State() == dsBrowse && IsEmpty())
    buffer = nullptr;
  else
    buffer = FieldBuffer();
  if (!buffer) return true;
  return table_->DisplayTextViewIn(buffer, field->FieldNo(), text);
}

void TDeridarDataSet::WriteFieldValue(TField* field, const void* source) {
  const TDataSetState state = State();
  switch (state) {
    case dsEdit:
    case dsInsert:
    case dsSetKey:
    case dsCalcFields:
    case dsFilter:
    case dsNewValue:
    case dsInternalCalc:
      break;
    default:
      DataSetError(Msg::NotEditing);
  }
  RequireOpenTable();
  if (state == dsSetKey && !field->Calculated()) {
    bool indexed = false;
    if (GSobjIndexTag* tag = table_->CurrentTag(); tag && tag->KeyEvaluator()) {
      std::string names = ";" + tag->KeyEvaluator()->FieldNames(17);
      indexed = names.find(";" + UpperCase(field->FieldName()) + ";") != std::string::npos;
    }
    if (!indexed) DataSetError(DsMsg::FieldNotIndexed, field->FieldName());
  }
  char* buffer = FieldBuffer();
  if (!buffer) DataSetError(Msg::NotEditing);
  if (field->FieldNo() <= 0 || field->Calculated()) {
    WriteCalcFieldValue(buffer + recordLength_, field, source);
  } else {
    if (state == dsCalcFields) DataSetError(Msg::NotEditing);
    if (field->ReadOnly() && state != dsSetKey && state != dsFilter)
      DatabaseError(DbMsg::FieldReadOnly, {field->FieldName()});
    field->Validate(source);
    const int32_t n = field->FieldNo();
    AttachBuffer(buffer);
    try {
      switch (field->DataType()) {
        case ftString: {
          std::string text;
          if (source) text.assign(static_cast<const char*>(source),
                                  strnlen(static_cast<const char*>(source),
                                          static_cast<size_t>(field->DataSize())));
          table_->PutValueFromText(n, text);
          break;
        }
        case ftSmallint: {
          int16_t v = 0;
          if (source) std::memcpy(&v, source, sizeof v);
          table_->PutNumber(n, v);
          break;
        }
        case ftInteger: {
          int32_t v = 0;
          if (source) std::memcpy(&v, source, sizeof v);
          table_->PutNumber(n, v);
          break;
        }
        case ftLargeint: {
          int64_t v = 0;
          if (source) std::memcpy(&v, source, sizeof v);
          table_->PutNumber(n, static_cast<double>(v));
          break;
        }
        case ftBoolean: {
          int16_t v = 0;
          if (source) std::memcpy(&v, source, sizeof v);
          table_->PutLogical(n, v != 0);
          break;
        }
        case ftFloat:
        case ftCurrency: {
          double v = 0;
          if (source) std::memcpy(&v, source, sizeof v);
          table_->PutNumber(n, v);
          break;
        }
        case ftDateTime: {
          double serial = 0;
          if (source) std::memcpy(&serial, source, sizeof serial);
          table_->PutNumber(n, source ? std::round((serial + kSerialDayOffset) * kMsPerDay) : 0.0);
          break;
        }
        case ftDate: {
          std::string text(8, ' ');
          int32_t serial = 0;
          int year = 0, month = 0, day = 0;
          if (source) {
            std::memcpy(&serial, source, sizeof serial);
            if (DecodeDate(serial, year, month, day)) {
              char digits[16];
              std::snprintf(digits, sizeof digits, "%04d%02d%02d", year, month, day);
              text = digits;
            }
          }
          table_->PutFieldText(n, text);
          break;
        }
        case ftMemo:
        case ftBlob:
        case ftUnknown:
          break;
      }
    } catch (...) {
      DetachBuffer();
      throw;
    }
    DetachBuffer();
  }
  if (state != dsSetKey && state != dsCalcFields && state != dsFilter && state != dsNewValue)
    FieldChanged(field);
}

// ---------------------------------------------------------------------------
// Translation

DERIDAR_ROW_PATH int32_t TDeridarDataSet::TranslateText(const char* source, char* destination,
                                                        int32_t count, int direction) {
  if (!destination) return count;
  if (!source) {
    destination[0] = '\0';
    return 0;
  }
  if (count <= 0) return count;
  if (!translateASCII_) {
    if (source != destination) std::memmove(destination, source, static_cast<size_t>(count));
  } else if (direction == 1) {
    TranslateToOem(source, destination, static_cast<size_t>(count));
  } else {
    TranslateToAnsi(source, destination, static_cast<size_t>(count));
  }
  return count;
}

std::string TDeridarDataSet::TranslateText(std::string_view source, bool toOem) {
  std::string out(source.size(), '\0');
  TranslateText(source.data(), out.data(), static_cast<int32_t>(source.size()), toOem ? 1 : 0);
  return out;
}

DERIDAR_ROW_PATH void TDeridarDataSet::TranslateTextInPlace(std::string& text, bool toOem) {
  TranslateText(text.data(), text.data(), static_cast<int32_t>(text.size()), toOem ? 1 : 0);
}

// ---------------------------------------------------------------------------
// Counts and record numbers

int32_t TDeridarDataSet::RecordCount() {
  TDataSet::CheckActive();
  if (!exactCount_) return table_->RecordCount();
  const TRecNo remembered = table_->RecNumber();
  int32_t count = 0;
  table_->RestoreCurrentRecord();
  table_->ReadRecord(GotoFirst);
  while (!table_->Eof()) {
    ++count;
    table_->Skip(1);
  }
  if (remembered > 0) table_->ReadRecord(remembered);
  return count;
}

template <class Work>
auto TDeridarDataSet::AtTablePlace(Work&& work) {
  GSobjIndexTag* tag = table_->CurrentTag();
  table_->RestoreCurrentRecord();
  const TRecNo where = table_->RecNumber();
  const bool positioned = table_->Positioned();
  // The tag is put back on the table's record, as a move would leave it.
  // The record is read again: the image the tag's key is taken from may be
  // in a row buffer of the dataset, not in the table's own buffer, and a
  // key taken from whatever the own buffer last held finds no entry (the
  // tag then stands on the first one, and the next row read would be the
  // order's second).
  const auto restore = [&] {
    if (positioned && where >= 1 && where <= table_->RecordCount()) table_->ReadRecord(where);
  };
  decltype(work(*tag)) result{};
  try {
    result = work(*tag);
  } catch (...) {
    // The work's own failure (a damaged node names its file) is the one
    // worth reporting.
    try {
      restore();
    } catch (...) {
    }
    throw;
  }
  restore();
  return result;
}

template <class Visit>
bool TDeridarDataSet::WalkCurrentTag(Visit&& visit) {
  return AtTablePlace([&](GSobjIndexTag& tagAtWork) {
    GSobjIndexTag* tag = &tagAtWork;
    bool whole = true;
    for (TRecNo n = tag->MoveTo(GotoFirst); n > 0 && whole; n = tag->MoveTo(GotoNext)) {
      if (!(whole = visit(n))) break;
      // The rest of the leaf at once when its last key is still inside the
      // range: the keys between lie inside as well. The move after it then
      // goes on to the next leaf.
      GSobjIndexKey* leaf = tag->LeafImage();
      if (tag->Reversed() || leaf == nullptr || !leaf->IsLeaf()) continue;
      const int32_t last = leaf->EntryCount() - 1;
      if (leaf->Position() < 0 || leaf->Position() >= last) continue;
      if (tag->RangeHigh().Length() > 0 &&
          tag->CompareKeys(tag->RangeHigh(), *leaf->Entry(static_cast<size_t>(last)), tag->RangePartial()) == -1)
        continue;
      for (int32_t i = leaf->Position() + 1; i <= last && whole; ++i)
        whole = visit(static_cast<TRecNo>(leaf->Entry(static_cast<size_t>(i))->Link()));
      leaf->SetPosition(last);
    }
    return whole;
  });
}

bool TDeridarDataSet::CountCurrentTag(const std::vector<uint8_t>* deleted, int32_t step, int32_t& count,
                                      std::vector<TRecNo>& ends) {
  int64_t keys = 0;
  const bool counted = AtTablePlace([&](GSobjIndexTag& tag) { return tag.CountRangeKeys(step, deleted, keys, ends); });
  if (!counted || keys > std::numeric_limits<int32_t>::max()) {
    ends.clear();
    return false;
  }
  count = static_cast<int32_t>(keys);
  return true;
}

const std::vector<uint8_t>* TDeridarDataSet::DeletedMarks() {
  if (table_->Encrypted()) return nullptr;
  const TRecNo count = table_->RecordCount();
  if (deletedMarksCount_ == count && deletedMarksStamp_ == table_->UpdateStamp()) return &deletedMarks_;
  deletedMarks_.assign(static_cast<size_t>(count) + 1, 0);
  deletedMarksAny_ = false;
  // Whole blocks of records, the first byte of each being its flag.
  const int32_t length = table_->RecordLength();
  const int32_t perBlock = std::max<int32_t>(1, (1 << 16) / std::max(length, 1));
  std::vector<char> block(static_cast<size_t>(perBlock) * static_cast<size_t>(length));
  for (TRecNo first = 1; first <= count; first += perBlock) {
    const int32_t records = std::min<int32_t>(perBlock, count - first + 1);
    const int64_t at = table_->HeaderLength() + static_cast<int64_t>(first - 1) * length;
    const int32_t got = table_->ReadAt(at, block.data(), records * length);
    for (int32_t i = 0; i < records && (i + 1) * length <= got; ++i) {
      const bool marked = block[static_cast<size_t>(i) * length] == '*';
      deletedMarks_[static_cast<size_t>(first + i)] = marked;
      deletedMarksAny_ |= marked;
    }
  }
  deletedMarksCount_ = count;
  deletedMarksStamp_ = table_->UpdateStamp();
  return &deletedMarks_;
}

const TDeridarDataSet::TOrderRows* TDeridarDataSet::WholeOrderRows(const std::vector<uint8_t>* deleted,
                                                                    int32_t step) {
  GSobjIndexTag* tag = table_->CurrentTag();
  std::string order;
  for (const std::string& file : indexFiles_) order += file + '\n';
  order += table_->CurrentTagName();
  int64_t indexStamp = 0;
  if (!tag->OwnerFile() || !tag->OwnerFile()->NodeStamp(indexStamp)) return nullptr;
  const auto same = [&](const TOrderRows& known) {
    return known.order == order && known.indexStamp == indexStamp && known.root == tag->RootAddress() &&
           known.records == table_->RecordCount() && known.tableStamp == table_->UpdateStamp() &&
           known.useDeleted == useDeleted_ && known.step == step;
  };
  for (const TOrderRows& known : orderRows_)
    if (same(known)) return &known;
  TOrderRows counted{order, indexStamp, tag->RootAddress(), table_->RecordCount(), table_->UpdateStamp(),
                     useDeleted_, step, 0, {}};
  if (!CountCurrentTag(deleted, step, counted.count, counted.stepEnds)) {
    counted.stepEnds.reserve(static_cast<size_t>(table_->RecordCount() / step + 1));
    WalkCurrentTag([&](TRecNo n) {
      if (!deleted || static_cast<size_t>(n) >= deleted->size() || !(*deleted)[static_cast<size_t>(n)]) {
        if (++counted.count % step == 0) counted.stepEnds.push_back(n);
      }
      return true;
    });
  }
  counted.stepEnds.shrink_to_fit();
  if (orderRows_.size() >= kKnownOrders) orderRows_.erase(orderRows_.begin());
  orderRows_.push_back(std::move(counted));
  return &orderRows_.back();
}

int32_t TDeridarDataSet::CountRecords(int32_t step, std::vector<TBookmark>& ends) {
  ends.clear();
  if (!Active() || !table_ || step <= 0 || State() != dsBrowse) return -1;
  // A filter decides per record, which needs the record read.
  if (!table_->CurrentTag() || table_->FilterActive() || (Filtered() && OnFilterRecord)) return -1;
  const std::vector<uint8_t>* deleted = nullptr;
  if (!useDeleted_) {
    if (!(deleted = DeletedMarks())) return -1;
    // The marks matter only when some record is marked: without any, every
    // entry is counted and whole leaves are passed by their counts.
    if (!deletedMarksAny_) deleted = nullptr;
  }
  if (!table_->CurrentTag()->HasRange()) {
    // A whole order is counted once and kept.
    const TOrderRows* rows = WholeOrderRows(deleted, step);
    if (!rows) return -1;
    ends.reserve(rows->stepEnds.size());
    for (TRecNo n : rows->stepEnds) ends.push_back(BookmarkText(n));
    return rows->count;
  }
  // A range the index counts from its structure is counted whatever its
  // size. Else it is walked while it stays small, and a large one is left
  // to be read in steps, as a key press must not wait for a walk over the
  // order.
  int32_t count = 0;
  std::vector<TRecNo> records;
  if (CountCurrentTag(deleted, step, count, records)) {
    ends.reserve(records.size());
    for (TRecNo n : records) ends.push_back(BookmarkText(n));
    return count;
  }
  int32_t keys = 0;
  const bool whole = WalkCurrentTag([&](TRecNo n) {
    if (++keys > kRangeCountLimit) return false;
    if (deleted && static_cast<size_t>(n) < deleted->size() && (*deleted)[static_cast<size_t>(n)]) return true;
    if (++count % step == 0) ends.push_back(BookmarkText(n));
    return true;
  });
  if (whole) return count;
  ends.clear();
  return -1;
}

DERIDAR_ROW_PATH int32_t TDeridarDataSet::ActiveRecordNumber() {
  TDataSet::CheckActive();
  const char* buffer = State() == dsCalcFields ? CalcBuffer() : ActiveBuffer();
  if (!buffer || (State() == dsBrowse && IsEmpty())) return 0;
  return BufferRecNo(buffer);
}

void TDeridarDataSet::GotoRecordNumber(int32_t recordNumber) {
  CheckBrowseMode();
  table_->RestoreCurrentRecord();
  beforeFirst_ = afterLast_ = false;
  DoBeforeScroll();
  table_->ReadRecord(recordNumber);
  Resync(rmCenter);
  DoAfterScroll();
}

bool TDeridarDataSet::IsSequenced() {
  return table_ && !table_->CurrentTag() && !Filtered();
}

// ---------------------------------------------------------------------------
// Editing

void TDeridarDataSet::LeaveEditState() { CheckBrowseMode(); }

void TDeridarDataSet::StartEdit() {
  RequireOpenTable();
  char* buffer = ActiveBuffer();
  AttachBuffer(buffer);
  try {
    table_->ReadRecord(BufferRecNo(buffer));
    if (!table_->LockRecord(table_->RecNumber())) DataSetError(Msg::RecordLocked);
  } catch (...) {
    DetachBuffer();
    throw;
  }
  DetachBuffer();
  editInProgress_ = true;
}

void TDeridarDataSet::PostRecord() {
  RequireOpenTable();
  char* buffer = ActiveBuffer();
  AttachBuffer(buffer);
  try {
    if (State() == dsEdit)
      table_->WriteRecord(BufferRecNo(buffer));
    else
      table_->AppendRecord();
  } catch (...) {
    DetachBuffer();
    table_->UnlockTable();
    throw;
  }
  DetachBuffer();
  table_->UnlockTable();
  editInProgress_ = false;
  beforeFirst_ = afterLast_ = false;
}

void TDeridarDataSet::CancelRecord() {
  if (table_) table_->UnlockTable();
  editInProgress_ = false;
}

void TDeridarDataSet::AddRecordBuffer(TRecordBuffer buffer, bool /*append*/) {
  RequireOpenTable();
  AttachBuffer(buffer);
  try {
    table_->AppendRecord();
  } catch (...) {
    DetachBuffer();
    throw;
  }
  DetachBuffer();
  editInProgress_ = false;
  beforeFirst_ = afterLast_ = false;
}

void TDeridarDataSet::ResettleAfterMark() {
  table_->SetUseDeleted(useDeleted_);
  table_->ReadRecord(GotoCurrent);
  if (table_->Eof()) {
    table_->ReadRecord(GotoPrevious);
    afterLast_ = table_->Bof();
  }
}

void TDeridarDataSet::DeleteRecord() {
  RequireOpenTable();
  table_->RestoreCurrentRecord();
  try {
    table_->SetUseDeleted(true);
    table_->ReadRecord(BufferRecNo(ActiveBuffer()));
    table_->MarkDeleted();
  } catch (const EDeridarBase&) {
    table_->SetUseDeleted(useDeleted_);
    DataSetError(Msg::CannotDelete);
  }
  ResettleAfterMark();
}

void TDeridarDataSet::RecallRecord() {
  CheckActive();
  CheckBrowseMode();
  if (IsEmpty()) return;
  UpdateCursorPos();
  table_->RestoreCurrentRecord();
  try {
    table_->SetUseDeleted(true);
    table_->ReadRecord(BufferRecNo(ActiveBuffer()));
    table_->MarkUndeleted();
  } catch (const EDeridarBase&) {
    table_->SetUseDeleted(useDeleted_);
    DataSetError(Msg::CannotRecall);
  }
  ResettleAfterMark();
  Resync(0);
}

void TDeridarDataSet::RefreshRecord() {
  RequireOpenTable();
  char* buffer = ActiveBuffer();
  if (!buffer) return;
  table_->RestoreCurrentRecord();
  // A refresh reads the file's bytes, not the read-ahead window's.
  table_->DropCacheWindow();
  table_->ReadRecord(BufferRecNo(buffer));
  if (table_->FilterActive()) table_->RebuildFilterSet();
}

void TDeridarDataSet::BeginScan(bool fromFirst) {
  RequireOpenTable();
  // A scan in record-number order reads through the read-ahead window, one
  // file read for many records. It starts from the first record when a
  // grid's rows are fetched anew: the header is refreshed then, which
  // empties the window when another writer changed the table meanwhile.
  scanCacheWas_ = table_->CacheOn();
  if (!table_->CurrentTag()) {
    if (!scanCacheWas_) table_->SetCacheSwitch(true);
    if (fromFirst) table_->RefreshHeader();
  }
}

int32_t TDeridarDataSet::InternalSkip(TRecordBuffer, int32_t count, TBookmark& last) {
  RequireOpenTable();
  if (afterLast_ || count <= 0) return 0;
  // The handler moves on its own record image, read in place from the
  // read-ahead window where it is on: only the deletion flag and the
  // record filter look at it.
  table_->RestoreCurrentRecord();
  const bool directWas = table_->DirectCache();
  table_->SetDirectCache(true);
  int32_t passed = 0;
  TRecNo lastRecord = 0;
  try {
    while (passed < count) {
      if (beforeFirst_) {
        table_->ReadRecord(GotoFirst);
        beforeFirst_ = false;
      } else {
        table_->ReadRecord(GotoNext);
      }
      if (table_->Eof() || table_->Bof()) break;
      lastRecord = table_->RecNumber();
      ++passed;
    }
  } catch (...) {
    table_->SetDirectCache(directWas);
    DataSetError(Msg::RecordBeyondRange);
  }
  table_->SetDirectCache(directWas);
  if (passed > 0) last = BookmarkText(lastRecord);
  return passed;
}

void TDeridarDataSet::EndScan() {
  if (!table_) return;
  // A reader that nobody else writes through (read-only, or the table is
  // not shared) keeps the window for the next scan: it holds the file's
  // bytes until a header refresh sees another writer's change, and this
  // handle's own writes update it. A shared writer reads records it is
  // about to lock and change, so the window goes with the scan.
  const bool keep = !table_->IsReadWrite() || !table_->IsShared();
  if (!keep && table_->CacheOn() != scanCacheWas_) table_->SetCacheSwitch(scanCacheWas_);
}

// ---------------------------------------------------------------------------
// Hooks of the table object

DERIDAR_ROW_PATH bool TDeridarDataSet::AcceptTableRecord() { return !Active() || FilterAccepts(); }

void TDeridarDataSet::TableStatus(int32_t stat1, int32_t stat2, int32_t stat3) {
  if (OnStatus) OnStatus(*this, stat1, stat2, stat3);
}

// ---------------------------------------------------------------------------
// Blob streams

std::unique_ptr<TStream> TDeridarDataSet::CreateBlobStream(TField* field, TBlobStreamMode mode) {
  return std::make_unique<THCBlobStream>(field, mode);
}

THCBlobStream::THCBlobStream(TField* field, TBlobStreamMode mode)
    : field_(field),
      fieldNo_(field ? field->FieldNo() : 0),
      dataSet_(field ? dynamic_cast<TDeridarDataSet*>(field->DataSet()) : nullptr) {
  block_.assign(1, '\0');
  if (!dataSet_) return;
  dataSet_->RequireOpenTable();
  const TDataSetState state = dataSet_->State();
  if (mode != bmRead) {
    if (field_->ReadOnly()) DatabaseError(DbMsg::FieldReadOnly, {field_->FieldName()});
    if (state != dsEdit && state != dsInsert) DataSetError(Msg::NotEditing);
  }
  char* buffer = dataSet_->FieldBuffer();
  if (!buffer) return;
  if (mode == bmWrite) {
    modified_ = true;
    return;
  }
  DBFObject* table = dataSet_->Table();
  dataSet_->AttachBuffer(buffer);
  std::string text;
  try {
    text = table->ReadMemo(fieldNo_);
  } catch (...) {
    dataSet_->DetachBuffer();
    throw;
  }
  dataSet_->DetachBuffer();
  block_.assign(text.begin(), text.end());
  block_.push_back('\0');
  if (field_->Transliterate() && !text.empty())
    dataSet_->TranslateText(block_.data(), block_.data(), static_cast<int32_t>(text.size()), 0);
}

THCBlobStream::~THCBlobStream() {
  try {
    Flush();
  } catch (...) {
    // Callers that care call Flush themselves and see the failure.
  }
}

int32_t THCBlobStream::Read(void* buffer, int32_t count) {
  const int64_t size = static_cast<int64_t>(block_.size()) - 1;
  if (count <= 0 || position_ >= size) return 0;
  const int64_t remaining = size - position_;
  if (count > remaining) {
    // The rest and its terminating zero.
    std::memcpy(buffer, block_.data() + position_, static_cast<size_t>(remaining) + 1);
    position_ = size;
    return static_cast<int32_t>(remaining);
  }
  std::memcpy(buffer, block_.data() + position_, static_cast<size_t>(count));
  position_ += count;
  return count;
}

int32_t THCBlobStream::Write(const void* buffer, int32_t count) {
  if (count <= 0) return 0;
  const int64_t end = position_ + count;
  if (end >= std::numeric_limits<int32_t>::max()) return 0;
  if (static_cast<int64_t>(block_.size()) < end + 1) block_.resize(static_cast<size_t>(end) + 1, '\0');
  std::memcpy(block_.data() + position_, buffer, static_cast<size_t>(count));
  position_ = end;
  modified_ = true;
  return count;
}

int64_t THCBlobStream::Seek(int64_t offset, TSeekOrigin origin) {
  const int64_t size = static_cast<int64_t>(block_.size()) - 1;
  int64_t base = origin == soBeginning ? 0 : (origin == soCurrent ? position_ : size);
  position_ = std::clamp<int64_t>(base + offset, 0, size);
  return position_;
}

void THCBlobStream::Flush() {
  if (!modified_ || !dataSet_ || !dataSet_->Table()) return;
  const TDataSetState state = dataSet_->State();
  if (state != dsEdit && state != dsInsert) return;
  WriteBack();
  modified_ = false;
}

void THCBlobStream::WriteBack() {
  std::string text(block_.data(), block_.size() - 1);
  if (field_->Transliterate() && !text.empty())
    dataSet_->TranslateText(text.data(), text.data(), static_cast<int32_t>(text.size()), 1);
  char* buffer = dataSet_->ActiveBuffer();
  DBFObject* table = dataSet_->Table();
  dataSet_->AttachBuffer(buffer);
  try {
    table->WriteMemo(fieldNo_, text);
  } catch (...) {
    dataSet_->DetachBuffer();
    throw;
  }
  dataSet_->DetachBuffer();
  dataSet_->FieldChanged(field_);
}

// ---------------------------------------------------------------------------
// Index files and orders

namespace {

}  // namespace

void TDeridarDataSet::OpenIndexFilesIn(GSO_dBHandler& table) {
  table.CloseIndexFiles();
  const std::string folder = DatabasePath();
  for (const std::string& entry : indexFiles_) {
    std::string path = entry;
    if (!HasExtension(path)) path += ".NDX";
    if (path.find('/') == std::string::npos) path = folder + path;
    if (!FileExists(path)) DataSetError(DsMsg::FileMissing, path);
    int32_t result = 0;
    try {
      result = table.OpenIndexFile(path);
    } catch (const EDeridarBase&) {
      DataSetError(Msg::ErrorGetting, path);
    }
    // -1 also when every slot is taken: only a file open already is
    // reported as such.
    if (result == -1)
      DataSetError(table.IndexFileByName(path) > 0 ? Msg::IndexAlreadyOpen : Msg::ErrorGetting, path);
  }
}

void TDeridarDataSet::IndexFilesChanged() {
  if (loading_) return;
  IndexDefs().SetUpdated(false);
  if (!table_) {
    // A closed dataset only checks that the files open.
    std::unique_ptr<DBFObject> temporary;
    try {
      temporary = MakeTable(false, true);
    } catch (const std::exception&) {
      return;
    }
    if (indexFiles_.empty()) {
      indexName_.clear();
      return;
    }
    OpenIndexFilesIn(*temporary);
    return;
  }
  table_->RestoreCurrentRecord();
  if (indexFiles_.empty()) {
    table_->CloseIndexFiles();
    indexName_.clear();
    return;
  }
  OpenIndexFilesIn(*table_);
  // The order stays when the new files hold its tag; otherwise the table
  // falls back to record order rather than failing on a tag of the files
  // just closed.
  bool known = false;
  for (int32_t n = 1; n <= table_->TagCount() && !known; ++n)
    known = CompareText(table_->TagByNumber(n)->TagName(), Trim(indexName_)) == 0;
  if (!known) indexName_.clear();
  table_->SelectTag(indexName_, false);
  ReturnToActiveRow();
}

void TDeridarDataSet::ReturnToActiveRow() {
  if (!Active() || table_->Eof() || table_->Bof()) return;
  const char* buffer = ActiveBuffer();
  if (!buffer || IsEmpty()) return;
  const TRecNo n = BufferRecNo(buffer);
  if (n > 0 && n <= table_->RecordCount()) table_->ReadRecord(n);
}

void TDeridarDataSet::SetIndexFiles(const std::vector<std::string>& files) {
  IndexDefs().SetUpdated(false);
  IndexDefs().Clear();
  if (Active()) CheckBrowseMode();
  indexFiles_ = files;
  IndexFilesChanged();
  if (table_ && !indexFiles_.empty()) BuildIndexDefs();
  if (Active()) {
    try {
      First();
    } catch (const std::exception&) {
      // The order stays usable; the rows are refetched on the next move.
    }
  }
}

void TDeridarDataSet::OpenIndexes(const std::string& fileList, const std::string& tagName) {
  if (Active()) CheckBrowseMode();
  IndexDefs().SetUpdated(false);
  indexFiles_ = SplitIndexList(fileList);
  IndexFilesChanged();
  SetIndexName(tagName);
}

void TDeridarDataSet::SetIndexName(const std::string& name) {
  if (!table_) {
    indexName_ = name;
    return;
  }
  if (Active()) CheckBrowseMode();
  table_->RestoreCurrentRecord();
  // An unknown tag is refused before the name is taken: the order and the
  // name stay as they were.
  table_->SelectTag(name, false);
  indexName_ = name;
  ReturnToActiveRow();
  ApplyMasterRange();
  if (!Active()) return;
  if (table_->NotInOrder() || table_->Eof() || table_->Bof()) {
    try {
      First();
    } catch (const std::exception&) {
      // Left to the next move.
    }
  } else {
    try {
      Resync(0);
    } catch (const std::exception&) {
      // Left to the next move.
    }
  }
  DataEvent(deDataSetChange);
}

void TDeridarDataSet::IndexOn(const std::string& fileName, const std::string& tagName,
                              const std::string& keyExpression, const std::string& forExpression,
                              int32_t uniqueness, int32_t sortOrder) {
  CheckActive();
  CheckBrowseMode();
  IndexDefs().SetUpdated(false);
  busy_ = 1;
  DisableControls();
  orderRows_.clear();
  try {
    table_->RestoreCurrentRecord();
    table_->IndexOn(fileName, tagName, keyExpression, forExpression, uniqueness, sortOrder);
  } catch (...) {
    busy_ = 0;
    EnableControls();
    try {
      First();
    } catch (const std::exception&) {
      // The build failure is the one worth reporting.
    }
    throw;
  }
  busy_ = 0;
  EnableControls();
  First();
}

int32_t TDeridarDataSet::IndexTagCount() const { return table_ ? table_->TagCount() : 0; }

std::string TDeridarDataSet::IndexTagName(int32_t n) const {
  GSobjIndexTag* tag = table_ ? table_->TagByNumber(n) : nullptr;
  return tag ? tag->TagName() : std::string();
}

std::string TDeridarDataSet::IndexTagKey(int32_t n) const {
  GSobjIndexTag* tag = table_ ? table_->TagByNumber(n) : nullptr;
  return tag ? tag->KeyExpression() : std::string();
}

void TDeridarDataSet::BuildIndexDefs() {
  buildingIndexDefs_ = true;
  IndexDefs().Clear();
  for (int32_t n = 1; n <= IndexTagCount(); ++n) {
    std::string key = IndexTagKey(n);
    if (key.find('(') != std::string::npos) {
      IndexDefs().Add(IndexTagName(n), key, ixExpression);
      continue;
    }
    std::string fields;
    for (char c : key) {
      if (c == ' ') continue;
      fields += (c == '+' || c == '-') ? ';' : c;
    }
    IndexDefs().Add(IndexTagName(n), fields, 0);
  }
  IndexDefs().SetUpdated(true);
  buildingIndexDefs_ = false;
}

// ---------------------------------------------------------------------------
// Ranges

void TDeridarDataSet::SetRange(const std::string& low, const std::string& high) {
  CheckActive();
  CheckBrowseMode();
  // Bounds are at most 255 characters, as the key buffers hold.
  std::string lowText = TranslateText(std::string_view(low).substr(0, 255), true);
  std::string highText = TranslateText(std::string_view(high).substr(0, 255), true);
  table_->RestoreCurrentRecord();
  if (table_->SetKeyRange(lowText, highText, true, true, false)) FirstOfNewRange();
}

void TDeridarDataSet::SetRangeEx(const std::string& low, const std::string& high,
                                 bool lowInclusive, bool highContinue, bool partialHigh) {
  CheckActive();
  CheckBrowseMode();
  table_->RestoreCurrentRecord();
  if (table_->SetKeyRange(low, high, lowInclusive, highContinue, partialHigh))
    FirstOfNewRange();
  else
    First();
}

void TDeridarDataSet::FirstOfNewRange() {
  rangeTopRecord_ = table_->RecNumber();
  try {
    First();
  } catch (...) {
    rangeTopRecord_ = -1;
    throw;
  }
  rangeTopRecord_ = -1;
}

// ---------------------------------------------------------------------------
// Searches

bool TDeridarDataSet::LocateRecord(const std::string& fields,
                                   const std::vector<std::string>& values, uint32_t options) {
  CheckActive();
  CheckBrowseMode();
  table_->RestoreCurrentRecord();
  const TRecNo remembered = table_->RecNumber();
  afterLast_ = false;
  // The values are screen texts; the table holds file texts.
  std::vector<std::string> stored;
  for (const std::string& value : values) stored.push_back(TranslateText(value, true));
  const bool found = table_->FindByFields(fields, stored, (options & loCaseInsensitive) != 0,
                                          (options & loPartialKey) != 0, 0);
  if (found) {
    DoBeforeScroll();
    beforeFirst_ = false;
    Resync(rmExact | rmCenter);
    DoAfterScroll();
  } else if (remembered > 0) {
    table_->ReadRecord(remembered);
  }
  return found;
}

std::optional<std::string> TDeridarDataSet::LookupValue(const std::string& fields,
                                                       const std::vector<std::string>& values,
                                                       const std::string& resultField) {
  CheckActive();
  CheckBrowseMode();
  TField* result = FieldByName(resultField);
  table_->RestoreCurrentRecord();
  const TRecNo remembered = table_->RecNumber();
  std::vector<std::string> stored;
  for (const std::string& value : values) stored.push_back(TranslateText(value, true));
  std::optional<std::string> answer;
  std::vector<char> buffer(static_cast<size_t>(RecordBufferSize()), 0);
  try {
    if (table_->FindByFields(fields, stored, false, false, 0)) {
      const TRecNo found = table_->RecNumber();
      std::memcpy(buffer.data(), table_->CurrentRecord(), static_cast<size_t>(recordLength_));
      SetBufferRecNo(buffer.data(), found);
      GetCalcFields(buffer.data());
      lookupBuffer_ = buffer.data();
      if (!result->IsNull()) answer = result->AsString();
      lookupBuffer_ = nullptr;
    }
  } catch (...) {
    lookupBuffer_ = nullptr;
    if (remembered > 0) table_->ReadRecord(remembered);
    throw;
  }
  lookupBuffer_ = nullptr;
  if (remembered > 0) table_->ReadRecord(remembered);
  return answer;
}

// ---------------------------------------------------------------------------
// Filters

void TDeridarDataSet::ApplyFilter(const std::string& text, uint32_t options) {
  table_->RestoreCurrentRecord();
  table_->SetFilterExpression(translateASCII_ ? TranslateToOem(text) : text,
                              (options & foCaseInsensitive) != 0,
                              (options & foNoPartialCompare) == 0);
}

void TDeridarDataSet::SetFilter(const std::string& text) {
  if (Active() && Filtered()) {
    CheckBrowseMode();
    table_->SetFilterActive(true);
    ApplyFilter(text, FilterOptions());
    TDataSet::SetFilter(text);
    First();
    return;
  }
  TDataSet::SetFilter(text);
}

void TDeridarDataSet::SetFilterOptions(uint32_t options) {
  if (Active() && Filtered()) {
    CheckBrowseMode();
    table_->SetFilterActive(true);
    ApplyFilter(Filter(), options);
    TDataSet::SetFilterOptions(options);
    First();
    return;
  }
  TDataSet::SetFilterOptions(options);
}

void TDeridarDataSet::SetFiltered(bool value) {
  if (!Active()) {
    TDataSet::SetFiltered(value);
    return;
  }
  CheckBrowseMode();
  if (value != Filtered()) {
    table_->SetFilterActive(value);
    if (value) {
      // A filter text the handler refuses leaves the dataset unfiltered.
      try {
        ApplyFilter(Filter(), FilterOptions());
      } catch (...) {
        table_->SetFilterActive(false);
        throw;
      }
    }
    TDataSet::SetFiltered(value);
  }
  First();
}

// ---------------------------------------------------------------------------
// Master/detail

void TgsMasterDataLink::ActiveChanged() {
  if (!Active()) detail_->MasterDisabled();
  else detail_->MasterChanged();
}

void TgsMasterDataLink::RecordChanged(TField* field) {
  if (!field) detail_->MasterChanged();
}

std::string TDeridarDataSet::MasterRangeKey() {
  GSobjIndexTag* tag = table_->CurrentTag();
  if (!tag || !tag->KeyEvaluator()) DataSetError(Msg::MasterNoIndex, tableName_);
  TDataSet* master = masterLink_.DataSet();
  if (!master || master->State() == dsInsert) return std::string(1, '\x01');

  std::vector<std::string> names = SplitIndexList(masterFields_);
  int32_t stringSize = 0;
  bool allStrings = true;
  std::vector<std::string> values;
  for (const std::string& name : names) {
    TField* field = master->FieldByName(name);
    if (field->DataType() == ftString)
      stringSize += field->Size();
    else
      allStrings = false;
    values.push_back(field->AsString());
  }
  std::string used = tag->KeyEvaluator()->FieldNames(17);
  std::vector<std::string> tagFields = SplitIndexList(used);
  if (tagFields.size() < names.size()) DataSetError(Msg::MasterFieldMismatch, tableName_);

  // The master values go into a scratch record under the tag's first
  // fields; the key expression evaluated on it is the range key.
  std::vector<char> scratch(static_cast<size_t>(recordLength_) + 1, ' ');
  std::string key;
  table_->SetCurrentRecord(scratch.data());
  try {
    table_->BlankRecord();
    for (size_t i = 0; i < names.size(); ++i)
      table_->PutValueByName(tagFields[i], TranslateText(values[i], true));
    TgsVariant value;
    tag->KeyEvaluator()->EvaluateToVariant(value);
    key = value.AsText();
  } catch (...) {
    table_->RestoreCurrentRecord();
    throw;
  }
  table_->RestoreCurrentRecord();
  if (allStrings && static_cast<int32_t>(key.size()) > stringSize) key.resize(stringSize);
  return key;
}

void TDeridarDataSet::ApplyMasterRange() {
  if (!table_ || !masterLink_.Active() || masterFields_.empty()) return;
  TDataSet* master = masterLink_.DataSet();
  table_->RestoreCurrentRecord();
  if (master->IsEmpty()) {
    const std::string none(1, '\xFF');
    table_->SetKeyRange(none, none, false, false, true);
    return;
  }
  std::string key = MasterRangeKey();
  if (key == std::string(1, '\x01')) return;
  table_->SetKeyRange(key, key, true, true, true);
}

void TDeridarDataSet::MasterChanged() {
  if (!Active() || !table_ || masterFields_.empty()) return;
  TDataSet* master = masterLink_.DataSet();
  if (!master || !master->Active()) return;
  CheckBrowseMode();
  table_->RestoreCurrentRecord();
  if (master->IsEmpty()) {
    const std::string none(1, '\xFF');
    table_->SetKeyRange(none, none, false, false, false);
    First();
    return;
  }
  std::string key = MasterRangeKey();
  if (key == std::string(1, '\x01')) return;
  GSobjIndexTag* tag = table_->CurrentTag();
  const bool partial = static_cast<int32_t>(key.size()) < tag->KeyLength();
  table_->SetKeyRange(key, key, true, true, partial);
  First();
}

void TDeridarDataSet::MasterDisabled() {
  if (!Active() || !table_ || !table_->CurrentTag()) return;
  SetRange(std::string(), std::string());
}
