// The table handler: the table as the dataset layer sees it. It makes the
// table navigable (moves and skips that honour the deleted-record switch and
// a record-acceptance hook), switches the table file's read-ahead window,
// locks the open index files around every write, passes the lock protocol
// and renames on to them, reports progress of long operations, and re-keys
// an enciphered table. `DBFObject` adds the link back to its dataset.
//
// Index files live in 63 slots (1..63) in opening order; a current tag, when
// there is one, gives the order. The handler answers the index files'
// questions about their table as their `GSobjIndexOwner`.
//
// Work states (TableState): 1 normal, 4 building an index, 5 re-keying.
// Moves through orders and filters happen only in state 1; in the other
// states ReadRecord is the table file's own.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/index/gs6_indx.h"
#include "engine/support/gs6_tool.h"
#include "engine/table/gs6_dbf_field.h"
#include "platform/hot.h"

class TgsExpHandler;

// Work states of a table.
constexpr uint8_t kStateNormal = 1;
constexpr uint8_t kStateIndexing = 4;
constexpr uint8_t kStateRekeying = 5;

// Names of an index file list text: commas and semicolons outside double
// quotes separate, quotes are dropped, names are trimmed, empty ones skipped.
std::vector<std::string> SplitIndexList(std::string_view list);

class GSO_dBHandler : public GSO_dBaseFld, public GSobjIndexOwner {
 public:
  static constexpr int32_t kIndexSlotCount = 63;

  // Prepares the handler: cache allowed but off, no index files, no tag, no
  // filter. `OpenTable` opens the table.
  GSO_dBHandler(const std::string& fileName, const std::string& password, bool shared,
                bool readWrite);
  ~GSO_dBHandler() override;

  // --- replaced slots of the table file, in slot order ---
  // Opens the table, and its production MDX file when the header says it
  // has one and the file is there.
  void OpenTable() override;
  void RenameTable(const std::string& newName) override;
  void AppendRecord() override;
  bool NotifyStatus(int32_t code, int32_t value) override;
  void ReadRecord(int32_t target) override;
  void WriteRecord(TRecNo recNo) override;
  void SetLockProtocol(TgsLokProtocol protocol) override;
  bool HasOpenIndex() const override;

  // --- own slots, in slot order ---
  // Key search in the current order; false when no tag is current.
  virtual bool KeySearch(std::string_view key);
  // The record number of `key` in the named tag, -1 when there is no such
  // tag or key. The current record does not move.
  virtual TRecNo KeyLookup(std::string_view tagName, std::string_view key);
  // Moves `count` records in the current order (0 rereads).
  virtual void Skip(int32_t count);
  // Whether the current record may be shown; true here.
  virtual bool RecordAcceptable() { return true; }
  // Locks every open index file; raises "Could not lock indexes for Table
  // %s" (after unlocking those already locked) when one cannot be locked.
  virtual bool LockIndexes();
  // Re-keys the table, its memo file and its index files with `newKey` (an
  // empty key leaves the table plain). Needs full access.
  virtual void SetPassword(const std::string& newKey);
  // Progress of long operations: (-1, phase, total) when a phase starts,
  // (phase, count, 0) per step, (0, 0, 0) at the end.
  virtual void StatusReport(int32_t stat1, int32_t stat2, int32_t stat3);

  void UnlockIndexes();

  // --- read-ahead window ---
  // Switches the table file's window on (when the cache is allowed at all)
  // or off.
  void SetCacheSwitch(bool on);
  bool CacheAllowed() const { return cacheAllowed_; }
  void SetCacheAllowed(bool allowed);

