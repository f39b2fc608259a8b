// The record-set framework: an abstract record set (`TDataSet`) with a window
// of row buffers, states, field objects and field definitions, bookmarks,
// data sources and data links that tell data-aware controls about changes.
//
// A concrete record set fills in the storage hooks (the virtual operations
// under the two "Storage hooks" headings below); everything else -
// navigation, the buffer window, editing states, notifications - is done
// here.
//
// Row buffers. The dataset keeps `BufferCount` buffers (the largest buffer
// count asked by its data links, at least 1) plus one spare. Buffers
// [0, recordCount) hold consecutive records of the current order; one of them
// is the active record. The cursor of the storage (where a `FetchRecord`
// with next/prior continues from) sits on the record of buffer
// `currentRecord_`, or nowhere known (-1); before any move that depends on it
// the framework repositions the storage by `InternalSetToRecord` (or
// `InternalFirst`/`InternalLast` for a buffer flagged BOF/EOF).
//
// Buffers are allocated by the framework, `RecordBufferSize()` bytes each,
// zero-filled; their layout belongs to the concrete record set.
//
// Dates are date serials: days since 30 December 1899 (the platform's
// serial, platform/locale.h); a date-time is a double whose fraction is the
// time of day.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/db_fields.h"

namespace platform {

class TDataSource;
class TDataLink;

// --- Errors ------------------------------------------------------------------

// The framework's database error.
class EDatabaseError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The framework's own message texts; `%s` and `%d` are filled in order.
enum class DbMsg : int {
  DataSetClosed,        // "Cannot perform this operation on a closed dataset"
  DataSetOpen,          // "Cannot perform this operation on an open dataset"
  NotEditing,           // "Dataset not in edit or insert mode"
  DataSetReadOnly,      // "Cannot modify a read-only dataset"
  DataSetEmpty,         // "Cannot perform this operation on an empty dataset"
  FieldNotFound,        // "Field '%s' not found"
  FieldReadOnly,        // "Field '%s' cannot be modified"
  FieldTypeMismatch,    // "Type mismatch for field '%s'"
  DuplicateFieldName,   // "Duplicate field name '%s'"
  NotInteger,           // "'%s' is not a valid integer value"
  NotFloat,             // "'%s' is not a valid floating point value"
  NotDate,              // "'%s' is not a valid date"
  NotDateTime,          // "'%s' is not a valid date and time"
  NotBoolean,           // "'%s' is not a valid boolean value for field '%s'"
  OutOfRange,           // "%s is not a valid value for field '%s'. The allowed range is %s to %s"
  RecordNotFound,       // "Record not found"
  CircularDataLink,     // "Circular datalinks are not allowed"
  NoBlobSupport,        // "Field '%s' has no blob stream"
  FieldAccess,          // "Cannot access field '%s' as type %s"
  ScanNested,           // "Cannot scan records during a scan"
  Count_
};

// The entry's text with its placeholders filled by `args` in order.
std::string DbMessage(DbMsg id, const std::vector<std::string>& args = {});
[[noreturn]] void DatabaseError(DbMsg id, const std::vector<std::string>& args = {});

// --- Field and index definitions ---------------------------------------------

struct TFieldDef {
  std::string name;
  TFieldType dataType = ftUnknown;
  int32_t size = 0;         // characters of a string field, else 0
  bool required = false;
  int32_t fieldNo = 0;      // 1-based position in the storage's record
};

class TFieldDefs {
 public:
  void Clear() { items_.clear(); }
  // Appends a definition numbered after the last one.
  TFieldDef& Add(const std::string& name, TFieldType dataType, int32_t size = 0,
                 bool required = false);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const TFieldDef& Items(int32_t index) const { return items_.at(index); }
  // Case-insensitive lookup; -1 / nullptr when absent.
  int32_t IndexOf(std::string_view name) const;
  const TFieldDef* Find(std::string_view name) const;

