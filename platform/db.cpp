// The record-set framework: the dataset's buffer window, navigation, editing
// states and notifications, data sources and data links, field and index
// definitions, and the framework's error texts.
#include "platform/db.h"

#include <algorithm>
#include <cstring>
#include <exception>

#include "platform/hot.h"

namespace platform {

// --- Errors ------------------------------------------------------------------

namespace {

constexpr const char* kDbMessages[static_cast<int>(DbMsg::Count_)] = {
    "Cannot perform this operation on a closed dataset",
    "Cannot perform this operation on an open dataset",
    "Dataset not in edit or insert mode",
    "Cannot modify a read-only dataset",
    "Cannot perform this operation on an empty dataset",
    "Field '%s' not found",
    "Field '%s' cannot be modified",
    "Type mismatch for field '%s'",
    "Duplicate field name '%s'",
    "'%s' is not a valid integer value",
    "'%s' is not a valid floating point value",
    "'%s' is not a valid date",
    "'%s' is not a valid date and time",
    "'%s' is not a valid boolean value for field '%s'",
    "%s is not a valid value for field '%s'. The allowed range is %s to %s",
    "Record not found",
    "Circular datalinks are not allowed",
    "Field '%s' has no blob stream",
    "Cannot access field '%s' as type %s",
    "Cannot scan records during a scan",
};

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 32);
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 32);
    if (x != y) return false;
  }
  return true;
}

bool EditModes(TDataSetState state) { return state == dsEdit || state == dsInsert; }

// Calls `visit` for each element of a copy of `list` taken first, as a
// handler may add or remove elements meanwhile. Notifications go out on
// every row moved, so a short list is copied without allocating.
template <class T, class Visit>
void ForEachOfSnapshot(const std::vector<T*>& list, Visit&& visit) {
  constexpr size_t kInline = 8;
  if (list.size() <= kInline) {
    T* copy[kInline];
    const size_t count = list.size();
    std::copy(list.begin(), list.end(), copy);
    for (size_t i = 0; i < count; ++i) visit(copy[i]);
    return;
  }
  const std::vector<T*> copy = list;
  for (T* item : copy) visit(item);
}

}  // namespace

std::string DbMessage(DbMsg id, const std::vector<std::string>& args) {
  int index = static_cast<int>(id);
  if (index < 0 || index >= static_cast<int>(DbMsg::Count_)) return {};
  std::string out;
  size_t next = 0;
  for (const char* p = kDbMessages[index]; *p; ++p) {
    if (p[0] == '%' && (p[1] == 's' || p[1] == 'd')) {
      if (next < args.size()) out += args[next];
      ++next;
      ++p;
    } else {
      out += *p;
    }
  }
  return out;
}

void DatabaseError(DbMsg id, const std::vector<std::string>& args) {
  throw EDatabaseError(DbMessage(id, args));
}

// --- Definitions ---------------------------------------------------------------

TFieldDef& TFieldDefs::Add(const std::string& name, TFieldType dataType, int32_t size,
                           bool required) {
  TFieldDef def;
  def.name = name;
  def.dataType = dataType;
  def.size = size;
  def.required = required;
  def.fieldNo = items_.empty() ? 1 : items_.back().fieldNo + 1;
  items_.push_back(def);
  return items_.back();
}

int32_t TFieldDefs::IndexOf(std::string_view name) const {
  for (size_t i = 0; i < items_.size(); ++i)
    if (SameName(items_[i].name, name)) return static_cast<int32_t>(i);
  return -1;
}

const TFieldDef* TFieldDefs::Find(std::string_view name) const {
  int32_t i = IndexOf(name);
  return i < 0 ? nullptr : &items_[i];
}

TIndexDef& TIndexDefs::Add(const std::string& name, const std::string& fields, uint32_t options) {
  items_.push_back(TIndexDef{name, fields, options});
  return items_.back();
}

const TIndexDef* TIndexDefs::Find(std::string_view name) const {
  for (const TIndexDef& def : items_)
    if (SameName(def.name, name)) return &def;
  return nullptr;
}

// --- TDataSet: life ------------------------------------------------------------

TDataSet::TDataSet() = default;

TDataSet::~TDataSet() {
  // The storage hooks are gone here; a concrete record set closes itself in
  // its own destructor. Nothing below may reach a hook: the buffers are
  // dropped first, then the data sources forget this dataset.
  cursorOpen_ = false;
  state_ = dsInactive;
  buffers_.clear();
  std::vector<TDataSource*> sources = dataSources_;
  for (TDataSource* source : sources) source->SetDataSet(nullptr);
}

void TDataSet::Open() {
  if (Active()) return;
  Fire(BeforeOpen, *this);
  OpenCursor();
  SetState(dsBrowse);
  // Fill the rows in browse state, so that record filters and calculated
  // fields see an open dataset.
  try {
    ClearBuffers();
    GetNextRecords();
    bof_ = true;
  } catch (...) {
    SetState(dsInactive);
    CloseCursor();
    throw;
  }
  DataEvent(deDataSetChange);
  Fire(AfterOpen, *this);
  if (!IsEmpty()) DoAfterScroll();
}