  // --- index files ---
  // The file in slot 1..63, none for an empty slot or another number.
  GSobjIndexFile* IndexFile(int32_t slot) const;
  int32_t OpenIndexCount() const;
  // Frees every open index file; record-number order. The table's
  // production MDX file stays open (it is opened again).
  void CloseIndexFiles();
  // Opens an index file (a name without folder takes the table's folder,
  // one without extension gets ".ndx"; the extension picks the format) in
  // the first empty slot. -1 when the name is empty, a file of that name
  // is open already (0 for the production MDX file) or no slot is free; raises "Index file %s is corrupted"
  // or "File %s could not be found" when it cannot be opened.
  int32_t OpenIndexFile(std::string_view fileName);
  // Closes all index files and opens those of a list (names separated by
  // commas or semicolons outside double quotes), then selects `tagName`.
  // 0 when all opened, -1 when one was open already (the rest are not
  // opened), 1 for an empty list.
  int32_t OpenIndexList(std::string_view list, std::string_view tagName);
  // Makes the named tag the order (empty: record-number order); with
  // `keepPosition` the current record stays when it is in the new order,
  // else the table moves to the top. Returns the slot of the tag's file, 0
  // for record order; raises "Cannot find index tag %s".
  int32_t SelectTag(std::string_view tagName, bool keepPosition);
  // Key range on the current tag (an empty bound is none); moves to the
  // top when it changed. False without a current tag. On a date tag a bound
  // is a date text (yyyymmdd or the short date form) or a day number.
  bool SetKeyRange(std::string_view low, std::string_view high, bool lowInclusive,
                   bool highContinue, bool partialHigh);
  // Finds the first record of the current view (order, range, FOR
  // condition, filter, deleted switch, record hook) whose listed fields
  // (names separated by ";") hold `values` (texts in field order), from the
  // top or after `startRecord`. A tag whose keys are exactly those character
  // fields (upper-cased for a case-insensitive search) is searched instead
  // of scanning where it gives the same record, so the result does not
  // depend on which index files are open.
  bool FindByFields(std::string_view fieldList, const std::vector<std::string>& values,
                    bool caseInsensitive, bool partial, TRecNo startRecord);
  // Builds a tag into an index file, creating it when needed. Uniqueness 0
  // asks for unique keys; sort order 0 ascending, 7/8 ascending/descending
  // under the GENERAL collation, anything else descending. Closes all
  // index files first; the built file is not left open.
  int32_t IndexOn(std::string_view fileName, std::string_view tagName,
                  std::string_view keyExpression, std::string_view forExpression,
                  int32_t uniqueness, int32_t sortOrder);
  // An index file object of the format the extension of `path` names
  // (compared ignoring case), opened or with `create` created for this
  // table; none for an unknown extension. Check `Valid()` and `Corrupt()`.
  std::unique_ptr<GSobjIndexFile> MakeIndexFile(const std::string& path, bool create,
                                                bool readWrite, bool shared);
  // Takes the file out of slot 1..63 (none for an empty slot); the current
  // tag goes with it when it is one of the file's.
  std::unique_ptr<GSobjIndexFile> ReleaseIndexFile(int32_t slot);
  // The n-th tag over all open files in slot order (from 1), none else.
  GSobjIndexTag* TagByNumber(int32_t n) const;
  int32_t TagCount() const;
  // Slot of the open file called `name` (folder ignored, case-insensitive,
  // the last match), 0 for none.
  int32_t IndexFileByName(std::string_view name) const;
  GSobjIndexTag* CurrentTag() const { return currentTag_; }
  const std::string& CurrentTagName() const { return currentTagName_; }

  // --- switches and results ---
  bool UseDeleted() const { return useDeleted_; }
  void SetUseDeleted(bool on) { useDeleted_ = on; }
  bool ExactMatch() const { return exactMatch_; }
  void SetExactMatch(bool on) { exactMatch_ = on; }
  bool Nearest() const { return nearest_; }
  void SetNearest(bool on) { nearest_ = on; }
  bool Found() const { return found_; }
  bool Positioned() const { return positioned_; }
  bool NotInOrder() const { return notInOrder_; }
  // --- record filter ---
  // Compiles `text` as the filter (a Boolean expression over the fields)
  // and builds the set of passing records; an empty text drops it. The
  // filter's requested switch is kept. A text that fails (no expression, no
  // condition, an evaluation error) is refused with the previous filter
  // still in force.
  void SetFilterExpression(std::string_view text, bool caseInsensitive, bool partial);
  // Requests the filter on or off; it is active when requested and an
  // expression is compiled.
  void SetFilterActive(bool on);
  // Evaluates the filter again for every record of the current order.
  void RebuildFilterSet();
  bool FilterRequested() const { return filterRequested_; }
  bool FilterActive() const { return filterActive_; }

