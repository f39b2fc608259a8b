// The table handler (see gs6_dbsy.h): moves and skips in the current order,
// the read-ahead switch, index locks around writes, the write hook, renames,
// protocol hand-over and re-keying of an enciphered table.
#include "engine/table/gs6_dbsy.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <exception>
#include <vector>

#include "engine/expr/gs6_sql.h"
#include "engine/index/gs6_cdx.h"
#include "engine/index/gs6_mdx.h"
#include "engine/index/gs6_ntx.h"
#include "engine/index/gs6_ndx.h"
#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "engine/table/gs6_memo.h"
#include "platform/ansi.h"
#include "platform/file.h"
#include "platform/hot.h"
#include "platform/locale.h"

namespace {

// File name without folder and extension, ASCII letters upper-cased.
std::string BaseNameUpper(std::string_view path) {
  size_t slash = path.find_last_of('/');
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  std::string out(name);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

bool IsMotionCode(int32_t target) { return target < 0; }

}  // namespace

GSO_dBHandler::GSO_dBHandler(const std::string& fileName, const std::string& password,
                             bool shared, bool readWrite)
    : GSO_dBaseFld(fileName, password, shared, readWrite) {}

GSO_dBHandler::~GSO_dBHandler() {
  // Index files write back their nodes while the table is still there.
  currentTag_ = nullptr;
  for (auto& file : indexFiles_) file.reset();
}

// ---------------------------------------------------------------------------
// Moves

DERIDAR_ROW_PATH int32_t GSO_dBHandler::RejectDirection(int32_t target) {
  switch (target) {
    case GotoLast:
    case GotoPrevious:
      return GotoPrevious;
    default:
      return GotoNext;
  }
}

DERIDAR_ROW_PATH void GSO_dBHandler::ReadFromTable(int32_t target) {
  if (target > 0 && target > RecordCount()) RefreshHeader();
  if (target == 0 || target > RecordCount()) {
    // No such record: a blank record at end-of-file.
    BlankRecord();
    SetRecordChanged(false);
    SetEndFlags(false, true);
    return;
  }
  GSO_dBaseFld::ReadRecord(target);
}

DERIDAR_ROW_PATH void GSO_dBHandler::ReadRecord(int32_t target) {
  if (TableState() != kStateNormal) {
    GSO_dBaseFld::ReadRecord(target);
    return;
  }
  notInOrder_ = false;
  positioned_ = false;
  SetEndFlags(false, false);
  const int32_t reject = RejectDirection(target);
  const bool cacheWas = CacheOn();
  const bool ordered = currentTag_ != nullptr || (filterActive_ && filterSet_);

  try {
    int32_t code = target;
    for (;;) {
      if (!IsMotionCode(target) || !ordered) {
        // A record number, or a code carried out in record order.
        ReadFromTable(code);
      } else {
        TRecNo n = 0;
        if (currentTag_) {
          if (CacheOn()) SetCache(false);
          for (;;) {
            n = currentTag_->MoveTo(code);
            if (n <= 0) break;
            if (!filterActive_ || filterSet_->TestBit(n)) break;
            code = reject;
          }
          if (n <= 0) {
            // Off the order: the end moved towards; an empty order (or
            // range) is at both ends.
            const bool empty = code == GotoFirst || code == GotoLast || code == GotoCurrent;
            SetEndFlags(empty || code == GotoPrevious, empty || code == GotoNext);
            break;
          }
        } else {
          n = NextInFilterSet(code);
          if (n <= 0) break;
        }
        ReadFromTable(n);
      }
      if (!IsMotionCode(target) || Eof() || Bof()) break;
      if ((!useDeleted_ && IsDeleted()) || !RecordAcceptable()) {
        code = reject;
        continue;
      }
      break;
    }
  } catch (...) {
    if (CacheOn() != cacheWas) SetCache(cacheWas);
    if (ClipperLocking()) UnlockIndexes();
    throw;
  }

  if (CacheOn() != cacheWas) SetCache(cacheWas);
  positioned_ = !Eof() && !Bof();
  if (positioned_ && currentTag_ && currentTag_->CurrentRecord() != RecNumber())
    notInOrder_ = currentTag_->SyncToRecord(RecNumber()) != RecNumber();
  if (positioned_ && filterActive_ && filterSet_ && !notInOrder_)
    notInOrder_ = !filterSet_->TestBit(RecNumber());
  if (ClipperLocking()) UnlockIndexes();
}

TRecNo GSO_dBHandler::NextInFilterSet(int32_t code) {
  const int32_t highest = std::min<int32_t>(filterSet_->HighestIndex(), RecordCount());
  int32_t from = 0;
  int32_t step = 1;
  switch (code) {
    case GotoLast:
      from = highest;
      step = -1;
      break;
    case GotoFirst:
      from = 1;
      break;
    case GotoPrevious:
      from = RecNumber() - 1;
      step = -1;
      break;
    case GotoCurrent:
      from = std::max<int32_t>(RecNumber(), 1);
      break;
    default:  // GotoNext
      from = RecNumber() + 1;
      break;
  }
  for (int32_t n = from; n >= 1 && n <= highest; n += step)
    if (filterSet_->TestBit(n)) return n;
  if (highest < 1)
    SetEndFlags(true, true);
  else
    SetEndFlags(step < 0, step > 0);
  return 0;
}

void GSO_dBHandler::Skip(int32_t count) {
  if (count == 0) {
    ReadRecord(GotoCurrent);
    return;
  }
  const int32_t direction = count > 0 ? GotoNext : GotoPrevious;
  const int64_t steps = std::llabs(int64_t{count});
  bool ranOff = false;
  if (filterRequested_ || !useDeleted_) {
    for (int64_t i = 0; i < steps; ++i) {
      ReadRecord(direction);
      if (Eof() || Bof()) {
        ranOff = true;
        break;
      }
    }
  } else if (currentTag_) {
    // Every key is a visible record: step through the tag alone.
    TRecNo n = 0;
    for (int64_t i = 0; i < steps; ++i) {
      n = currentTag_->MoveTo(direction);
      if (n <= 0) {
        ranOff = true;
        n = currentTag_->MoveTo(count < 0 ? GotoFirst : GotoLast);
        break;
      }
    }
    if (n > 0) {
      ReadRecord(n);
    } else {
      ranOff = true;
    }
  } else {
    int64_t wanted = int64_t{RecNumber()} + count;
    int64_t clamped = std::clamp<int64_t>(wanted, 1, std::max<TRecNo>(RecordCount(), 1));
    ranOff = wanted != clamped;
    ReadRecord(static_cast<int32_t>(clamped));
  }
  if (ranOff) SetEndFlags(count < 0, count > 0);
}

// ---------------------------------------------------------------------------
// Key searches (through the current tag)

namespace {

// A search key or range bound given as text, as a value for `tag` (at most
// 256 bytes). On a date tag a text is a date: eight digits are yyyymmdd,
// another number is a day number as it stands, anything else is read in the
// locale's short date form ("A Date value is required but invalid" when it
// is none); the value is the day number's text, which date keys read as
// their number. Other tags take the text as it is.
void SetKeyText(TgsVariant& value, const GSobjIndexTag& tag, std::string_view text) {
  text = text.substr(0, std::min<size_t>(text.size(), 256));
  if (tag.KeyType() != 'D') {
    value.SetText(text);
    return;
  }
  std::string_view trimmed = text;
  while (!trimmed.empty() && trimmed.front() == ' ') trimmed.remove_prefix(1);
  while (!trimmed.empty() && trimmed.back() == ' ') trimmed.remove_suffix(1);
  const bool eightDigits = trimmed.size() == 8 && std::all_of(trimmed.begin(), trimmed.end(), [](char c) {
                             return c >= '0' && c <= '9';
                           });
  double number = 0;
  if (!eightDigits && platform::TryTextToNumber(trimmed, number)) {
    value.SetText(trimmed);
    return;
  }
  try {
    value.SetText(std::to_string(DBFDate().TextToDay(trimmed)));
  } catch (const platform::ConvertError&) {
    RaiseError(Msg::ValueRequiredInvalid, "Date");
  }
}

}  // namespace

bool GSO_dBHandler::KeySearch(std::string_view key) {
  found_ = false;
  if (RecordCount() == 0) RefreshHeader();
  if (RecordCount() == 0) return false;
  if (ClipperLocking()) {
    try {
      LockIndexes();
    } catch (const EDeridarError&) {
      return false;
    }
  }
  if (!currentTag_) {
    ReadRecord(GotoLast);
    SetEndFlags(Bof(), true);
    if (ClipperLocking()) UnlockIndexes();
    return false;
  }
  GSobjIndexKeyData probe;
  SetKeyText(probe, *currentTag_, key);
  probe.SetLink(static_cast<uint32_t>(-1));
  TRecNo n = currentTag_->SeekKey(probe);
  if (n <= 0) {
    if (currentTag_->AtEnd() || !nearest_) {
      ReadRecord(GotoLast);
      SetEndFlags(Bof(), true);
    } else {
      ReadRecord(currentTag_->CurrentRecord());
    }
  } else {
    ReadRecord(n);
    // The record the key leads to may be hidden; the next visible one in the
    // order is the candidate (a move honours the filter, a read by number
    // does not).
    while (!Eof() && ((!useDeleted_ && IsDeleted()) || !RecordAcceptable() ||
                      (filterActive_ && !filterSet_->TestBit(RecNumber()))))
      ReadRecord(GotoNext);
    if (!Eof()) {
      GSobjIndexKeyData wanted;
      SetKeyText(wanted, *currentTag_, key);
      currentTag_->NormalizeKey(wanted, true);
      GSobjIndexKeyData current;
      current.CopyValue(currentTag_->CurrentKey());
      currentTag_->NormalizeKey(current, true);
      int matched = 0;
      int compare = currentTag_->CompareKeys(wanted, current, 0, &matched);
      found_ = compare == 0 ||
               (!exactMatch_ && matched >= static_cast<int64_t>(wanted.Length()));
    }
    if (!found_ && !nearest_) {
      ReadRecord(GotoLast);
      SetEndFlags(Bof(), true);
    }
  }
  if (ClipperLocking()) UnlockIndexes();
  return found_;
}

TRecNo GSO_dBHandler::KeyLookup(std::string_view tagName, std::string_view key) {
  GSobjIndexTag* tag = nullptr;
  for (const auto& file : indexFiles_) {
    if (file && (tag = file->FindTag(tagName)) != nullptr) break;
  }
  if (!tag) return -1;
  if (ClipperLocking()) LockIndexes();
  const bool exactWas = exactMatch_;
  exactMatch_ = true;
  TRecNo n = -1;
  try {
    GSobjIndexKeyData probe;
    SetKeyText(probe, *tag, key);
    probe.SetLink(static_cast<uint32_t>(-1));
    n = tag->LookupKey(probe);
  } catch (...) {
    exactMatch_ = exactWas;
    if (ClipperLocking()) UnlockIndexes();
    throw;
  }
  exactMatch_ = exactWas;
  if (ClipperLocking()) UnlockIndexes();
  return n > 0 ? n : -1;
}

// ---------------------------------------------------------------------------
// Writes and the write hook

bool GSO_dBHandler::LockIndexes() {
  if (indexLockDepth_++ > 0) return true;
  for (int32_t slot = 0; slot < kIndexSlotCount; ++slot) {
    if (!indexFiles_[slot]) continue;
    bool locked = false;
    try {
      locked = indexFiles_[slot]->LockIndex();
    } catch (const EDeridarError&) {
      locked = false;
    }
    if (!locked) {
      for (int32_t back = 0; back < slot; ++back)
        if (indexFiles_[back]) indexFiles_[back]->UnlockIndex();
      indexLockDepth_ = 0;
      RaiseError(Msg::IndexLockFailed, FileName());
    }
  }
  return true;
}

void GSO_dBHandler::UnlockIndexes() {
  if (indexLockDepth_ <= 0) return;
  if (--indexLockDepth_ > 0) return;
  // Records appended under the table lock reach the table before their
  // keys reach the index files; the index locks go even when that failed.
  std::exception_ptr failure;
  try {
    WriteHeldAppends();
  } catch (...) {
    failure = std::current_exception();
  }
  for (auto& file : indexFiles_)
    if (file) file->UnlockIndex();
  if (failure) std::rethrow_exception(failure);
}

void GSO_dBHandler::AppendRecord() {
  LockIndexes();
  try {
    GSO_dBaseFld::AppendRecord();
  } catch (...) {
    UnlockIndexes();
    throw;
  }
  UnlockIndexes();
}

void GSO_dBHandler::WriteRecord(TRecNo recNo) {
  LockIndexes();
  try {
    // The index entries of the record are those of its stored image: with
    // the index files locked, that image (not whatever record was read last)
    // is the old one the key upkeep removes.
    if (HasOpenIndex() && recNo >= 1 && recNo <= RecordCount())
      ReadStoredRecord(recNo, EditableSnapshot());
    GSO_dBaseFld::WriteRecord(recNo);
  } catch (...) {
    UnlockIndexes();
    throw;
  }
  UnlockIndexes();
}

DERIDAR_ROW_PATH bool GSO_dBHandler::NotifyStatus(int32_t code, int32_t value) {
  if (TableState() == kStateNormal && (code == 7 || code == 8)) {
    const TRecNo n = RecNumber();
    if (code == 7 && n > 0) {
      if (filterSet_ && filterExpression_)
        filterSet_->SetBit(n, EvaluateFilter() ? TgsHugeSet::kSet : TgsHugeSet::kClear);
      // The table reports an append with value 0 and a replace with the
      // record number.
      for (auto& file : indexFiles_)
        if (file) file->UpdateKeys(n, value == 0);
    }
    if (code == 8) {
      for (auto& file : indexFiles_)
        if (file) file->FlushWrites();
    }
    if (currentTag_ && n > 0) notInOrder_ = currentTag_->SyncToRecord(n) != n;
  }
  return GSO_dBaseFld::NotifyStatus(code, value);
}

bool GSO_dBHandler::EvaluateFilter() {
  if (!filterExpression_) return true;
  TgsExpValue value;
  TgsExpValueType type = filterExpression_->Evaluate(value);
  return type == TgsExpValueType::Boolean && value.AsBoolean();
}

// ---------------------------------------------------------------------------
// Index files, protocol, rename

GSobjIndexFile* GSO_dBHandler::IndexFile(int32_t slot) const {
  if (slot < 1 || slot > kIndexSlotCount) return nullptr;
  return indexFiles_[slot - 1].get();
}

int32_t GSO_dBHandler::OpenIndexCount() const {
  return static_cast<int32_t>(
      std::count_if(indexFiles_.begin(), indexFiles_.end(), [](const auto& f) { return f != nullptr; }));
}

bool GSO_dBHandler::HasOpenIndex() const { return OpenIndexCount() > 0; }

void GSO_dBHandler::CloseIndexFiles() {
  currentTag_ = nullptr;
  currentTagName_.clear();
  for (auto& file : indexFiles_) file.reset();
  notInOrder_ = false;
  OpenProductionIndex();
}

void GSO_dBHandler::SetLockProtocol(TgsLokProtocol protocol) {
  GSO_dBaseFld::SetLockProtocol(protocol);
  for (auto& file : indexFiles_)
    if (file) file->SetLockProtocol(protocol);
}

void GSO_dBHandler::RenameTable(const std::string& newName) {
  const std::string oldBase = BaseNameUpper(FileName());
  GSO_dBaseFld::RenameTable(newName);
  const std::string newBase = BaseNameUpper(FileName());
  for (auto& file : indexFiles_) {
    if (file && BaseNameUpper(file->FileName()) == oldBase) {
      std::string base(FileName());
      size_t slash = base.find_last_of('/');
      std::string name = slash == std::string::npos ? base : base.substr(slash + 1);
      size_t dot = name.find_last_of('.');
      if (dot != std::string::npos) name.erase(dot);
      if (!file->RenameFile(name)) RaiseError(Msg::RenameError, file->FileName());
    }
  }
}

TgsExpUserLink* GSO_dBHandler::IndexExpressionLink() { return ExpressionLink(); }

std::string GSO_dBHandler::IndexDecipherKey() {
  if (rekeying_) return oldKey_;
  return GSobjIndexOwner::IndexDecipherKey();
}

std::string GSO_dBHandler::IndexEncipherKey() {
  if (rekeying_) return newKey_;
  return GSobjIndexOwner::IndexEncipherKey();
}

DERIDAR_ROW_PATH bool GSO_dBHandler::ClipperLocking() const {
  return LockProtocol() == TgsLokProtocol::ClipLock && HasOpenIndex();
}

// ---------------------------------------------------------------------------
// Cache switch and status

void GSO_dBHandler::SetCacheAllowed(bool allowed) {
  cacheAllowed_ = allowed;
  if (!allowed && CacheOn()) SetCache(false);
}

void GSO_dBHandler::SetCacheSwitch(bool on) { SetCache(on && cacheAllowed_); }

void GSO_dBHandler::StatusReport(int32_t, int32_t, int32_t) {}

// ---------------------------------------------------------------------------
// Re-keying

void GSO_dBHandler::SetPassword(const std::string& newKey) {
  if (IsShared()) RaiseError(Msg::RequiresFullAccess, "SetPassword", FileName());
  const std::string oldKey = Encrypted() ? Password() : std::string();
  if (Encrypted() && newKey == oldKey) return;
  if (!Encrypted() && newKey.empty()) return;

  const TRecNo remembered = RecNumber();
  const uint8_t stateWas = TableState();
  const bool cacheWas = CacheOn();
  GSobjIndexTag* tagWas = currentTag_;
  const std::string tagNameWas = currentTagName_;

  SetTableState(kStateRekeying);
  rekeying_ = true;
  oldKey_ = oldKey;
  newKey_ = newKey;
  try {
    SetCacheSwitch(true);
    currentTag_ = nullptr;
    RekeyRecords(oldKey, newKey);
    RekeyDescriptors(oldKey, newKey);
    SetCache(cacheWas);
    currentTag_ = tagWas;
    currentTagName_ = tagNameWas;
    for (auto& file : indexFiles_)
      if (file) {
        file->ReleaseTags();
        file->Recrypt();
      }
  } catch (...) {
    rekeying_ = false;
    currentTag_ = tagWas;
    SetTableState(stateWas);
    throw;
  }
  rekeying_ = false;
  SetTablePassword(newKey);
  MarkHeaderDirty();
  WriteTableHeader();
  SetTableState(stateWas);
  if (remembered > 0) ReadRecord(remembered);
}

void GSO_dBHandler::RekeyRecords(const std::string& oldKey, const std::string& newKey) {
  // The memo file is opened at the first memo to re-key, so a table whose
  // memos are all blank needs none.
  GSobjMemo* memo = nullptr;
  std::vector<int32_t> memoFields;
  if (HasMemo())
    for (int32_t n = 1; n <= FieldCount(); ++n)
      if (IsMemoField(n)) memoFields.push_back(n);

  const int32_t length = RecordLength();
  std::vector<char> image(static_cast<size_t>(length) + 1, ' ');
  char* const own = CurrentRecord();
  SetCurrentRecord(image.data());
  try {
    for (TRecNo n = 1; n <= RecordCount(); ++n) {
      if (GSO_DiskFile::ReadAt(RecordOffset(n), image.data(), length) < length)
        RaiseError(Msg::ReadError, FileName());
      TableCipher(oldKey, image.data(), image.data(), static_cast<size_t>(length));
      for (int32_t field : memoFields) {
        const int32_t block = MemoBlock(field);
        if (block == 0) continue;
        if (!memo) memo = OpenMemoFile();
        // Read with the old key, write with the new: WriteMemo measures the
        // old memo as it is stored, and an enciphered dBase III memo carries
        // a length prefix that a plain one lacks.
        memo->SetPasswords(oldKey, newKey);
        std::string text = memo->ReadMemo(block);
        PutNumber(field, memo->WriteMemo(text, block));
      }
      TableCipher(newKey, image.data(), image.data(), static_cast<size_t>(length));
      GSO_dBaseFld::WriteAt(RecordOffset(n), image.data(), length);
    }
  } catch (...) {
    SetCurrentRecord(own);
    throw;
  }
  if (!memo) memo = OpenExistingMemoFile();  // one opened before keeps the old key otherwise
  if (memo) memo->SetPasswords(newKey, newKey);
  SetCurrentRecord(own);
}

void GSO_dBHandler::RekeyDescriptors(const std::string& oldKey, const std::string& newKey) {
  const int32_t areaLength = HeaderLength() - (Version() == 0x30 ? 296 : 33);
  if (areaLength <= 0) return;
  std::vector<char> area(static_cast<size_t>(areaLength));
  if (GSO_DiskFile::ReadAt(kTableHeaderSize, area.data(), areaLength) < areaLength)
    RaiseError(Msg::ReadError, FileName());
  TableCipher(oldKey, area.data(), area.data(), area.size());
  TableCipher(newKey, area.data(), area.data(), area.size());
  GSO_DiskFile::WriteAt(kTableHeaderSize, area.data(), areaLength);
}

// ---------------------------------------------------------------------------
// Record filter

void GSO_dBHandler::SetFilterExpression(std::string_view text, bool caseInsensitive,
                                        bool partial) {
  const bool requested = filterRequested_;
  if (!filterSet_) filterSet_ = std::make_unique<TgsHugeSet>();
  if (text.empty()) {
    filterActive_ = false;
    filterExpression_.reset();
    filterText_.clear();
  } else if (!filterExpression_ || !filterExpression_->Root() || text != filterText_ ||
             caseInsensitive != filterCaseInsensitive_ || partial != filterPartial_) {
    // The new text is compiled and tried on the current record before the
    // filter changes: a text that does not compile or is no condition is
    // refused with the previous filter still in place.
    auto compiled = std::make_unique<TgsExpHandler>(IndexExpressionLink(), false, "");
    compiled->SetCaseInsensitive(caseInsensitive);
    compiled->SetPartialCompare(partial);
    compiled->Compile(text);
    TgsExpValue value;
    if (compiled->Evaluate(value) != TgsExpValueType::Boolean) RaiseError(Msg::FilterNotBoolean);

    std::unique_ptr<TgsExpHandler> oldExpression = std::move(filterExpression_);
    std::unique_ptr<TgsHugeSet> oldSet = std::move(filterSet_);
    std::string oldText = std::move(filterText_);
    const bool oldCaseInsensitive = filterCaseInsensitive_, oldPartial = filterPartial_;
    filterActive_ = false;
    filterExpression_ = std::move(compiled);
    filterSet_ = std::make_unique<TgsHugeSet>();
    filterText_ = std::string(text);
    filterCaseInsensitive_ = caseInsensitive;
    filterPartial_ = partial;
    try {
      ScanFilterSet();
    } catch (...) {
      // A record the new filter cannot judge: the previous one stays.
      filterExpression_ = std::move(oldExpression);
      filterSet_ = std::move(oldSet);
      filterText_ = std::move(oldText);
      filterCaseInsensitive_ = oldCaseInsensitive;
      filterPartial_ = oldPartial;
      SetFilterActive(requested);
      throw;
    }
  } else {
    filterActive_ = false;
  }
  SetFilterActive(requested);
}

void GSO_dBHandler::SetFilterActive(bool on) {
  filterRequested_ = on;
  filterActive_ = on && filterExpression_ && filterExpression_->Root();
}

void GSO_dBHandler::RebuildFilterSet() {
  if (!filterActive_) return;
  filterActive_ = false;
  filterSet_->ClearAll();
  ScanFilterSet();
  filterActive_ = true;
}

void GSO_dBHandler::ScanFilterSet() {
  const TRecNo remembered = RecNumber();
  const bool cacheWas = CacheOn();
  const bool activeWas = filterActive_;
  GSobjIndexTag* tagWas = currentTag_;
  filterActive_ = false;
  // The scan follows the current tag's range; without one it reads the
  // table in record order through the window.
  if (!currentTag_ || !currentTag_->HasRange()) {
    currentTag_ = nullptr;
    SetCacheSwitch(true);
  }
  try {
    for (ReadRecord(GotoFirst); !Eof(); ReadRecord(GotoNext))
      filterSet_->SetBit(RecNumber(), EvaluateFilter() ? TgsHugeSet::kSet : TgsHugeSet::kClear);
  } catch (...) {
    currentTag_ = tagWas;
    SetCache(cacheWas);
    filterActive_ = activeWas;
    throw;
  }
  currentTag_ = tagWas;
  SetCache(cacheWas);
  filterActive_ = activeWas;
  if (remembered > 0) ReadRecord(remembered);
}

// ---------------------------------------------------------------------------
// Index files

namespace {

std::string TrimBlanks(std::string_view text) {
  size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(start, end - start + 1));
}

// The extension of a path's file part, with its dot; empty when none.
std::string_view ExtensionOf(std::string_view path) {
  size_t slash = path.find_last_of('/');
  size_t dot = path.find_last_of('.');
  if (dot == std::string_view::npos || (slash != std::string_view::npos && dot < slash)) return {};
  return path.substr(dot);
}

std::string UpperAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return out;
}

}  // namespace