void TDataSet::OpenCursor() {
  defaultFields_ = fields_.empty();
  try {
    OpenDataset();
    bufferSize_ = std::max<int32_t>(RecordBufferSize(), 1);
    cursorOpen_ = true;
    ClearBuffers();
    UpdateBufferCount();
  } catch (...) {
    try {
      CloseCursor();
    } catch (...) {
      // The open failure is the one worth reporting.
    }
    throw;
  }
}

void TDataSet::CloseCursor() {
  buffers_.clear();
  bufferCount_ = 0;
  cursorOpen_ = false;
  calcBuffer_ = nullptr;
  ClearBuffers();
  CloseDataset();
}

void TDataSet::Close() {
  if (!Active()) return;
  std::exception_ptr cancelFailure;
  if (EditModes(state_)) {
    try {
      CancelRecord();
    } catch (...) {
      cancelFailure = std::current_exception();
    }
  }
  Fire(BeforeClose, *this);
  SetState(dsInactive);
  CloseCursor();
  Fire(AfterClose, *this);
  if (cancelFailure) std::rethrow_exception(cancelFailure);
}

DERIDAR_ROW_PATH void TDataSet::CheckActive() {
  if (state_ == dsInactive) DatabaseError(DbMsg::DataSetClosed);
}

void TDataSet::RequireCursor() const {
  // Guards the buffer operations even when an overridden CheckActive lets a
  // closed dataset through.
  if (!cursorOpen_ || buffers_.empty()) DatabaseError(DbMsg::DataSetClosed);
}

// --- TDataSet: buffers -----------------------------------------------------------

DERIDAR_ROW_PATH TRecordBuffer TDataSet::ActiveBuffer() const {
  if (activeRecord_ < 0 || activeRecord_ >= static_cast<int32_t>(buffers_.size())) return nullptr;
  return buffers_[activeRecord_].get();
}

TRecordBuffer TDataSet::TempBuffer() const {
  if (recordCount_ >= static_cast<int32_t>(buffers_.size())) return nullptr;
  return buffers_[recordCount_].get();
}

TRecordBuffer TDataSet::Buffer(int32_t index) const {
  if (index < 0 || index >= static_cast<int32_t>(buffers_.size())) return nullptr;
  return buffers_[index].get();
}

void TDataSet::ClearBuffers() {
  recordCount_ = 0;
  activeRecord_ = 0;
  currentRecord_ = -1;
  bof_ = true;
  eof_ = true;
}

void TDataSet::ActivateBuffers() {
  recordCount_ = 1;
  activeRecord_ = 0;
  currentRecord_ = 0;
  bof_ = false;
  eof_ = false;
}

template <class F>
void TDataSet::ForEachLink(F&& f) {
  for (TDataSource* source : dataSources_)
    for (TDataLink* link : source->links_) f(link);
}

void TDataSet::AdjustLinksFirstRecord(int32_t delta) {
  if (delta == 0) return;
  ForEachLink([&](TDataLink* link) {
    if (link->active_) link->firstRecord_ = std::max<int32_t>(0, link->firstRecord_ + delta);
  });
}

void TDataSet::UpdateBufferCount() {
  if (!cursorOpen_) return;
  int32_t wanted = 1;
  ForEachLink([&](TDataLink* link) { wanted = std::max(wanted, link->bufferCount_); });
  SetBufferCount(wanted);
}

void TDataSet::SetBufferCount(int32_t value) {
  if (value == bufferCount_ && static_cast<int32_t>(buffers_.size()) == value + 1) return;
  if (value < bufferCount_ && recordCount_ > 0) {
    // Keep the active record and as much of the links' windows as fits:
    // drop `delta` rows from the front, then cut the back.
    int32_t delta = activeRecord_;
    ForEachLink([&](TDataLink* link) {
      if (link->active_) delta = std::min(delta, link->firstRecord_);
    });
    delta = std::max(delta, activeRecord_ - value + 1);
    delta = std::max<int32_t>(delta, 0);
    std::rotate(buffers_.begin(), buffers_.begin() + delta, buffers_.end());
    activeRecord_ -= delta;
    if (currentRecord_ >= 0) {
      currentRecord_ -= delta;
      if (currentRecord_ < 0 || currentRecord_ >= value) currentRecord_ = -1;
    }
    recordCount_ = std::min(recordCount_ - delta, value);
    AdjustLinksFirstRecord(-delta);
  }
  buffers_.resize(value + 1);
  for (auto& buffer : buffers_) {
    if (!buffer) {
      buffer = std::make_unique<char[]>(bufferSize_);
      std::memset(buffer.get(), 0, bufferSize_);
    }
  }
  bufferCount_ = value;
  if (Active() && state_ != dsSetKey) {
    GetNextRecords();
    AdjustLinksFirstRecord(GetPriorRecords());
  }
}