  // --- GSobjIndexOwner ---
  GSO_dBaseDBF* IndexTable() override { return this; }
  TgsExpUserLink* IndexExpressionLink() override;
  bool IndexExactMatch() const override { return exactMatch_; }
  std::string IndexDecipherKey() override;
  std::string IndexEncipherKey() override;

 protected:
  // The direction a rejected record is left in for a move by `target`.
  static int32_t RejectDirection(int32_t target);

 private:
  // One table-file read for a move: a record number, or a code carried out
  // in record order. A number beyond the table gives a blank record at
  // end-of-file.
  void ReadFromTable(int32_t target);
  // The next record of the filter set for a move by `code`; 0 (with the
  // end flag set) when there is none.
  TRecNo NextInFilterSet(int32_t code);
  // The filter's verdict on the current record.
  bool EvaluateFilter();
  // A full index file name: the table's folder and `extension` added
  // where missing.
  std::string ResolveIndexName(std::string_view name, std::string_view extension) const;
  // Opens the production MDX file when the header's flag says there is one
  // and it is not open yet.
  void OpenProductionIndex();
  bool IsProductionIndex(std::string_view path) const;
  // Under the Clipper protocol key searches and moves lock the index files.
  bool ClipperLocking() const;
  // Sets the filter bit of every record of the current order (or of the
  // current tag's range) from the filter expression.
  void ScanFilterSet();
  void RekeyRecords(const std::string& oldKey, const std::string& newKey);
  void RekeyDescriptors(const std::string& oldKey, const std::string& newKey);

  std::array<std::unique_ptr<GSobjIndexFile>, kIndexSlotCount> indexFiles_;
  GSobjIndexTag* currentTag_ = nullptr;
  std::string currentTagName_;
  int32_t indexLockDepth_ = 0;

  bool cacheAllowed_ = true;

  bool useDeleted_ = false;
  bool exactMatch_ = false;
  bool nearest_ = false;
  bool found_ = false;
  bool positioned_ = false;
  bool notInOrder_ = false;

  std::unique_ptr<TgsHugeSet> filterSet_;
  std::unique_ptr<TgsExpHandler> filterExpression_;
  std::string filterText_;
  bool filterCaseInsensitive_ = false;
  bool filterPartial_ = true;
  bool filterRequested_ = false;
  bool filterActive_ = false;

  // Re-keying: the keys the index files decipher and encipher with.
  bool rekeying_ = false;
  std::string oldKey_;
  std::string newKey_;
};

// What a table object asks of the dataset that owns it.
class DBFObjectOwner {
 public:
  virtual ~DBFObjectOwner() = default;
  // Whether the table's current record passes the dataset's record filter.
  virtual bool AcceptTableRecord() = 0;
  // A status report of the table (see GSO_dBHandler::StatusReport).
  virtual void TableStatus(int32_t stat1, int32_t stat2, int32_t stat3) = 0;
};

// The dataset's table object: the handler with a link back to its dataset,
// which hears the status reports and judges records through its filter.
class DBFObject : public GSO_dBHandler {
 public:
  DBFObject(DBFObjectOwner* owner, const std::string& fileName, const std::string& password,
            bool shared, bool readWrite)
      : GSO_dBHandler(fileName, password, shared, readWrite), owner_(owner) {}

  DBFObjectOwner* Owner() const { return owner_; }

  DERIDAR_ROW_PATH bool RecordAcceptable() override {
    return !owner_ || owner_->AcceptTableRecord();
  }
  void StatusReport(int32_t stat1, int32_t stat2, int32_t stat3) override {
    if (owner_) owner_->TableStatus(stat1, stat2, stat3);
  }

 private:
  DBFObjectOwner* owner_;
};
