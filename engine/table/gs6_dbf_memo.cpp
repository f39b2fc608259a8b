// Where the table file hands work on to its memo object: creating it on
// first need, flushing, renaming, the lock protocol and freeing it.
//
// The memo file classes plug in here. Until they do, no memo object is ever
// created: OpenMemoFile reports none and the other hooks have nothing to do.
#include "engine/table/gs6_dbf.h"

GSobjMemo* GSO_dBaseDBF::OpenMemoFile() { return memo_.get(); }

void GSO_dBaseDBF::MemoDeleter::operator()(GSobjMemo* /*memo*/) const noexcept {
  // No memo object can exist yet (see above).
}

void GSO_dBaseDBF::FlushMemo() {
  if (hasMemo_) OpenMemoFile();
}

void GSO_dBaseDBF::RenameMemo(const std::string& /*newTableName*/) {}

void GSO_dBaseDBF::PassLockProtocolToMemo() {}

void GSO_dBaseDBF::DropMemo() { memo_.reset(); }