DERIDAR_ROW_PATH void TDataSet::MoveBuffer(int32_t from, int32_t to) {
  auto begin = buffers_.begin();
  if (from < to)
    std::rotate(begin + from, begin + from + 1, begin + to + 1);
  else if (from > to)
    std::rotate(begin + to, begin + from, begin + from + 1);
}

DERIDAR_ROW_PATH void TDataSet::SetCurrentRecord(int32_t index) {
  if (currentRecord_ == index) return;
  TRecordBuffer buffer = buffers_[index].get();
  switch (GetBookmarkFlag(buffer)) {
    case bfCurrent:
    case bfInserted:
      InternalSetToRecord(buffer);
      break;
    case bfBOF:
      InternalFirst();
      break;
    case bfEOF:
      InternalLast();
      break;
  }
  currentRecord_ = index;
}

void TDataSet::UpdateCursorPos() {
  if (recordCount_ > 0) SetCurrentRecord(activeRecord_);
}

void TDataSet::InternalSetToRecord(TRecordBuffer buffer) {
  InternalGotoBookmark(GetBookmarkData(buffer));
}

DERIDAR_ROW_PATH bool TDataSet::GetNextRecord() {
  TGetMode mode = gmNext;
  if (recordCount_ > 0) {
    SetCurrentRecord(recordCount_ - 1);
    if (state_ == dsInsert && currentRecord_ == activeRecord_ &&
        GetBookmarkFlag(ActiveBuffer()) == bfCurrent)
      mode = gmCurrent;
  }
  bool ok = FetchRecord(buffers_[recordCount_].get(), mode, true) == grOK;
  if (ok) {
    if (recordCount_ == 0)
      ActivateBuffers();
    else if (recordCount_ < bufferCount_)
      ++recordCount_;
    else
      MoveBuffer(0, recordCount_);
    currentRecord_ = recordCount_ - 1;
  } else {
    CursorPosChanged();
  }
  return ok;
}

bool TDataSet::GetPriorRecord() {
  if (recordCount_ > 0) SetCurrentRecord(0);
  bool ok = FetchRecord(buffers_[recordCount_].get(), gmPrior, true) == grOK;
  if (ok) {
    if (recordCount_ == 0) {
      ActivateBuffers();
    } else {
      MoveBuffer(recordCount_, 0);
      if (recordCount_ < bufferCount_) {
        ++recordCount_;
        ++activeRecord_;
      }
    }
    currentRecord_ = 0;
  } else {
    CursorPosChanged();
  }
  return ok;
}

int32_t TDataSet::GetNextRecords() {
  int32_t n = 0;
  while (recordCount_ < bufferCount_ && GetNextRecord()) ++n;
  return n;
}

int32_t TDataSet::GetPriorRecords() {
  int32_t n = 0;
  while (recordCount_ < bufferCount_ && GetPriorRecord()) ++n;
  return n;
}

// --- TDataSet: navigation ---------------------------------------------------------

DERIDAR_ROW_PATH void TDataSet::DoBeforeScroll() { Fire(BeforeScroll, *this); }
DERIDAR_ROW_PATH void TDataSet::DoAfterScroll() { Fire(AfterScroll, *this); }