 private:
  std::vector<TFieldDef> items_;
};

// Index options (a set of bits).
enum TIndexOption : uint32_t {
  ixPrimary = 1,
  ixUnique = 2,
  ixDescending = 4,
  ixCaseInsensitive = 8,
  ixExpression = 16,
};

struct TIndexDef {
  std::string name;
  std::string fields;  // field names separated by ";", or the key expression
  uint32_t options = 0;
};

class TIndexDefs {
 public:
  void Clear() { items_.clear(); }
  TIndexDef& Add(const std::string& name, const std::string& fields, uint32_t options = 0);
  int32_t Count() const { return static_cast<int32_t>(items_.size()); }
  const TIndexDef& Items(int32_t index) const { return items_.at(index); }
  const TIndexDef* Find(std::string_view name) const;
  bool Updated() const { return updated_; }
  void SetUpdated(bool value) { updated_ = value; }

 private:
  std::vector<TIndexDef> items_;
  bool updated_ = false;
};

// --- Record-set vocabulary -----------------------------------------------------

enum TDataSetState {
  dsInactive,
  dsBrowse,
  dsEdit,
  dsInsert,
  dsSetKey,
  dsCalcFields,
  dsFilter,
  dsNewValue,
  dsOldValue,
  dsInternalCalc,
};

// Which record `FetchRecord` reads, relative to the storage's cursor.
enum TGetMode { gmCurrent, gmNext, gmPrior };
enum TGetResult { grOK, grBOF, grEOF, grError };

// What a buffer holds: a record, the crack before the first or after the
// last record (an insert at either end), or a record being inserted.
enum TBookmarkFlag { bfCurrent, bfBOF, bfEOF, bfInserted };

// Notifications from a dataset to its data sources and data links.
enum TDataEvent {
  deFieldChange,      // a field of the active record changed (field given)
  deRecordChange,     // the active record changed as a whole
  deDataSetChange,    // the rows changed: order, range, filter, refetch
  deDataSetScroll,    // the active record moved (info: buffer shift)
  deLayoutChange,     // fields added or removed
  deUpdateRecord,     // controls should write their pending edits
  deUpdateState,      // the state changed
  deCheckBrowseMode,  // about to leave edit state
};

// `Resync` modes (bits).
enum TResyncMode : uint32_t { rmExact = 1, rmCenter = 2 };

// Filter options (bits).
enum TFilterOption : uint32_t { foCaseInsensitive = 1, foNoPartialCompare = 2 };

// A bookmark: opaque bytes chosen by the concrete record set; empty means none.
using TBookmark = std::string;

// --- TDataSet --------------------------------------------------------------------

class TDataSet {
 public:
  using TNotifyEvent = std::function<void(TDataSet&)>;
  using TFilterRecordEvent = std::function<void(TDataSet&, bool& accept)>;

  TDataSet();
  // A concrete record set must call Close() in its own destructor: the
  // storage hooks are gone by the time this one runs.
  virtual ~TDataSet();
  TDataSet(const TDataSet&) = delete;
  TDataSet& operator=(const TDataSet&) = delete;

  // Opening and closing.
  void Open();
  void Close();
  bool Active() const { return state_ != dsInactive; }
  void SetActive(bool value) { value ? Open() : Close(); }
  TDataSetState State() const { return state_; }

  // Navigation. `MoveFirst` is `First` under the name the application uses.
  void First();
  void MoveFirst() { First(); }
  void Last();
  void Next() { MoveBy(1); }
  void Prior() { MoveBy(-1); }
  // Moves by `distance` records; returns how far it moved.
  int32_t MoveBy(int32_t distance);
  bool Bof() const { return bof_; }
  bool Eof() const { return eof_; }
  // While ScanRecords visits a record the dataset is not empty.
  bool IsEmpty() const { return !spareActive_ && activeRecord_ >= recordCount_; }

  // Rereads the current record (RefreshRecord hook) and the rows around it.
  void Refresh();
  // Refetches the rows around the storage's current record.
  void Resync(uint32_t mode);

  // Editing.
  void Edit();
  void Insert();
  void Append();
  virtual void Post();
  virtual void Cancel();
  void Delete();
  // Adds a whole record (values as text in field order; nullopt = null)
  // through the AddRecordBuffer hook, without entering insert state.
  void AppendRecord(const std::vector<std::optional<std::string>>& values);
  void InsertRecord(const std::vector<std::optional<std::string>>& values);
  // Leaves edit or insert state: posts a modified record, cancels another.
  void CheckBrowseMode();
  // Asks the data links to write their pending edits into the fields.
  void UpdateRecord();
  bool Modified() const { return modified_; }
  bool CanModify() { return GetCanModify(); }