// Names of an index file list: commas and semicolons outside double quotes
// separate, quotes are dropped, names are trimmed, empty ones skipped.
std::vector<std::string> SplitIndexList(std::string_view list) {
  std::vector<std::string> names;
  std::string current;
  bool quoted = false;
  auto finish = [&] {
    std::string name = TrimBlanks(current);
    if (!name.empty()) names.push_back(name);
    current.clear();
  };
  for (char c : list) {
    if (c == '"') {
      quoted = !quoted;
    } else if (!quoted && (c == ',' || c == ';')) {
      finish();
    } else {
      current += c;
    }
  }
  finish();
  return names;
}

std::string GSO_dBHandler::ResolveIndexName(std::string_view name,
                                            std::string_view extension) const {
  std::string path = TrimBlanks(name);
  if (path.find('/') == std::string::npos) {
    size_t slash = FileName().find_last_of('/');
    if (slash != std::string::npos) path = FileName().substr(0, slash + 1) + path;
  }
  if (ExtensionOf(path).empty()) path += extension;
  return path;
}

std::unique_ptr<GSobjIndexFile> GSO_dBHandler::MakeIndexFile(const std::string& path, bool create,
                                                             bool readWrite, bool shared) {
  const std::string extension = UpperAscii(ExtensionOf(path));
  if (extension == ".CDX")
    return std::make_unique<GSobjCDXFile>(this, path, false, create, readWrite, shared);
  if (extension == ".NTX") return std::make_unique<GSobjNTXFile>(this, path, create, create, readWrite, shared);
  if (extension == ".MDX") return std::make_unique<GSobjMDXFile>(this, path, false, create, readWrite, shared);
  if (extension == ".NDX")
    return std::make_unique<GSobjNDXFile>(this, path, create, create, readWrite, shared);
  return nullptr;  // no other format is available
}

