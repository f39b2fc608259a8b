// The dataset adapter: `TDeridarDataSet` presents one dBase table as a
// record set of the framework in platform/db.h. It owns the table object
// (`DBFObject`) while open, lends the framework's row buffers to it for each
// operation, converts field values between the table's storage and the
// framework's native forms, translates text between the screen's ANSI and
// the file's OEM code page, and edits records under record locks.
// `THCBlobStream` is a stream over one memo or blob field.
//
// Row buffer (L = record length, C = calculated-fields size):
//
//   offset      size  content
//   0           L     the raw table record (deletion flag first)
//   L           C     calculated fields (present byte, then the value)
//   L+C         4     record number, signed 32-bit
//   L+C+5       1     bookmark flag (0 for a record read normally)
//   L+C+8       11    bookmark: the record number right-aligned in 10
//                     characters with leading blanks, then a zero byte
//
// Buffer size L + C + 19.
//
// Scans. The framework's scans (ScanRecords, SkipRecords) in record-number
// order read through the table's read-ahead window. A reader that no other
// handle writes through - read-only, or the table not shared - keeps the
// window between scans; a header refresh that sees another writer's change
// empties it, as do Refresh and a scan from the first record (which
// refreshes the header). A shared writer drops the window after each scan.
// Skipping moves the table over its own record image, read in place from
// the window (direct cache), without filling a row buffer.
//
// Folders: `DatabaseName` is a folder or an alias. The process-wide alias
// list holds "Default Directory" (the program's folder) and the "Alias"
// section (name=value lines) of "deridar.cfg" in the system directory.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "engine/support/gs6_cnst.h"
#include "engine/table/gs6_dbsy.h"
#include "platform/db.h"

// Record-set type of numeric fields of 10 or more digits without decimals.
enum class TgsIntFields { asInteger, asLargeInt, asFloat };

// Options of LocateRecord (bits).
enum TgsLocateOption : uint32_t { loCaseInsensitive = 1, loPartialKey = 2 };

class TDeridarDataSet;

// The dataset's link to its master: reports master moves and the link
// being switched off.
class TgsMasterDataLink : public platform::TDataLink {
 public:
  explicit TgsMasterDataLink(TDeridarDataSet* detail) : detail_(detail) {}

 protected:
  void ActiveChanged() override;
  void RecordChanged(platform::TField* field) override;

 private:
  TDeridarDataSet* detail_;
};

// Name/value pairs of the process-wide alias list.
using TgsAliasList = std::vector<std::pair<std::string, std::string>>;

class TDeridarDataSet : public platform::TDataSet, public DBFObjectOwner {
 public:
  using TgsStatusReport = std::function<void(TDeridarDataSet&, int32_t stat1, int32_t stat2,
                                             int32_t stat3)>;

  static constexpr int32_t kBookmarkSize = 11;
  static constexpr int32_t kRangeCountLimit = 8192;
  static constexpr const char* kDefaultDirectory = "Default Directory";

  TDeridarDataSet();
  ~TDeridarDataSet() override;

  // --- published properties, in publishing order ---
  bool AutoFlush() const { return autoFlush_; }
  void SetAutoFlush(bool on);
  const std::string& DatabaseName() const { return databaseName_; }
  void SetDatabaseName(const std::string& name);
  const std::string& EncryptionKey() const { return encryptionKey_; }
  void SetEncryptionKey(const std::string& key);
  bool ExactCount() const { return exactCount_; }
  void SetExactCount(bool on) { exactCount_ = on; }
  bool Exclusive() const { return exclusive_; }
  void SetExclusive(bool on);
  const std::vector<std::string>& IndexFiles() const { return indexFiles_; }
  // Opens these index files (names with or without folder and extension).
  void SetIndexFiles(const std::vector<std::string>& files);
  const std::string& IndexName() const { return indexName_; }
  // Makes this tag the current order (empty: record-number order).
  void SetIndexName(const std::string& name);
  TgsIntFields LargeIntegerAs() const { return largeIntegerAs_; }
  void SetLargeIntegerAs(TgsIntFields as);
  TgsLokProtocol LockProtocol() const { return lockProtocol_; }
  void SetLockProtocol(TgsLokProtocol protocol);
  const std::string& MasterFields() const { return masterFields_; }
  void SetMasterFields(const std::string& fields) { masterFields_ = fields; }
  platform::TDataSource* MasterSource() const { return masterLink_.DataSource(); }
  void SetMasterSource(platform::TDataSource* source);
  bool ReadOnly() const { return readOnly_; }
  void SetReadOnly(bool on);
  const std::string& TableName() const { return tableName_; }
  void SetTableName(const std::string& name);
  bool TranslateASCII() const { return translateASCII_; }
  void SetTranslateASCII(bool on);
  bool UseDeleted() const { return useDeleted_; }
  void SetUseDeleted(bool on);
  int32_t UserID() const { return userId_; }
  void SetUserID(int32_t id);
  TgsStatusReport OnStatus;