  // Data-aware controls.
  void DisableControls();
  void EnableControls();
  bool ControlsDisabled() const { return disableCount_ > 0; }

  // Bookmarks.
  TBookmark GetBookmark();
  void GotoBookmark(const TBookmark& bookmark);
  bool BookmarkAvailable();

  // Reads up to `count` records that follow the record of `after` in the
  // current order (from the first record when `after` is empty) without
  // moving the visible rows: the records are fetched into the spare buffer
  // and, while `visit` runs for each, the fields answer from it. Fires no
  // notification. Returns the number of records visited.
  int32_t ScanRecords(const TBookmark& after, int32_t count,
                      const std::function<void(const TBookmark&)>& visit);
  // Passes over up to `count` records as ScanRecords would visit them, but
  // without making any of them readable through the fields: for counting
  // rows. `last` receives the bookmark of the last record passed (unchanged
  // when none). Fires no notification. Returns the number passed.
  int32_t SkipRecords(const TBookmark& after, int32_t count, TBookmark& last);
  // Counts the records of the current order without reading them, where
  // the record set can (an index order: its keys), and gives in `ends` the
  // bookmark of every `step`-th record - records step, 2*step, ... - so a
  // reader can start a run of `step` records anywhere (ScanRecords after
  // the end of the run before). Returns -1, with `ends` empty, when the
  // record set cannot count without reading every record. The position
  // does not move and no notification is fired.
  virtual int32_t CountRecords(int32_t step, std::vector<TBookmark>& ends);

  // Fields.
  int32_t FieldCount() const { return static_cast<int32_t>(fields_.size()); }
  TField* Fields(int32_t index) const { return fields_.at(index).get(); }
  TField* FindField(std::string_view name) const;
  TField* FieldByName(std::string_view name) const;
  // Adds a field object (a persistent field when added before opening).
  TField* AddField(std::unique_ptr<TField> field);
  template <class F, class... A>
  F* CreateField(A&&... args) {
    return static_cast<F*>(AddField(std::make_unique<F>(std::forward<A>(args)...)));
  }
  TFieldDefs& FieldDefs() { return fieldDefs_; }
  TIndexDefs& IndexDefs() { return indexDefs_; }
  int32_t CalcFieldsSize() const { return calcFieldsSize_; }

  // Filter settings; the record set decides what they mean (setters are
  // overridable and store the value).
  const std::string& Filter() const { return filterText_; }
  virtual void SetFilter(const std::string& text) { filterText_ = text; }
  bool Filtered() const { return filtered_; }
  virtual void SetFiltered(bool value) { filtered_ = value; }
  uint32_t FilterOptions() const { return filterOptions_; }
  virtual void SetFilterOptions(uint32_t options) { filterOptions_ = options; }

  bool AutoCalcFields() const { return autoCalcFields_; }
  void SetAutoCalcFields(bool value) { autoCalcFields_ = value; }

  // Whether following `source` - its dataset, that dataset's own data
  // source (GetDataSource), and so on - reaches this dataset.
  bool IsLinkedTo(TDataSource* source);
  // The data source this dataset depends on (a master); none by default.
  virtual TDataSource* GetDataSource() const { return nullptr; }

  // --- Storage hooks that are public operations --------------------------------
  // Record count: -1 when the storage cannot tell.
  virtual int32_t RecordCount();
  // Number of the active record (a position when sequenced); -1 unknown.
  virtual int32_t ActiveRecordNumber();
  virtual void GotoRecordNumber(int32_t recordNumber);
  // Whether record numbers are positions in the current order.
  virtual bool IsSequenced();
  // Orders two bookmarks: -1, 0 or 1.
  virtual int BookmarkCompare(const TBookmark& a, const TBookmark& b);
  virtual bool BookmarkIsValid(const TBookmark& bookmark);
  // Converts text between the screen's and the storage's code page; string
  // fields call it on every value they read (toOem false) and write (true)
  // while their Transliterate switch is on. Returns a copy by default.
  virtual std::string TranslateText(std::string_view source, bool toOem);
  // The same conversion applied to `text` in place (no copy when the record
  // set can translate within the buffer).
  virtual void TranslateTextInPlace(std::string& text, bool toOem);
  // A stream over a memo or blob field of the active record.
  virtual std::unique_ptr<TStream> CreateBlobStream(TField* field, TBlobStreamMode mode);
  // Builds FieldDefs from the storage.
  virtual void InitFieldDefs() = 0;
  // Checks that the dataset is open ("Cannot perform this operation on a
  // closed dataset"); a record set may add its own conditions.
  virtual void CheckActive();