int32_t GSO_dBHandler::IndexFileByName(std::string_view name) const {
  int32_t found = 0;
  for (int32_t slot = 0; slot < kIndexSlotCount; ++slot)
    if (indexFiles_[slot] && indexFiles_[slot]->IsFileName(name)) found = slot + 1;
  return found;
}

std::unique_ptr<GSobjIndexFile> GSO_dBHandler::ReleaseIndexFile(int32_t slot) {
  if (slot < 1 || slot > kIndexSlotCount || !indexFiles_[slot - 1]) return nullptr;
  std::unique_ptr<GSobjIndexFile> file = std::move(indexFiles_[slot - 1]);
  if (currentTag_ && currentTag_->OwnerFile() == file.get()) {
    currentTag_ = nullptr;
    currentTagName_.clear();
  }
  return file;
}

void GSO_dBHandler::OpenTable() {
  GSO_dBaseFld::OpenTable();
  OpenProductionIndex();
}

// The production MDX file is kept in step with every write, whatever other
// index files are open: it opens with the table and stays open.
void GSO_dBHandler::OpenProductionIndex() {
  if ((FlagBits() & 0x01) == 0 || IsClosed()) return;
  const std::string path = mdx::ProductionPath(FileName());
  if (!platform::FileExists(path) || IndexFileByName(path) > 0) return;
  OpenIndexFile(path);
}