void TDataSet::First() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalFirst();
    GetNextRecord();
    GetNextRecords();
  } catch (...) {
    bof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  bof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

void TDataSet::Last() {
  CheckBrowseMode();
  DoBeforeScroll();
  ClearBuffers();
  try {
    InternalLast();
    GetPriorRecord();
    GetPriorRecords();
  } catch (...) {
    eof_ = true;
    DataEvent(deDataSetChange);
    throw;
  }
  eof_ = true;
  DataEvent(deDataSetChange);
  DoAfterScroll();
}

DERIDAR_ROW_PATH int32_t TDataSet::MoveBy(int32_t distance) {
  CheckBrowseMode();
  int32_t moved = 0;
  DoBeforeScroll();
  if ((distance > 0 && !eof_) || (distance < 0 && !bof_)) {
    bof_ = false;
    eof_ = false;
    int32_t scrollCount = 0;
    try {
      while (distance > 0) {
        if (activeRecord_ < recordCount_ - 1) {
          ++activeRecord_;
        } else {
          int32_t shift = recordCount_ < bufferCount_ ? 0 : 1;
          if (GetNextRecord()) {
            scrollCount -= shift;
          } else {
            eof_ = true;
            break;
          }
        }
        --distance;
        ++moved;
      }
      while (distance < 0) {
        if (activeRecord_ > 0) {
          --activeRecord_;
        } else {
          int32_t shift = recordCount_ < bufferCount_ ? 0 : 1;
          if (GetPriorRecord()) {
            scrollCount += shift;
          } else {
            bof_ = true;
            break;
          }
        }
        ++distance;
        --moved;
      }
    } catch (...) {
      DataEvent(deDataSetScroll, scrollCount);
      throw;
    }
    DataEvent(deDataSetScroll, scrollCount);
    DoAfterScroll();
  }
  return moved;
}

void TDataSet::Resync(uint32_t mode) {
  RequireCursor();
  TRecordBuffer spare = buffers_[recordCount_].get();
  if (mode & rmExact) {
    CursorPosChanged();
    if (FetchRecord(spare, gmCurrent, true) != grOK) DatabaseError(DbMsg::RecordNotFound);
  } else if (FetchRecord(spare, gmCurrent, false) != grOK &&
             FetchRecord(spare, gmNext, false) != grOK &&
             FetchRecord(spare, gmPrior, false) != grOK) {
    ClearBuffers();
    DataEvent(deDataSetChange);
    return;
  }
  int32_t count = (mode & rmCenter) ? (bufferCount_ - 1) / 2 : activeRecord_;
  MoveBuffer(recordCount_, 0);
  ActivateBuffers();
  try {
    while (count > 0 && GetPriorRecord()) --count;
    GetNextRecords();
    GetPriorRecords();
  } catch (...) {
    DataEvent(deDataSetChange);
    throw;
  }
  DataEvent(deDataSetChange);
}

void TDataSet::Refresh() {
  CheckBrowseMode();
  UpdateCursorPos();
  RefreshRecord();
  Resync(0);
}

// --- TDataSet: bookmarks and scans -------------------------------------------------

bool TDataSet::BookmarkAvailable() {
  return (state_ == dsBrowse || EditModes(state_)) && !IsEmpty() && ActiveBuffer() &&
         GetBookmarkFlag(ActiveBuffer()) == bfCurrent;
}

TBookmark TDataSet::GetBookmark() {
  return BookmarkAvailable() ? GetBookmarkData(ActiveBuffer()) : TBookmark();
}

void TDataSet::GotoBookmark(const TBookmark& bookmark) {
  if (bookmark.empty()) return;
  CheckBrowseMode();
  DoBeforeScroll();
  InternalGotoBookmark(bookmark);
  Resync(rmExact | rmCenter);
  DoAfterScroll();
}

// Runs `walk` over the spare record buffer, positioned before the first
// record or on `after`, with the scan hooks around it; the active record and
// the spare buffer's use are restored however the walk ends. Nothing is read
// for a count of zero or less.
template <typename Walk>
int32_t TDataSet::WithSpareScan(const TBookmark& after, int32_t count, Walk&& walk) {
  CheckActive();
  RequireCursor();
  if (spareActive_) DatabaseError(DbMsg::ScanNested);
  if (count <= 0) return 0;
  const int32_t savedActive = activeRecord_;
  TRecordBuffer spare = buffers_[recordCount_].get();
  // The spare buffer may be filled: nothing else may use it meanwhile.
  spareActive_ = true;
  CursorPosChanged();
  bool scanning = false;
  int32_t result = 0;
  try {
    BeginScan(after.empty());
    scanning = true;
    if (after.empty())
      InternalFirst();
    else
      InternalGotoBookmark(after);
    result = walk(spare);
  } catch (...) {
    activeRecord_ = savedActive;
    spareActive_ = false;
    CursorPosChanged();
    if (scanning) {
      try {
        EndScan();
      } catch (...) {
        // The walk's own failure is the one reported.
      }
    }
    throw;
  }
  spareActive_ = false;
  CursorPosChanged();
  EndScan();
  return result;
}

DERIDAR_ROW_PATH int32_t TDataSet::ScanRecords(const TBookmark& after, int32_t count,
                              const std::function<void(const TBookmark&)>& visit) {
  return WithSpareScan(after, count, [&](TRecordBuffer spare) {
    const int32_t savedActive = activeRecord_;
    int32_t visited = 0;
    // One bookmark object for the whole scan: its storage is reused.
    TBookmark bookmark;
    while (visited < count && FetchRecord(spare, gmNext, true) == grOK) {
      bookmark = GetBookmarkData(spare);
      activeRecord_ = recordCount_;
      visit(bookmark);
      activeRecord_ = savedActive;
      ++visited;
    }
    return visited;
  });
}

int32_t TDataSet::SkipRecords(const TBookmark& after, int32_t count, TBookmark& last) {
  return WithSpareScan(after, count,
                       [&](TRecordBuffer spare) { return InternalSkip(spare, count, last); });
}

int32_t TDataSet::CountRecords(int32_t, std::vector<TBookmark>& ends) {
  ends.clear();
  return -1;
}

int32_t TDataSet::InternalSkip(TRecordBuffer buffer, int32_t count, TBookmark& last) {
  int32_t passed = 0;
  while (passed < count && FetchRecord(buffer, gmNext, true) == grOK) ++passed;
  if (passed > 0) last = GetBookmarkData(buffer);
  return passed;
}

// --- TDataSet: editing ----------------------------------------------------------------

void TDataSet::InitRecord(TRecordBuffer buffer) {
  InternalInitRecord(buffer);
  ClearCalcFields(buffer);
  SetBookmarkFlag(buffer, bfInserted);
}

void TDataSet::Edit() {
  if (EditModes(state_)) return;
  if (recordCount_ == 0) {
    Insert();
    return;
  }
  CheckBrowseMode();
  if (!GetCanModify()) DatabaseError(DbMsg::DataSetReadOnly);
  Fire(BeforeEdit, *this);
  UpdateCursorPos();
  StartEdit();
  GetCalcFields(ActiveBuffer());
  SetState(dsEdit);
  DataEvent(deRecordChange);
  Fire(AfterEdit, *this);
}

void TDataSet::BeginInsertAppend() {
  CheckBrowseMode();
  if (!GetCanModify()) DatabaseError(DbMsg::DataSetReadOnly);
  Fire(BeforeInsert, *this);
  DoBeforeScroll();
}

void TDataSet::EndInsertAppend() {
  SetState(dsInsert);
  try {
    Fire(OnNewRecord, *this);
  } catch (...) {
    UpdateCursorPos();
    SetState(dsBrowse);
    Resync(0);
    throw;
  }
  modified_ = false;
  DataEvent(deDataSetChange);
  Fire(AfterInsert, *this);
  DoAfterScroll();
}

void TDataSet::Insert() {
  BeginInsertAppend();
  TBookmark oldCurrent = GetBookmark();
  bool wasEmpty = recordCount_ == 0;
  MoveBuffer(recordCount_, activeRecord_);
  TRecordBuffer buffer = ActiveBuffer();
  InitRecord(buffer);
  if (wasEmpty)
    SetBookmarkFlag(buffer, bfBOF);
  else
    SetBookmarkData(buffer, oldCurrent);
  if (recordCount_ < bufferCount_) ++recordCount_;
  // Buffers moved: the cursor is found again from the new buffer's bookmark.
  CursorPosChanged();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::Append() {
  BeginInsertAppend();
  ClearBuffers();
  TRecordBuffer buffer = buffers_[0].get();
  InitRecord(buffer);
  SetBookmarkFlag(buffer, bfEOF);
  recordCount_ = 1;
  bof_ = false;
  GetPriorRecords();
  InternalInsert();
  EndInsertAppend();
}

void TDataSet::UpdateRecord() {
  if (!EditModes(state_) && state_ != dsSetKey) DatabaseError(DbMsg::NotEditing);
  DataEvent(deUpdateRecord);
}

void TDataSet::Post() {
  UpdateRecord();
  if (!EditModes(state_)) return;
  DataEvent(deCheckBrowseMode);
  Fire(BeforePost, *this);
  UpdateCursorPos();
  PostRecord();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterPost, *this);
}

void TDataSet::Cancel() {
  if (!EditModes(state_)) return;
  DataEvent(deCheckBrowseMode);
  Fire(BeforeCancel, *this);
  bool scrolls = state_ == dsInsert;
  if (scrolls) DoBeforeScroll();
  UpdateCursorPos();
  CancelRecord();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterCancel, *this);
  if (scrolls) DoAfterScroll();
}

