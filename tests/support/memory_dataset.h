// An in-memory record set for tests of the record-set framework and the
// grid model: a vector of rows behind the framework's storage hooks.
//
// Rows are stored as text per column, like a dBase record: strings as
// given, numbers in decimal with '.', booleans "T"/"F", dates "yyyymmdd",
// date-times as a decimal serial. Text may be stored in code page 866 and
// shown in 1251 (`translate` on), which exercises the fields' Transliterate.
//
// Row buffer layout (bytes):
//   0          R   record image: per column a present byte + `width` bytes
//   R          C   calculated-fields area (the framework's CalcFieldsSize)
//   R + C      4   row id (the bookmark)
//   R + C + 4  1   bookmark flag
#pragma once

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/db.h"

class MemoryDataSet : public platform::TDataSet {
 public:
  struct Column {
    std::string name;
    platform::TFieldType type = platform::ftString;
    int32_t size = 0;  // characters of a string column
  };
  using Values = std::vector<std::optional<std::string>>;

  explicit MemoryDataSet(std::vector<Column> columns, bool translate = false);
  ~MemoryDataSet() override;

  // Storage rows (stored text per column; nullopt = no value). Rows added
  // while open appear after the next First/Refresh.
  void AddRow(const Values& values);
  int32_t StorageRowCount() const { return static_cast<int32_t>(rows_.size()); }
  // Stored text of a column of a storage row.
  std::optional<std::string> StoredValue(int32_t row, int32_t column) const;

  void SetReadOnly(bool value) { readOnly_ = value; }

  // Rows copied out of storage (each record examined by a fetch or filter).
  int64_t ReadCount() const { return readCount_; }
  void ResetReadCount() { readCount_ = 0; }
  int32_t StartEditCount() const { return startEdits_; }
  int32_t CancelCount() const { return cancels_; }

  // A master data source this dataset depends on (for link-cycle checks).
  void SetMasterSource(platform::TDataSource* source) { master_ = source; }
  platform::TDataSource* GetDataSource() const override { return master_; }

  // Framework internals, for assertions.
  int32_t WindowSize() const { return BufferCount(); }
  int32_t WindowRows() const { return RecordBufferCount(); }

  // Public hooks.
  int32_t RecordCount() override;
  int32_t ActiveRecordNumber() override;
  void GotoRecordNumber(int32_t recordNumber) override;
  int BookmarkCompare(const platform::TBookmark& a, const platform::TBookmark& b) override;
  bool BookmarkIsValid(const platform::TBookmark& bookmark) override;
  std::string TranslateText(std::string_view source, bool toOem) override;
  std::unique_ptr<platform::TStream> CreateBlobStream(platform::TField* field,
                                                      platform::TBlobStreamMode mode) override;
  void InitFieldDefs() override;

 protected:
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
  void InternalFirst() override { pos_ = -1; }
  void InternalLast() override { pos_ = static_cast<int32_t>(rows_.size()); }
  void OpenDataset() override;
  void CloseDataset() override;
  bool ReadFieldValue(platform::TField* field, void* destination) override;
  void WriteFieldValue(platform::TField* field, const void* source) override;
  void StartEdit() override { ++startEdits_; }
  void PostRecord() override;
  void CancelRecord() override { ++cancels_; }
  void DeleteRecord() override;
  void AddRecordBuffer(platform::TRecordBuffer buffer, bool append) override;
  bool GetCanModify() override { return !readOnly_; }

 private:
  friend class MemoryBlobStream;
  struct Row {
    int32_t id;
    std::string image;
  };

  int32_t SlotWidth(int32_t column) const;
  // The record image the state reads and writes; null when there is none.
  char* StateRecord();
  bool Accept(int32_t index);
  void StoreRow(const char* image, bool append);
  int32_t IndexOfId(int32_t id) const;
  void Reindex();
  std::string SlotText(const char* image, int32_t column) const;
  void SetSlotText(char* image, int32_t column, const std::optional<std::string>& text);

  std::vector<Column> columns_;
  std::vector<int32_t> offsets_;
  int32_t imageSize_ = 0;
  bool translate_;
  bool readOnly_ = false;
  std::vector<Row> rows_;
  std::unordered_map<int32_t, int32_t> indexOfId_;
  int32_t nextId_ = 1;
  int32_t pos_ = -1;
  std::string filterImage_;
  int64_t readCount_ = 0;
  int32_t startEdits_ = 0;
  int32_t cancels_ = 0;
  platform::TDataSource* master_ = nullptr;
};