bool GSO_dBHandler::IsProductionIndex(std::string_view path) const {
  return (FlagBits() & 0x01) != 0 && UpperAscii(ResolveIndexName(path, ".ndx")) ==
                                         UpperAscii(mdx::ProductionPath(FileName()));
}

int32_t GSO_dBHandler::OpenIndexFile(std::string_view fileName) {
  if (TrimBlanks(fileName).empty()) return -1;
  const std::string path = ResolveIndexName(fileName, ".ndx");
  if (IndexFileByName(path) > 0) return IsProductionIndex(path) ? 0 : -1;
  auto freeSlot = std::find(indexFiles_.begin(), indexFiles_.end(), nullptr);
  // A file beyond the last slot is not opened at all.
  if (freeSlot == indexFiles_.end()) return -1;
  std::unique_ptr<GSobjIndexFile> file = MakeIndexFile(path, false, IsReadWrite(), IsShared());
  if (!file || !file->Valid()) {
    // An existing file of a format that cannot be read here is reported as
    // unreadable, not as missing.
    if ((file && file->Corrupt()) || (!file && platform::FileExists(path)))
      RaiseError(Msg::IndexCorrupted, path);
    RaiseError(Msg::FileNotFound, path);
  }
  file->SetLockProtocol(LockProtocol());
  *freeSlot = std::move(file);
  return 0;
}