void TDataSet::Delete() {
  CheckActive();
  RequireCursor();
  if (state_ == dsInsert || state_ == dsSetKey) {
    Cancel();
    return;
  }
  if (IsEmpty()) DatabaseError(DbMsg::DataSetEmpty);
  DataEvent(deCheckBrowseMode);
  Fire(BeforeDelete, *this);
  DoBeforeScroll();
  // An edit in progress ends here: its lock is released before deleting.
  if (state_ == dsEdit) CancelRecord();
  UpdateCursorPos();
  DeleteRecord();
  SetState(dsBrowse);
  Resync(0);
  Fire(AfterDelete, *this);
  DoAfterScroll();
}

void TDataSet::AddRecord(const std::vector<std::optional<std::string>>& values, bool append) {
  BeginInsertAppend();
  if (!append) UpdateCursorPos();
  TRecordBuffer buffer = TempBuffer();
  InitRecord(buffer);
  // The values are written through the fields into the spare buffer, which
  // is made the active one meanwhile.
  const int32_t savedActive = activeRecord_;
  const int32_t savedCount = recordCount_;
  activeRecord_ = recordCount_;
  spareActive_ = true;  // the spare record counts as a record while filled
  TDataSetState saved = SetTempState(dsInsert);
  try {
    Fire(OnNewRecord, *this);
    for (size_t i = 0; i < values.size() && i < fields_.size(); ++i) {
      if (values[i])
        fields_[i]->SetAsString(*values[i]);
      else
        fields_[i]->Clear();
    }
  } catch (...) {
    RestoreState(saved);
    spareActive_ = false;
    activeRecord_ = savedActive;
    throw;
  }
  RestoreState(saved);
  spareActive_ = false;
  activeRecord_ = savedActive;
  recordCount_ = savedCount;
  AddRecordBuffer(buffer, append);
  modified_ = false;
  Resync(0);
  DoAfterScroll();
}