  // While true (a form is being loaded), setting TableName keeps IndexFiles.
  bool Loading() const { return loading_; }
  void SetLoading(bool on) { loading_ = on; }

  // The folder of the table: see the unit comment; ends in '/' unless empty.
  std::string DatabasePath() const;

  // --- process-wide alias list ---
  static TgsAliasList& Aliases();
  // Rebuilds the list from "deridar.cfg" in `directory` (the system
  // directory by default).
  static void LoadAliases(const std::string& directory);

  // --- orders, ranges, searches and filters ---
  // Replaces the open index files by a list ("a.cdx; \"b c.cdx\", d") and
  // makes `tagName` the order.
  void OpenIndexes(const std::string& fileList, const std::string& tagName);
  // Builds one tag into an index file (see GSO_dBHandler::IndexOn); the
  // dataset's own index list is not changed.
  void IndexOn(const std::string& fileName, const std::string& tagName,
               const std::string& keyExpression, const std::string& forExpression,
               int32_t uniqueness, int32_t sortOrder);
  // Range on the current tag from ANSI texts (translated for the file):
  // low inclusive, high continuing, no partial high; empty texts are no
  // bound. Moves to the first record when the range changed.
  void SetRange(const std::string& low, const std::string& high);
  // Range with explicit switches and untranslated texts; always moves to
  // the first record.
  void SetRangeEx(const std::string& low, const std::string& high, bool lowInclusive,
                  bool highContinue, bool partialHigh);
  // Finds a record by field values (field names separated by ";", values
  // as screen texts) and makes it current; the position stays otherwise.
  bool LocateRecord(const std::string& fields, const std::vector<std::string>& values,
                    uint32_t options);
  // The text of `resultField` of the record found as LocateRecord finds it
  // (no options); none when not found. The position does not change.
  std::optional<std::string> LookupValue(const std::string& fields,
                                         const std::vector<std::string>& values,
                                         const std::string& resultField);
  int32_t IndexTagCount() const;
  std::string IndexTagName(int32_t n) const;
  std::string IndexTagKey(int32_t n) const;
  // Rebuilds IndexDefs from the open tags.
  void BuildIndexDefs();
  void SetFilter(const std::string& text) override;
  void SetFiltered(bool value) override;
  void SetFilterOptions(uint32_t options) override;

  // --- public operations ---
  // Removes the deletion mark of the current record.
  void RecallRecord();
  // Copies `count` bytes, translated when TranslateASCII is on: direction 1
  // ANSI to OEM (toward the file), 0 OEM to ANSI (toward the screen). A null
  // source gives an empty (zero-terminated) destination. Returns `count`.
  virtual int32_t TranslateText(const char* source, char* destination, int32_t count,
                                int direction);
  std::string TranslateText(std::string_view source, bool toOem) override;
  void TranslateTextInPlace(std::string& text, bool toOem) override;

  int32_t RecordCount() override;
  // With an index order and no record filter: the rows of the order and
  // range, counted from the tag's keys (records marked deleted left out
  // unless UseDeleted), without reading the records. A whole order is
  // counted once and kept while neither the table nor the index file
  // changes. A range is counted from the index structure where its format
  // allows (CDX); else by its keys, and not when it has more than
  // kRangeCountLimit of them.
  int32_t CountRecords(int32_t step, std::vector<platform::TBookmark>& ends) override;
  int32_t ActiveRecordNumber() override;
  void GotoRecordNumber(int32_t recordNumber) override;
  bool IsSequenced() override;
  int BookmarkCompare(const platform::TBookmark& a, const platform::TBookmark& b) override;
  bool BookmarkIsValid(const platform::TBookmark& bookmark) override;
  std::unique_ptr<platform::TStream> CreateBlobStream(platform::TField* field,
                                                      platform::TBlobStreamMode mode) override;
  void InitFieldDefs() override;
  void CheckActive() override;
  platform::TDataSource* GetDataSource() const override { return masterLink_.DataSource(); }