  // Events.
  TNotifyEvent BeforeOpen, AfterOpen, BeforeClose, AfterClose;
  TNotifyEvent BeforeScroll, AfterScroll;
  TNotifyEvent BeforeEdit, AfterEdit, BeforeInsert, AfterInsert;
  TNotifyEvent BeforePost, AfterPost, BeforeCancel, AfterCancel;
  TNotifyEvent BeforeDelete, AfterDelete;
  TNotifyEvent OnNewRecord, OnCalcFields;
  TFilterRecordEvent OnFilterRecord;

 protected:
  // --- Storage hooks -----------------------------------------------------------
  // Size of one row buffer; asked when the buffers are laid out at open.
  virtual int32_t RecordBufferSize() = 0;
  // Reads a record into `buffer` by `mode` and moves the storage's cursor to
  // it. With `doCheck` a failure raises; otherwise it returns grError.
  virtual TGetResult FetchRecord(TRecordBuffer buffer, TGetMode mode, bool doCheck) = 0;
  // Fills a buffer for a new record (blank values).
  virtual void InternalInitRecord(TRecordBuffer buffer) = 0;
  // Clears the calculated-fields area of a buffer.
  virtual void ClearCalcFields(TRecordBuffer buffer);
  virtual TBookmark GetBookmarkData(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkData(TRecordBuffer buffer, const TBookmark& bookmark) = 0;
  virtual TBookmarkFlag GetBookmarkFlag(TRecordBuffer buffer) = 0;
  virtual void SetBookmarkFlag(TRecordBuffer buffer, TBookmarkFlag flag) = 0;
  // Puts the cursor on the record of a bookmark.
  virtual void InternalGotoBookmark(const TBookmark& bookmark) = 0;
  // Puts the cursor on the record of a buffer (by its bookmark by default).
  virtual void InternalSetToRecord(TRecordBuffer buffer);
  // Puts the cursor on the crack before the first / after the last record.
  virtual void InternalFirst() = 0;
  virtual void InternalLast() = 0;
  // Opens the storage: builds field definitions, creates default fields
  // (CreateFields when DefaultFields()), binds fields (BindFields(true)).
  virtual void OpenDataset() = 0;
  // Closes the storage: BindFields(false), DestroyFields when default.
  // Also called after a failed OpenDataset, so it must cope with a half-open
  // storage.
  virtual void CloseDataset() = 0;
  // Copies the value of a field of the record the state selects into
  // `destination` (DataSize() bytes, zero-filled; may be null to only ask).
  // Returns whether the field has a value.
  virtual bool ReadFieldValue(TField* field, void* destination) = 0;
  // The text of a string field of the record the state selects as a view
  // of the stored bytes, without copying them: the characters ReadFieldValue
  // would give (empty for no value). The view lasts until the record set
  // reads or changes that record. False when the record set cannot give a
  // view; the field then reads its value through ReadFieldValue.
  virtual bool FieldTextView(TField* /*field*/, std::string_view& /*text*/) { return false; }
  // Stores a value (null `source`: no value) into the record the state
  // selects; then calls FieldChanged(field) where appropriate.
  virtual void WriteFieldValue(TField* field, const void* source) = 0;
  // Editing: entering edit (lock the record), entering insert, posting the
  // active buffer, cancelling, deleting the cursor's record, adding a whole
  // buffer, rereading the current record for Refresh.
  virtual void StartEdit() {}
  virtual void InternalInsert() {}
  virtual void PostRecord() = 0;
  virtual void CancelRecord() {}
  virtual void DeleteRecord() = 0;
  virtual void AddRecordBuffer(TRecordBuffer buffer, bool append) = 0;
  virtual void RefreshRecord() {}
  // Whether records may be changed.
  virtual bool GetCanModify() { return true; }
  // A scan (ScanRecords) is about to read records one after another
  // (`fromFirst`: starting at the first record), and has ended - also when
  // it failed. The storage may prepare for reading in a row and undo that.
  virtual void BeginScan(bool /*fromFirst*/) {}
  virtual void EndScan() {}
  // Moves the cursor forward over up to `count` records, as FetchRecord
  // with gmNext does, and gives the bookmark of the last one; returns how
  // many. By default each record is fetched into `buffer`; a record set may
  // move without filling it.
  virtual int32_t InternalSkip(TRecordBuffer buffer, int32_t count, TBookmark& last);

  // --- Services for concrete record sets -------------------------------------
  TRecordBuffer ActiveBuffer() const;
  TRecordBuffer CalcBuffer() const { return calcBuffer_; }
  // The spare buffer (after the valid rows).
  TRecordBuffer TempBuffer() const;
  int32_t BufferCount() const { return bufferCount_; }
  int32_t RecordBufferCount() const { return recordCount_; }  // valid rows
  int32_t ActiveRecord() const { return activeRecord_; }
  TRecordBuffer Buffer(int32_t index) const;
  void SetState(TDataSetState value);
  // Temporary states (calc-fields, filter, old-value ...) that send no
  // notification; RestoreState returns to the saved one.
  TDataSetState SetTempState(TDataSetState value);
  void RestoreState(TDataSetState saved) { state_ = saved; }
  // Runs OnFilterRecord in the filter state on the record the concrete set
  // shows for it; true when the set is not filtered or the handler accepts.
  bool FilterAccepts();
  void DataEvent(TDataEvent event, int32_t info = 0, TField* field = nullptr);
  // A field of the active record changed: marks the record modified and
  // tells the links.
  void FieldChanged(TField* field);
  // Computes the calculated fields of `buffer` (OnCalcFields) and leaves
  // CalcBuffer() on it.
  void GetCalcFields(TRecordBuffer buffer);
  void DoBeforeScroll();
  void DoAfterScroll();
  // Field objects from the field definitions.
  bool DefaultFields() const { return defaultFields_; }
  void CreateFields();
  void DestroyFields();
  // Binds fields to their definitions (field numbers, calc-field offsets).
  void BindFields(bool binding);
  void CursorPosChanged() { currentRecord_ = -1; }
  void UpdateCursorPos();
  void ClearBuffers();
  // Calculated-field values in a calculated-fields area: a present byte,
  // then DataSize() bytes, at the field's Offset().
  static bool ReadCalcFieldValue(const char* calcArea, const TField* field, void* destination);
  static void WriteCalcFieldValue(char* calcArea, const TField* field, const void* source);

 private:
  template <typename Walk>
  int32_t WithSpareScan(const TBookmark& after, int32_t count, Walk&& walk);
  friend class TDataSource;
  friend class TDataLink;
  friend class TField;

  void OpenCursor();
  void CloseCursor();
  void RequireCursor() const;
  void SetBufferCount(int32_t value);
  void UpdateBufferCount();
  void MoveBuffer(int32_t from, int32_t to);
  void SetCurrentRecord(int32_t index);
  void ActivateBuffers();
  bool GetNextRecord();
  bool GetPriorRecord();
  int32_t GetNextRecords();
  int32_t GetPriorRecords();
  void InitRecord(TRecordBuffer buffer);
  void BeginInsertAppend();
  void EndInsertAppend();
  void AddRecord(const std::vector<std::optional<std::string>>& values, bool append);
  void AdjustLinksFirstRecord(int32_t delta);
  template <class F>
  void ForEachLink(F&& f);
  static void Fire(const TNotifyEvent& event, TDataSet& self) {
    if (event) event(self);
  }

  TDataSetState state_ = dsInactive;
  std::vector<std::unique_ptr<char[]>> buffers_;  // bufferCount_ + 1 when open
  int32_t bufferSize_ = 0;
  int32_t bufferCount_ = 0;
  int32_t recordCount_ = 0;
  int32_t activeRecord_ = 0;
  int32_t currentRecord_ = -1;
  bool bof_ = true;
  bool eof_ = true;
  bool modified_ = false;
  TRecordBuffer calcBuffer_ = nullptr;
  int32_t disableCount_ = 0;
  TDataSetState disableState_ = dsInactive;
  TDataEvent enableEvent_ = deDataSetChange;
  // The spare buffer stands in as the active record (ScanRecords,
  // AppendRecord); nested scans are refused.
  bool spareActive_ = false;
  bool cursorOpen_ = false;

  std::vector<std::unique_ptr<TField>> fields_;
  bool defaultFields_ = false;
  int32_t calcFieldsSize_ = 0;
  TFieldDefs fieldDefs_;
  TIndexDefs indexDefs_;
  std::vector<TDataSource*> dataSources_;

  std::string filterText_;
  bool filtered_ = false;
  uint32_t filterOptions_ = 0;
  bool autoCalcFields_ = true;
};

// --- TDataSource -----------------------------------------------------------------

// Connects data links to a dataset and forwards its notifications.
class TDataSource {
 public:
  explicit TDataSource(TDataSet* dataSet = nullptr);
  ~TDataSource();
  TDataSource(const TDataSource&) = delete;
  TDataSource& operator=(const TDataSource&) = delete;

