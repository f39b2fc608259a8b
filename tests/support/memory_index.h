// An index format kept in memory, for testing the index framework: nodes hold
// only a few entries each, so that splits, root growth and trees of several
// levels occur with a few dozen keys. Nodes are numbered from 1; a node is a
// list of entries with its kind (3 leaf, 0..2 branch).
//
// Also here: a table owner for index tests (a table file, an expression
// context with one variable per field reading the current record buffer, and
// the exact-match switch), and checks of a tag's tree.
#pragma once

#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "engine/expr/gs6_sql.h"
#include "engine/index/gs6_indx.h"
#include "engine/table/gs6_dbf.h"

struct MemoryNode {
  uint8_t kind = GSobjIndexKey::kLeaf;
  std::vector<GSobjIndexKeyData> entries;
};

class MemoryIndexFile;

class MemoryIndexTag : public GSobjIndexTag {
 public:
  MemoryIndexTag(MemoryIndexFile* file, std::string_view name, int32_t headerAddress);
  ~MemoryIndexTag() override;

  // Character keys: text without trailing blanks (when trimming); numeric
  // keys ('N'): a float value.
  void NormalizeKey(TgsVariant& value, bool trim) override;
  // Stores and compiles the expressions, takes the key type from one
  // evaluation when a table is attached, and starts an empty tree.
  bool DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                 bool ascending, std::string_view forExpression) override;
  // Leaf entries carry their record number in RecordNumber too.
  bool InsertKey(const GSobjIndexKeyData& entry) override;
  int32_t ReadRootAddress() override;
  bool ReadPage(int32_t address, GSobjIndexKey& image) override;
  // Splits an overflowing image into nodes of at most the capacity, the
  // leading parts going to new nodes.
  bool WritePage(GSobjIndexKey& image) override;
  bool ReadHeader() override;
  bool WriteHeader() override;

  // Test switches for the flags a format would set from its header.
  void SetKeyType(char type) { keyType_ = type; }
  void SetDescendingCompare(bool on) { descendingCompare_ = on; }
  void SetReversed(bool on) { reversed_ = on; }
  void SetUniqueFlag(bool on) { unique_ = on; }

  // Inserts a text (or numeric for 'N') key for a record, as a build would.
  bool Insert(const std::string& key, TRecNo recNo);
  bool Insert(double key, TRecNo recNo);

 private:
  MemoryIndexFile* memoryFile_;
};

class MemoryIndexFile : public GSobjIndexFile {
 public:
  MemoryIndexFile(GSobjIndexOwner* owner, int capacity, bool orderByRecordNumber);
  ~MemoryIndexFile() override;

  bool AddTag(std::string_view name, std::string_view keyExpression, bool unique, bool ascending,
              std::string_view forExpression) override;
  int32_t AllocatePage() override;
  int32_t ResetAllocator() override;
  // With keepImages, tags keep node images between seeks while the nodes
  // stay as they are: the stamp moves with every write, and a test that
  // changes `nodes` itself bumps outsideChanges.
  bool NodeStamp(int64_t& stamp) override;

  // A new tag without expressions (keys are inserted by the test).
  MemoryIndexTag* NewTag(std::string_view name, bool unique = false);
  MemoryIndexTag* Tag(int32_t index) { return static_cast<MemoryIndexTag*>(TagByPosition(index)); }
  // Names the file for messages; with a folder of its own when opened.
  void SetName(std::string name) { fileName_ = std::move(name); }

  int capacity = 4;
  std::map<int32_t, MemoryNode> nodes;
  std::map<int32_t, int32_t> headers;  // header address -> root address
  int32_t nextNode = 1;
  int nodeWrites = 0;
  int headerWrites = 0;
  bool keepImages = false;
  int outsideChanges = 0;
};

// Checks the tree of a tag as stored: every node within the capacity, all
// leaves at one depth, keys in order (by record number among equal keys when
// the file orders so), each branch entry carrying its child's last key and
// record number. Returns "" when sound, else the first fault found.
std::string CheckTree(MemoryIndexFile& file, MemoryIndexTag& tag);
// The leaf entries in stored order: key text (or number as text) and link.
std::vector<std::pair<std::string, TRecNo>> LeafEntries(MemoryIndexFile& file, MemoryIndexTag& tag);
// The tag's keys (as text) and records, walked first to last through the
// tag's own moves.
std::vector<std::pair<std::string, TRecNo>> WalkForward(GSobjIndexTag& tag);
// Levels of the stored tree (1: the root is a leaf).
int TreeDepth(MemoryIndexFile& file, MemoryIndexTag& tag);

// A variable reading one field of the table's current record as text.
class RecordFieldVar : public TgsUserDefFieldVar {
 public:
  RecordFieldVar(std::string_view name, GSO_dBaseDBF* table, int offset, int length);
  int32_t VariableKind() const override { return kTableFieldKind; }
  TgsExpValueType GetValue(TgsExpValue& value) override;

 private:
  GSO_dBaseDBF* table_;
  int offset_;
};

// A table for index tests: opens the table file and publishes its character
// fields as variables.
class TestIndexOwner : public GSobjIndexOwner {
 public:
  // `table` may be null (no records; expressions then cannot be compiled).
  explicit TestIndexOwner(GSO_dBaseDBF* table);

  GSO_dBaseDBF* IndexTable() override { return table_; }
  TgsExpUserLink* IndexExpressionLink() override { return table_ ? &link_ : nullptr; }
  bool IndexExactMatch() const override { return exact; }
  std::string IndexDecipherKey() override { return decipherKey; }
  std::string IndexEncipherKey() override { return encipherKey; }

  bool exact = false;
  std::string decipherKey;
  std::string encipherKey;

 private:
  GSO_dBaseDBF* table_;
  TgsExpUserLink link_;
};