void TDataSet::AppendRecord(const std::vector<std::optional<std::string>>& values) {
  AddRecord(values, true);
}

void TDataSet::InsertRecord(const std::vector<std::optional<std::string>>& values) {
  AddRecord(values, false);
}

DERIDAR_ROW_PATH void TDataSet::CheckBrowseMode() {
  CheckActive();
  RequireCursor();
  DataEvent(deCheckBrowseMode);
  if (EditModes(state_)) {
    UpdateRecord();
    if (modified_)
      Post();
    else
      Cancel();
  } else if (state_ == dsSetKey) {
    Post();
  }
}

// --- TDataSet: state and notifications ------------------------------------------------

void TDataSet::SetState(TDataSetState value) {
  if (state_ == value) return;
  state_ = value;
  modified_ = false;
  DataEvent(deUpdateState);
}

TDataSetState TDataSet::SetTempState(TDataSetState value) {
  TDataSetState saved = state_;
  state_ = value;
  return saved;
}

DERIDAR_ROW_PATH bool TDataSet::FilterAccepts() {
  if (!Filtered() || !OnFilterRecord) return true;
  bool accept = true;
  TDataSetState saved = SetTempState(dsFilter);
  try {
    OnFilterRecord(*this, accept);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
  return accept;
}

DERIDAR_ROW_PATH void TDataSet::DataEvent(TDataEvent event, int32_t info, TField* field) {
  if (event == deFieldChange && field) {
    if (!field->Calculated()) {
      modified_ = true;
      if (state_ != dsSetKey && autoCalcFields_ && calcFieldsSize_ > 0 && !spareActive_)
        GetCalcFields(ActiveBuffer());
    }
  }
  if (disableCount_ == 0) {
    ForEachOfSnapshot(dataSources_,
                      [&](TDataSource* source) { source->DataEvent(event, info, field); });
  } else if ((event == deUpdateState && state_ == dsInactive) || event == deLayoutChange) {
    enableEvent_ = deLayoutChange;
  }
}

void TDataSet::FieldChanged(TField* field) { DataEvent(deFieldChange, 0, field); }

void TDataSet::DisableControls() {
  if (disableCount_ == 0) {
    disableState_ = state_;
    enableEvent_ = deDataSetChange;
  }
  ++disableCount_;
}

void TDataSet::EnableControls() {
  if (disableCount_ == 0) return;
  if (--disableCount_ > 0) return;
  if (disableState_ != state_) DataEvent(deUpdateState);
  if (disableState_ != dsInactive && state_ != dsInactive) DataEvent(enableEvent_);
}

DERIDAR_ROW_PATH void TDataSet::GetCalcFields(TRecordBuffer buffer) {
  // The calculation buffer stays on `buffer` afterwards, so that a record
  // set can read that record's fields in calc-fields state (a lookup).
  calcBuffer_ = buffer;
  if (calcFieldsSize_ <= 0 || !buffer) return;
  TDataSetState saved = SetTempState(dsCalcFields);
  try {
    ClearCalcFields(buffer);
    Fire(OnCalcFields, *this);
  } catch (...) {
    RestoreState(saved);
    throw;
  }
  RestoreState(saved);
}

void TDataSet::ClearCalcFields(TRecordBuffer) {}

bool TDataSet::IsLinkedTo(TDataSource* source) {
  while (source) {
    TDataSet* dataSet = source->DataSet();
    if (!dataSet) break;
    if (dataSet == this) return true;
    source = dataSet->GetDataSource();
  }
  return false;
}

// --- TDataSet: fields -------------------------------------------------------------------

TField* TDataSet::FindField(std::string_view name) const {
  for (const auto& field : fields_)
    if (SameName(field->FieldName(), name)) return field.get();
  return nullptr;
}

TField* TDataSet::FieldByName(std::string_view name) const {
  TField* field = FindField(name);
  if (!field) DatabaseError(DbMsg::FieldNotFound, {std::string(name)});
  return field;
}

TField* TDataSet::AddField(std::unique_ptr<TField> field) {
  if (Active()) DatabaseError(DbMsg::DataSetOpen);
  if (FindField(field->FieldName()))
    DatabaseError(DbMsg::DuplicateFieldName, {field->FieldName()});
  field->dataSet_ = this;
  field->index_ = static_cast<int32_t>(fields_.size());
  fields_.push_back(std::move(field));
  return fields_.back().get();
}

void TDataSet::CreateFields() {
  for (int32_t i = 0; i < fieldDefs_.Count(); ++i) {
    const TFieldDef& def = fieldDefs_.Items(i);
    if (def.dataType == ftUnknown || FindField(def.name)) continue;
    TField* field = AddField(CreateFieldObject(def.name, def.dataType, def.size));
    field->SetRequired(def.required);
  }
}

void TDataSet::DestroyFields() { fields_.clear(); }

void TDataSet::BindFields(bool binding) {
  calcFieldsSize_ = 0;
  for (auto& field : fields_) {
    if (!binding) {
      if (!field->Calculated()) field->fieldNo_ = 0;
      continue;
    }
    if (field->Calculated()) {
      field->fieldNo_ = -1;
      field->offset_ = calcFieldsSize_;
      calcFieldsSize_ += field->DataSize() + 1;
      continue;
    }
    const TFieldDef* def = fieldDefs_.Find(field->FieldName());
    if (!def) DatabaseError(DbMsg::FieldNotFound, {field->FieldName()});
    if (def->dataType != field->DataType())
      DatabaseError(DbMsg::FieldTypeMismatch, {field->FieldName()});
    // The storage's size wins, so that a value always fits the field.
    if (field->DataType() == ftString) field->size_ = def->size;
    field->fieldNo_ = def->fieldNo;
  }
}

bool TDataSet::ReadCalcFieldValue(const char* calcArea, const TField* field, void* destination) {
  const char* slot = calcArea + field->Offset();
  if (slot[0] == 0) return false;
  if (destination) std::memcpy(destination, slot + 1, field->DataSize());
  return true;
}

void TDataSet::WriteCalcFieldValue(char* calcArea, const TField* field, const void* source) {
  char* slot = calcArea + field->Offset();
  slot[0] = source ? 1 : 0;
  if (source)
    std::memcpy(slot + 1, source, field->DataSize());
  else
    std::memset(slot + 1, 0, field->DataSize());
}

// --- TDataSet: default hooks ----------------------------------------------------------

int32_t TDataSet::RecordCount() { return -1; }
int32_t TDataSet::ActiveRecordNumber() { return -1; }
void TDataSet::GotoRecordNumber(int32_t) {}
bool TDataSet::IsSequenced() { return true; }
int TDataSet::BookmarkCompare(const TBookmark&, const TBookmark&) { return 0; }
bool TDataSet::BookmarkIsValid(const TBookmark&) { return false; }

std::string TDataSet::TranslateText(std::string_view source, bool) { return std::string(source); }

void TDataSet::TranslateTextInPlace(std::string& text, bool toOem) {
  text = TranslateText(text, toOem);
}

std::unique_ptr<TStream> TDataSet::CreateBlobStream(TField* field, TBlobStreamMode) {
  DatabaseError(DbMsg::NoBlobSupport, {field ? field->FieldName() : std::string()});
}

// --- TDataSource ---------------------------------------------------------------------

TDataSource::TDataSource(TDataSet* dataSet) { SetDataSet(dataSet); }

TDataSource::~TDataSource() {
  try {
    SetDataSet(nullptr);
  } catch (...) {
    // The dataset failed to refill its smaller window; it stays usable and
    // reports the failure on its next move.
  }
  std::vector<TDataLink*> links = links_;
  for (TDataLink* link : links) link->SetDataSource(nullptr);
}

bool TDataSource::IsLinkedTo(TDataSet* dataSet) const {
  while (dataSet) {
    TDataSource* source = dataSet->GetDataSource();
    if (!source) break;
    if (source == this) return true;
    dataSet = source->DataSet();
  }
  return false;
}

void TDataSource::SetDataSet(TDataSet* dataSet) {
  if (dataSet == dataSet_) return;
  if (IsLinkedTo(dataSet)) DatabaseError(DbMsg::CircularDataLink);
  if (dataSet_) {
    auto& list = dataSet_->dataSources_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    dataSet_->UpdateBufferCount();
  }
  dataSet_ = dataSet;
  if (dataSet_) {
    dataSet_->dataSources_.push_back(this);
    dataSet_->UpdateBufferCount();
  }
  UpdateState();
}

void TDataSource::SetEnabled(bool value) {
  if (enabled_ == value) return;
  enabled_ = value;
  UpdateState();
}

void TDataSource::UpdateState() {
  TDataSetState state = (enabled_ && dataSet_) ? dataSet_->State() : dsInactive;
  if (state == state_) return;
  TDataSetState prior = state_;
  state_ = state;
  NotifyLinks(deUpdateState, 0, nullptr);
  if (OnStateChange) OnStateChange(*this);
  if (prior == dsInactive && OnDataChange) OnDataChange(*this, nullptr);
}

DERIDAR_ROW_PATH void TDataSource::NotifyLinks(TDataEvent event, int32_t info, TField* field) {
  ForEachOfSnapshot(links_, [&](TDataLink* link) {
    // A link may leave during the notification of an earlier one.
    if (std::find(links_.begin(), links_.end(), link) != links_.end())
      link->DataEvent(event, info, field);
  });
}

DERIDAR_ROW_PATH void TDataSource::DataEvent(TDataEvent event, int32_t info, TField* field) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (state_ == dsInactive) return;
  NotifyLinks(event, info, field);
  switch (event) {
    case deFieldChange:
      if (OnDataChange) OnDataChange(*this, field);
      break;
    case deRecordChange:
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange:
      if (OnDataChange) OnDataChange(*this, nullptr);
      break;
    default:
      break;
  }
}