  TDataSet* DataSet() const { return dataSet_; }
  // "Circular datalinks are not allowed" when `dataSet` depends on this source.
  void SetDataSet(TDataSet* dataSet);
  bool Enabled() const { return enabled_; }
  void SetEnabled(bool value);
  TDataSetState State() const { return state_; }
  bool IsLinkedTo(TDataSet* dataSet) const;

  std::function<void(TDataSource&, TField*)> OnDataChange;
  std::function<void(TDataSource&)> OnStateChange;

 private:
  friend class TDataSet;
  friend class TDataLink;

  void DataEvent(TDataEvent event, int32_t info, TField* field);
  void NotifyLinks(TDataEvent event, int32_t info, TField* field);
  void UpdateState();

  TDataSet* dataSet_ = nullptr;
  bool enabled_ = true;
  TDataSetState state_ = dsInactive;
  std::vector<TDataLink*> links_;
};

// --- TDataLink -------------------------------------------------------------------

// A data-aware control's connection to a data source. It sees a window of
// BufferCount() rows of the dataset's buffers containing the active record;
// the dataset keeps at least as many buffers as its largest link asks for.
class TDataLink {
 public:
  TDataLink() = default;
  virtual ~TDataLink();
  TDataLink(const TDataLink&) = delete;
  TDataLink& operator=(const TDataLink&) = delete;