int32_t GSO_dBHandler::OpenIndexList(std::string_view list, std::string_view tagName) {
  CloseIndexFiles();
  if (list.empty()) return 1;
  std::string copy(list.substr(0, std::min<size_t>(list.size(), 259)));
  while (!copy.empty() && (copy.back() == ' ' || copy.back() == ',' || copy.back() == ';'))
    copy.pop_back();
  int32_t result = 0;
  for (const std::string& name : SplitIndexList(copy)) {
    result = OpenIndexFile(name);
    if (result != 0) return result;
  }
  SelectTag(tagName, true);
  return result;
}

GSobjIndexTag* GSO_dBHandler::TagByNumber(int32_t n) const {
  if (n <= 0) return nullptr;
  for (const auto& file : indexFiles_) {
    if (!file) continue;
    if (n <= file->TagCount()) return file->TagByPosition(n - 1);
    n -= file->TagCount();
  }
  return nullptr;
}

int32_t GSO_dBHandler::TagCount() const {
  int32_t count = 0;
  for (const auto& file : indexFiles_)
    if (file) count += file->TagCount();
  return count;
}

int32_t GSO_dBHandler::SelectTag(std::string_view tagName, bool keepPosition) {
  const std::string wanted = UpperAscii(TrimBlanks(tagName));
  auto dropOldTag = [this] {
    if (!currentTag_) return;
    currentTag_->SetRange(nullptr, true, nullptr, true, false);
    currentTag_->ReleasePages();
  };
  if (wanted.empty()) {
    dropOldTag();
    currentTag_ = nullptr;
    currentTagName_.clear();
    notInOrder_ = false;
    SetCacheSwitch(true);
    if (!keepPosition) ReadRecord(GotoFirst);
    return 0;
  }
  GSobjIndexTag* found = nullptr;
  int32_t slot = 0;
  for (int32_t i = 0; i < kIndexSlotCount && !found; ++i) {
    if (indexFiles_[i] && (found = indexFiles_[i]->FindTag(wanted)) != nullptr) slot = i + 1;
  }
  if (!found) RaiseError(Msg::IndexTagNotFound, std::string(tagName));
  dropOldTag();
  SetCache(false);
  currentTagName_ = wanted.substr(0, 15);
  currentTag_ = found;
  const TRecNo was = RecNumber();
  if (keepPosition && was > 0 && was <= RecordCount()) {
    ReadRecord(was);
    if (!notInOrder_ && Positioned()) return slot;
  }
  ReadRecord(GotoFirst);
  return slot;
}