// --- TDataLink -----------------------------------------------------------------------

TDataLink::~TDataLink() {
  if (!dataSource_) return;
  auto& list = dataSource_->links_;
  list.erase(std::remove(list.begin(), list.end(), this), list.end());
  try {
    if (dataSource_->DataSet()) dataSource_->DataSet()->UpdateBufferCount();
  } catch (...) {
    // As above: a failed refill of the smaller window is reported later.
  }
}

void TDataLink::SetDataSource(TDataSource* source) {
  if (source == dataSource_) return;
  if (dataSource_) {
    auto& list = dataSource_->links_;
    list.erase(std::remove(list.begin(), list.end(), this), list.end());
    if (TDataSet* old = dataSource_->DataSet()) old->UpdateBufferCount();
  }
  dataSource_ = source;
  if (dataSource_) {
    dataSource_->links_.push_back(this);
    if (TDataSet* dataSet = dataSource_->DataSet()) dataSet->UpdateBufferCount();
  }
  UpdateState();
}

void TDataLink::UpdateState() {
  bool active = dataSource_ && dataSource_->State() != dsInactive;
  if (active != active_) {
    active_ = active;
    if (active_)
      UpdateRange();
    else
      firstRecord_ = 0;
    ActiveChanged();
  }
  bool editing = active_ && EditModes(dataSource_->State());
  if (editing != editing_) {
    editing_ = editing;
    EditingChanged();
  }
}