  // The table object while open, none while closed.
  DBFObject* Table() const { return table_.get(); }
  // 0 idle, 1 building an index, 2 copying.
  int32_t BusyStatus() const { return busy_; }

  // Master/detail: the master moved, or its link went off.
  void MasterChanged();
  void MasterDisabled();

  // --- DBFObjectOwner ---
  bool AcceptTableRecord() override;
  void TableStatus(int32_t stat1, int32_t stat2, int32_t stat3) override;

 protected:
  // --- storage hooks ---
  int32_t RecordBufferSize() override;
  platform::TGetResult FetchRecord(platform::TRecordBuffer buffer, platform::TGetMode mode,
                                   bool doCheck) override;
  void InternalInitRecord(platform::TRecordBuffer buffer) override;
  void ClearCalcFields(platform::TRecordBuffer buffer) override;
  platform::TBookmark GetBookmarkData(platform::TRecordBuffer buffer) override;
  void SetBookmarkData(platform::TRecordBuffer buffer, const platform::TBookmark& bookmark) override;
  platform::TBookmarkFlag GetBookmarkFlag(platform::TRecordBuffer buffer) override;
  void SetBookmarkFlag(platform::TRecordBuffer buffer, platform::TBookmarkFlag flag) override;
  void InternalGotoBookmark(const platform::TBookmark& bookmark) override;
  void InternalFirst() override;
  void InternalLast() override;
  void OpenDataset() override;
  void CloseDataset() override;
  bool ReadFieldValue(platform::TField* field, void* destination) override;
  bool FieldTextView(platform::TField* field, std::string_view& text) override;
  void WriteFieldValue(platform::TField* field, const void* source) override;
  void StartEdit() override;
  void PostRecord() override;
  void CancelRecord() override;
  void DeleteRecord() override;
  void AddRecordBuffer(platform::TRecordBuffer buffer, bool append) override;
  void RefreshRecord() override;
  bool GetCanModify() override { return !readOnly_; }
  void BeginScan(bool fromFirst) override;
  void EndScan() override;
  int32_t InternalSkip(platform::TRecordBuffer buffer, int32_t count,
                       platform::TBookmark& last) override;

 private:
  friend class THCBlobStream;

  // Points the table's current record at `buffer` (not in filter state);
  // DetachBuffer points it back at the table's own record area.
  void AttachBuffer(char* buffer);
  void DetachBuffer();
  // The record buffer the state reads and writes field values in.
  char* FieldBuffer();
  // Record number stored in a buffer.
  TRecNo BufferRecNo(const char* buffer) const;
  void SetBufferRecNo(char* buffer, TRecNo n);
  int32_t InfoOffset() const { return recordLength_ + CalcFieldsSize(); }
  // The record type of a table field per the type mapping; ftUnknown for
  // none.
  platform::TFieldType MapFieldType(char type, int32_t length, int32_t decimals) const;
  void CheckClosed() const;
  void RequireOpenTable() const;
  // Opens the table object (writable and shared as asked).
  std::unique_ptr<DBFObject> MakeTable(bool readWrite, bool shared);
  // Leaves the framework's edit or insert state.
  void LeaveEditState();
  // Rereads the current record for a delete or recall and settles the end.
  void ResettleAfterMark();
  // Opens the dataset's index files in `table` (see SetIndexFiles).
  void OpenIndexFilesIn(GSO_dBHandler& table);
  // Reruns the index list on the open table, or checks it on a closed one.
  void IndexFilesChanged();
  // Hands the filter text and options to the table object.
  void ApplyFilter(const std::string& text, uint32_t options);
  // The range key of the master's current record; "\x01" for none.
  std::string MasterRangeKey();
  // Applies the master range to the table object directly.
  void ApplyMasterRange();
  // Puts the table back on the record of the active row.
  void ReturnToActiveRow();
  // First() after the handler has changed the key range (see rangeTopRecord_).
  void FirstOfNewRange();
  // Visits the record number of every key of the current tag within its
  // range, in order, until `visit` returns false, then puts the tag back on
  // the table's record. True when every key was visited.
  template <class Visit>
  bool WalkCurrentTag(Visit&& visit);
  // Runs `work` on the current tag, then puts the tag back on the table's
  // record (also when `work` throws); returns what `work` returns.
  template <class Work>
  auto AtTablePlace(Work&& work);
  // The rows of the current tag within its range, counted by the index
  // from its structure (GSobjIndexTag::CountRangeKeys; records marked in
  // `deleted` left out), with the record of every `step`-th row in `ends`.
  // False when the index format cannot count without the walk.
  bool CountCurrentTag(const std::vector<uint8_t>* deleted, int32_t step, int32_t& count,
                       std::vector<TRecNo>& ends);
  struct TOrderRows;
  // The row count of the current order without a range and the record of
  // every `step`-th row, from orderRows_ or counted and kept there; null
  // when the index file cannot say whether it changed.
  const TOrderRows* WholeOrderRows(const std::vector<uint8_t>* deleted, int32_t step);
  // One byte per record (index = record number) that is 1 for a record
  // marked deleted, read in one pass over the table and read again when
  // the record count or the header's update stamp changes; null for an
  // enciphered table, whose flags the window holds enciphered.
  const std::vector<uint8_t>* DeletedMarks();