bool GSO_dBHandler::SetKeyRange(std::string_view low, std::string_view high, bool lowInclusive,
                                bool highContinue, bool partialHigh) {
  if (!currentTag_) return false;
  TgsVariant lowValue;
  TgsVariant highValue;
  if (!low.empty()) SetKeyText(lowValue, *currentTag_, low);
  if (!high.empty()) SetKeyText(highValue, *currentTag_, high);
  const bool changed = currentTag_->SetRange(low.empty() ? nullptr : &lowValue, lowInclusive,
                                             high.empty() ? nullptr : &highValue, highContinue,
                                             partialHigh);
  // A changed range has put the tag on its top already: read the record it
  // stands on (passing over rejected ones as a move to the top would)
  // instead of seeking the top once more.
  if (changed) ReadRecord(GotoCurrent);
  if (Bof()) BlankRecord();
  return changed;
}

// ---------------------------------------------------------------------------
// Searching by field values

bool GSO_dBHandler::FindByFields(std::string_view fieldList, const std::vector<std::string>& values,
                                 bool caseInsensitive, bool partial, TRecNo startRecord) {
  // The answer is the first record of the current view (the current order
  // with its range and FOR condition, the filter, the deleted switch and the
  // dataset's record hook) whose fields hold the values. A tag serves only
  // where it gives that same answer, so which index files are open never
  // changes the result.
  ReadRecord(GotoFirst);
  if (Bof() || Eof()) return false;

  std::vector<std::string> names;
  for (const std::string& name : SplitIndexList(fieldList)) names.push_back(UpperAscii(name));
  if (names.empty()) return false;

  // Texts compared: the field's display text, upper-cased when asked (a
  // translated table's OEM text through the ANSI case rules).
  auto prepare = [&](std::string text) {
    if (!caseInsensitive) return text;
    if (TranslateASCII()) return TranslateToOem(platform::UpperCase(TranslateToAnsi(text)));
    return platform::UpperCase(text);
  };

  // The values go into a scratch record under the listed fields.
  std::vector<char> scratch(static_cast<size_t>(RecordLength()) + 1, ' ');
  char* const own = CurrentRecord();
  std::vector<std::string> wanted;
  std::string searchKey;
  GSobjIndexTag* chosen = nullptr;
  SetCurrentRecord(scratch.data());
  try {
    BlankRecord();
    for (size_t i = 0; i < names.size(); ++i)
      PutValueByName(names[i], i < values.size() ? values[i] : std::string());
    for (const std::string& name : names) wanted.push_back(prepare(GetDisplayTextByName(name)));

    // A tag whose keys are the listed character fields themselves (upper-
    // cased for a case-insensitive search), in plain ascending byte order
    // and long enough to hold them: its key comparison is then the field
    // comparison.
    std::string plain, upperEach;
    int32_t totalLength = 0;
    bool allText = true;
    for (const std::string& name : names) {
      int32_t n = 0;
      allText = allText && FieldIndexByName(name, n) && FieldType(n) == 'C';
      if (allText) totalLength += FieldLength(n);
      if (!plain.empty()) {
        plain += '+';
        upperEach += '+';
      }
      plain += name;
      upperEach += "UPPER(" + name + ")";
    }
    auto keyIsFields = [&](GSobjIndexTag* tag) {
      if (!allText || !tag || !tag->KeyEvaluator() || tag->KeyType() != 'C' || !tag->Ascending() ||
          tag->DescendingCompare() || tag->KeyLength() < totalLength)
        return false;
      GSobjIndexKeyData sample;
      sample.SetText("aZ");
      tag->NormalizeKey(sample, false);
      if (sample.AsText() != "aZ") return false;  // keys under a collation of their own
      const std::string key = tag->KeyEvaluator()->ExpressionText();
      return caseInsensitive ? key == "UPPER(" + plain + ")" || key == upperEach : key == plain;
    };
    if (startRecord <= 0) {
      if (currentTag_) {
        // The view's own order, when no range narrows it.
        if (!currentTag_->HasRange() && keyIsFields(currentTag_)) chosen = currentTag_;
      } else {
        // Record order: any tag that holds every record once.
        for (int32_t n = 1; !chosen && n <= TagCount(); ++n) {
          GSobjIndexTag* tag = TagByNumber(n);
          if (!tag->HasFor() && !tag->Unique() && keyIsFields(tag)) chosen = tag;
        }
      }
    }
    if (chosen) {
      TgsVariant key;
      chosen->KeyEvaluator()->EvaluateToVariant(key);
      searchKey = key.AsText();
    }
  } catch (...) {
    SetCurrentRecord(own);
    throw;
  }
  SetCurrentRecord(own);

  auto fieldsMatch = [&] {
    for (size_t i = 0; i < names.size(); ++i) {
      std::string text = prepare(GetDisplayTextByName(names[i]));
      if (partial && i + 1 == names.size() && text.size() > wanted[i].size()) text.resize(wanted[i].size());
      if (text != wanted[i]) return false;
    }
    return true;
  };

  bool found = false;
  if (chosen && chosen == currentTag_) {
    // The key search in the current order lands on the first visible record
    // at or after the key.
    exactMatch_ = !partial;
    nearest_ = false;
    found = KeySearch(searchKey) && fieldsMatch();
  } else if (chosen) {
    // Record order: of the records under the key, the lowest-numbered one
    // that is visible.
    exactMatch_ = !partial;
    nearest_ = false;
    GSobjIndexKeyData probe;
    probe.SetText(searchKey.substr(0, std::min<size_t>(searchKey.size(), 256)));
    probe.SetLink(static_cast<uint32_t>(-1));
    GSobjIndexKeyData wantedKey;
    wantedKey.SetText(probe.AsText());
    chosen->NormalizeKey(wantedKey, true);
    TRecNo best = 0;
    for (TRecNo n = chosen->SeekKey(probe); n > 0; n = chosen->MoveTo(GotoNext)) {
      GSobjIndexKeyData current;
      current.CopyValue(chosen->CurrentKey());
      chosen->NormalizeKey(current, true);
      int matched = 0;
      const int compare = chosen->CompareKeys(wantedKey, current, 0, &matched);
      if (compare != 0 && (!partial || matched < static_cast<int64_t>(wantedKey.Length()))) break;
      if (best > 0 && n > best) continue;
      ReadRecord(n);
      if (Eof() || (!useDeleted_ && IsDeleted()) || (filterActive_ && !filterSet_->TestBit(n)) ||
          !RecordAcceptable() || !fieldsMatch())
        continue;
      best = n;
    }
    found = best > 0;
    if (found) ReadRecord(best);
  } else {
    // A scan of the view in its order; record order reads through the window.
    const bool cacheWas = CacheOn();
    if (!currentTag_) SetCacheSwitch(true);
    try {
      if (startRecord > 0) {
        ReadRecord(startRecord);
        ReadRecord(GotoNext);
      } else {
        ReadRecord(GotoFirst);
      }
      while (!Eof() && !(found = fieldsMatch())) ReadRecord(GotoNext);
    } catch (...) {
      SetCache(cacheWas);
      throw;
    }
    SetCache(cacheWas);
  }
  if (found) ReadRecord(RecNumber());
  return found;
}