void TDataLink::UpdateRange() {
  TDataSet* dataSet = DataSet();
  if (!dataSet) return;
  int32_t low = std::max<int32_t>(0, dataSet->activeRecord_ - bufferCount_ + 1);
  int32_t high = std::max<int32_t>(0, dataSet->bufferCount_ - bufferCount_);
  high = std::min(high, dataSet->activeRecord_);
  if (firstRecord_ < low) firstRecord_ = low;
  if (firstRecord_ > high) firstRecord_ = high;
}

void TDataLink::SetBufferCount(int32_t value) {
  value = std::max<int32_t>(value, 1);
  if (value == bufferCount_) return;
  bufferCount_ = value;
  if (active_) {
    UpdateRange();
    DataSet()->UpdateBufferCount();
    UpdateRange();
  }
}

int32_t TDataLink::ActiveRecord() const {
  TDataSet* dataSet = DataSet();
  if (!active_ || !dataSet || dataSet->state_ == dsSetKey) return 0;
  return dataSet->activeRecord_ - firstRecord_;
}

void TDataLink::SetActiveRecord(int32_t value) {
  TDataSet* dataSet = DataSet();
  if (!active_ || !dataSet || dataSet->state_ == dsSetKey) return;
  int32_t index = value + firstRecord_;
  if (index < 0 || index >= std::max<int32_t>(dataSet->recordCount_, 1)) return;
  dataSet->activeRecord_ = index;
}

int32_t TDataLink::RecordCount() const {
  TDataSet* dataSet = DataSet();
  if (!active_ || !dataSet) return 0;
  return std::min(dataSet->recordCount_, bufferCount_);
}

DERIDAR_ROW_PATH void TDataLink::DataEvent(TDataEvent event, int32_t info, TField* field) {
  if (event == deUpdateState) {
    UpdateState();
    return;
  }
  if (!active_) return;
  switch (event) {
    case deFieldChange:
    case deRecordChange:
      if (!updating_) RecordChanged(field);
      break;
    case deDataSetChange:
    case deDataSetScroll:
    case deLayoutChange: {
      int32_t count = 0;
      if (dataSource_->State() != dsSetKey) {
        int32_t active = DataSet()->activeRecord_;
        int32_t first = firstRecord_ + info;
        int32_t last = first + bufferCount_ - 1;
        if (active > last)
          count = active - last;
        else if (active < first)
          count = active - first;
        firstRecord_ = first + count;
      }
      if (event == deDataSetChange)
        DataSetChanged();
      else if (event == deDataSetScroll)
        DataSetScrolled(count);
      else
        LayoutChanged();
      break;
    }
    case deUpdateRecord:
      if (!updating_) {
        updating_ = true;
        try {
          UpdateData();
        } catch (...) {
          updating_ = false;
          throw;
        }
        updating_ = false;
      }
      break;
    case deCheckBrowseMode:
      CheckBrowseMode();
      break;
    default:
      break;
  }
}

}  // namespace platform
