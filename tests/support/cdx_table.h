// A dBase table opened for index tests: the table file, an expression
// context whose field variables read the table's current record, and the
// owner interface index files need. Records are edited in the table's record
// buffer and written with the index files kept in step, as the table handler
// does.
#pragma once

#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/expr/gs6_sql.h"
#include "engine/index/gs6_indx.h"
#include "engine/table/gs6_dbf.h"

class IndexTestTable : public GSobjIndexOwner {
 public:
  // Opens the table at `path` read/write.
  explicit IndexTestTable(const std::string& path, bool shared = false);
  ~IndexTestTable() override;

  GSO_dBaseDBF* IndexTable() override { return table_.get(); }
  TgsExpUserLink* IndexExpressionLink() override { return &link_; }
  bool IndexExactMatch() const override { return exact_; }
  void SetExact(bool on) { exact_ = on; }

  GSO_dBaseDBF& Table() { return *table_; }
  // Reads record n into the record buffer (and the snapshot).
  void Read(TRecNo n);
  // The text of a field in the record buffer, trailing blanks kept.
  std::string Field(std::string_view name) const;
  // Stores `text` in a field of the record buffer: left-aligned for C, D
  // and L, right-aligned for N, blank-padded.
  void SetField(std::string_view name, std::string_view text);
  // Writes the record buffer as record n, updating `indexes` first.
  void Write(TRecNo n, const std::vector<GSobjIndexFile*>& indexes);
  // Appends the record buffer, then updates `indexes`.
  void Append(const std::vector<GSobjIndexFile*>& indexes);
  // Blanks the record buffer.
  void Blank();

 private:
  struct FieldSlot {
    std::string name;
    char type;
    int offset;
    int length;
  };
  const FieldSlot& Slot(std::string_view name) const;

  std::unique_ptr<GSO_dBaseDBF> table_;
  TgsExpUserLink link_;
  std::vector<FieldSlot> fields_;
  bool exact_ = false;
};