// ---------------------------------------------------------------------------
// Building a tag

int32_t GSO_dBHandler::IndexOn(std::string_view fileName, std::string_view tagName,
                               std::string_view keyExpression, std::string_view forExpression,
                               int32_t uniqueness, int32_t sortOrder) {
  CloseIndexFiles();
  const bool cacheWas = CacheOn();
  SetCacheSwitch(true);
  const std::string path = ResolveIndexName(fileName, ".ndx");
  const std::string extension = UpperAscii(ExtensionOf(path));
  // The production MDX file gets its tag through a handle of its own.
  if (const int32_t open = IndexFileByName(path); open > 0) ReleaseIndexFile(open);
  std::unique_ptr<GSobjIndexFile> file;
  try {
    if (extension == ".CDX" || extension == ".MDX") {
      if (TrimBlanks(tagName).empty()) RaiseError(Msg::IndexTagNotFound, std::string(tagName));
      // An existing file is opened as the table is; a new one is created
      // for this handle alone.
      const bool exists = platform::FileExists(path);
      file = MakeIndexFile(path, true, exists ? IsReadWrite() : true, exists ? IsShared() : false);
    }
    // NTX and NDX files hold one order, named after the file; they are always made anew.
    if (extension == ".NTX" || extension == ".NDX") file = MakeIndexFile(path, true, true, false);
    // No file of another format can be built here: that is reported as an
    // unusable index file rather than as a missing one.
    if (!file || file->Corrupt()) RaiseError(Msg::IndexCorrupted, path);
    if (!file->Valid()) RaiseError(Msg::FileNotFound, path);
    const bool general = sortOrder == 7 || sortOrder == 8;
    const bool ascending = general ? sortOrder == 7 : sortOrder == 0;
    if (auto* cdx = dynamic_cast<GSobjCDXFile*>(file.get()); cdx && general)
      cdx->SetDefaultCollation(cdx::Collation::General);
    SetTableState(kStateIndexing);
    // A tag whose key cannot be evaluated (or does not fit) is not added.
    const std::string name = extension == ".NDX" ? BaseName(path) : TrimBlanks(tagName);
    if (!file->AddTag(name, keyExpression, uniqueness == 0, ascending, forExpression))
      RaiseError(Msg::CannotEvaluate);
    file.reset();
    SetTableState(kStateNormal);
  } catch (...) {
    // A file this call made is not left behind without its tag.
    const bool made = file && file->CreatedNew();
    file.reset();
    if (made) platform::RemoveFile(path);
    SetTableState(kStateNormal);
    SetCache(cacheWas);
    try {
      OpenProductionIndex();
    } catch (const EDeridarBase&) {
      // The build's failure is the one to report.
    }
    throw;
  }
  SetCache(cacheWas);
  OpenProductionIndex();
  return 0;
}
