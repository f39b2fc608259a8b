// What the index layer does to its table, shared by the formats: the table
// scan of a tag build (every record, deleted ones included, read in chunks
// of whole records, its FOR condition decided and its key handed to the
// format's sink, with progress reported as build phase 1), and the table
// header's flag that says a production index file belongs to the table.
#include <algorithm>
#include <cstring>
#include <vector>

#include "engine/expr/gs6_sql.h"
#include "engine/index/gs6_indx.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_dbf_fieldvars.h"
#include "engine/table/gs6_dbsy.h"
#include "engine/table/gs6_disk.h"
#include "platform/ansi.h"

namespace {

// Where the stored text of a table field's variable lies in `record`, the
// table's current record: its offset, or -1 when the variable is not a
// field of that table (its text is then read through the variable).
int32_t PlaceInRecord(TgsUserDefFieldVar* variable, const char* record, int32_t recordLength) {
  if (!dynamic_cast<TgslDBFFieldVars*>(variable)) return -1;
  const std::string_view text = variable->StoredText();
  if (text.data() < record || text.data() + text.size() > record + recordLength) return -1;
  return static_cast<int32_t>(text.data() - record);
}

}  // namespace

GSobjIndexTag::BuildKeySink::~BuildKeySink() = default;

void GSobjIndexTag::BuildStatus(int32_t stat1, int32_t stat2, int32_t stat3) {
  // Progress goes to the table handler's status report, when there is one.
  if (auto* handler = dynamic_cast<GSO_dBHandler*>(Table())) handler->StatusReport(stat1, stat2, stat3);
}

void GSobjIndexTag::ScanTableKeys(BuildKeySink& sink, bool fieldText) {
  GSO_dBaseDBF* table = Table();
  if (!table || !KeyEvaluator()) return;
  const TRecNo count = table->RecordCount();
  const int32_t recordLength = table->RecordLength();
  BuildStatus(-1, 1, count);
  GSobjIndexKeyData key;
  // A key that is one character field is taken from the record's bytes as
  // they stand: without trailing blanks, as NormalizeKey would leave it.
  TgsUserDefFieldVar* keyField = fieldText && keyType_ == 'C' ? KeyEvaluator()->StoredTextVariable() : nullptr;
  // A FOR condition comparing a stored-number field with a number is
  // decided on the field's bytes in the record.
  TgsExpHandler* forEvaluator = hasFor_ ? ForEvaluator() : nullptr;
  TgsUserDefFieldVar* forField = forEvaluator ? forEvaluator->StoredComparisonVariable() : nullptr;
  int32_t keyAt = -1, forAt = -1;
  bool placed = false;
  const size_t keyLength = keyField ? static_cast<size_t>(keyField->Length()) : 0;
  const size_t forLength = forField ? static_cast<size_t>(forField->Length()) : 0;
  std::vector<int32_t> passingRecords;
  const bool updatingWas = updating_;
  updating_ = true;
  try {
    VisitStoredChunks(1, count, [&](TRecNo first, char* records, int32_t n) {
      if (!placed) {
        // The chunk's buffer stays the same from run to run.
        table->SetCurrentRecord(records);
        if (keyField) keyAt = PlaceInRecord(keyField, records, recordLength);
        if (forField) forAt = PlaceInRecord(forField, records, recordLength);
        placed = true;
      }
      if (passingRecords.size() < static_cast<size_t>(n)) passingRecords.resize(static_cast<size_t>(n));
      // First the records of the chunk that pass the FOR condition, then
      // their keys: the list is kept without a branch per record.
      int32_t passing = 0;
      for (int32_t i = 0; i < n; ++i) {
        char* record = records + static_cast<size_t>(i) * recordLength;
        table->SetCurrentRecord(record);
        BuildStatus(1, first + i, 0);
        int pass = 1;
        if (hasFor_) {
          pass = forAt >= 0 ? forEvaluator->DecideStoredComparison(std::string_view(record + forAt, forLength)) : -1;
          if (pass < 0) pass = forEvaluator && forEvaluator->EvaluateCondition();
        }
        passingRecords[passing] = i;
        passing += pass;
      }
      for (int32_t p = 0; p < passing; ++p) {
        const int32_t i = passingRecords[p];
        char* record = records + static_cast<size_t>(i) * recordLength;
        table->SetCurrentRecord(record);
        if (keyField) {
          const std::string_view text =
              keyAt >= 0 ? std::string_view(record + keyAt, keyLength) : keyField->StoredText();
          sink.AddFieldText(TrimTrailingBlanks(text), first + i);
          continue;
        }
        if (!EvaluateKey(key)) continue;
        NormalizeKey(key, true);
        sink.AddKey(key, first + i);
      }
      return true;
    });
  } catch (...) {
    updating_ = updatingWas;
    throw;
  }
  updating_ = updatingWas;
  BuildStatus(0, 0, 0);
}

void GSobjIndexFile::MarkProductionIndex() {
  if (!owner_ || !diskFile_) return;
  GSO_dBaseDBF* table = owner_->IndexTable();
  if (!table || !table->IsReadWrite() || (table->FlagBits() & 0x01) != 0) return;
  // The production index is the one named like the table.
  const std::string tablePath = table->FileName();
  const std::string indexPath = diskFile_->FileName();
  const size_t tableDot = tablePath.find_last_of('.');
  const size_t indexDot = indexPath.find_last_of('.');
  if (tableDot == std::string::npos || indexDot == std::string::npos) return;
  // Names in any letter case: the two may have been copied from another
  // system.
  if (platform::UpperCase(indexPath.substr(0, indexDot)) != platform::UpperCase(tablePath.substr(0, tableDot))) return;
  // Other programs find the index by the flag on disk.
  table->MarkStructuralIndex();
}