  std::unique_ptr<DBFObject> table_;
  int32_t recordLength_ = 0;
  // The cache switch before the running scan.
  bool scanCacheWas_ = false;

  bool autoFlush_ = false;
  std::string databaseName_;
  std::string encryptionKey_;
  bool exactCount_ = false;
  bool exclusive_ = false;
  std::vector<std::string> indexFiles_;
  std::string indexName_;
  TgsIntFields largeIntegerAs_ = TgsIntFields::asInteger;
  TgsLokProtocol lockProtocol_ = TgsLokProtocol::Default;
  std::string masterFields_;
  TgsMasterDataLink masterLink_{this};
  bool readOnly_ = false;
  std::string tableName_;
  bool translateASCII_ = true;
  bool useDeleted_ = false;
  int32_t userId_ = 0;
  bool loading_ = false;

  int32_t busy_ = 0;
  bool beforeFirst_ = false;
  bool afterLast_ = false;
  // While First() runs right after a changed key range: the record the
  // handler stood on at the range's top, already read into its own buffer,
  // so the first fetch takes that image instead of seeking again (-1: none).
  TRecNo rangeTopRecord_ = -1;
  bool editInProgress_ = false;
  bool buildingIndexDefs_ = false;
  std::vector<char> keyBuffer_;
  // Whole orders counted before (the seven of the directory viewer fit),
  // with what they were counted from. Only every step-th row's record is
  // kept, not every row: a large table's orders would otherwise hold four
  // bytes per record each.
  struct TOrderRows {
    std::string order;  // index files and tag
    int64_t indexStamp;
    int32_t root;
    TRecNo records;
    uint32_t tableStamp;
    bool useDeleted;
    int32_t step;
    int32_t count = 0;
    std::vector<TRecNo> stepEnds;  // the records of rows step, 2*step, ...
  };
  static constexpr size_t kKnownOrders = 8;
  std::vector<TOrderRows> orderRows_;
  std::vector<uint8_t> deletedMarks_;
  bool deletedMarksAny_ = false;  // some record is marked
  TRecNo deletedMarksCount_ = -1;
  uint32_t deletedMarksStamp_ = 0;
  // A buffer field values are read from instead of the state's (lookups).
  char* lookupBuffer_ = nullptr;
};

// A stream over one memo or blob field of the active record. Reading gives
// the field's text (translated OEM to ANSI when the field transliterates);
// a modified stream writes its contents back when it is flushed or freed in
// edit or insert state.
class THCBlobStream : public platform::TStream {
 public:
  THCBlobStream(platform::TField* field, platform::TBlobStreamMode mode);
  ~THCBlobStream() override;

  int32_t Read(void* buffer, int32_t count) override;
  int32_t Write(const void* buffer, int32_t count) override;
  int64_t Seek(int64_t offset, platform::TSeekOrigin origin) override;
  void Flush() override;

  bool Modified() const { return modified_; }

 private:
  void WriteBack();

  platform::TField* field_;
  int32_t fieldNo_;
  TDeridarDataSet* dataSet_;
  std::vector<char> block_;  // contents plus a terminating zero
  int64_t position_ = 0;
  bool modified_ = false;
};