  TDataSource* DataSource() const { return dataSource_; }
  void SetDataSource(TDataSource* source);
  TDataSet* DataSet() const { return dataSource_ ? dataSource_->DataSet() : nullptr; }
  bool Active() const { return active_; }
  bool Editing() const { return editing_; }

  int32_t BufferCount() const { return bufferCount_; }
  void SetBufferCount(int32_t value);
  // Index of the active record in this link's window.
  int32_t ActiveRecord() const;
  // Points the dataset's active record at row `value` of the window (to read
  // that row's fields); no notification is sent.
  void SetActiveRecord(int32_t value);
  // Rows available in the window.
  int32_t RecordCount() const;

 protected:
  // Notifications; all do nothing by default.
  virtual void ActiveChanged() {}
  virtual void EditingChanged() {}
  virtual void DataSetChanged() { RecordChanged(nullptr); }
  // The window moved by `distance` rows (positive: forward).
  virtual void DataSetScrolled(int32_t /*distance*/) { DataSetChanged(); }
  virtual void LayoutChanged() { DataSetChanged(); }
  virtual void RecordChanged(TField* /*field*/) {}
  virtual void UpdateData() {}
  virtual void CheckBrowseMode() {}

 private:
  friend class TDataSource;
  friend class TDataSet;

  void DataEvent(TDataEvent event, int32_t info, TField* field);
  void UpdateState();
  void UpdateRange();

  TDataSource* dataSource_ = nullptr;
  bool active_ = false;
  bool editing_ = false;
  bool updating_ = false;
  int32_t bufferCount_ = 1;
  int32_t firstRecord_ = 0;
};

}  // namespace platform
