// Where the table file hands work on to its memo object: creating it on
// first need, flushing, renaming, the lock protocol and freeing it.
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_memo.h"
#include "platform/file.h"

GSobjMemo* GSO_dBaseDBF::OpenMemoFile() {
  if (!memo_ && hasMemo_) {
    memo_.reset(GSobjMemo::Make(this, Version(), IsShared(), IsReadWrite(), passwordDecipher_,
                                FileName())
                    .release());
    if (memo_) memo_->SetLockProtocol(lockProtocol_);
  }
  return memo_.get();
}

void GSO_dBaseDBF::MemoDeleter::operator()(GSobjMemo* memo) const noexcept { delete memo; }

GSobjMemo* GSO_dBaseDBF::OpenExistingMemoFile() {
  if (memo_ || !hasMemo_) return memo_.get();
  if (!platform::FileExists(GSobjMemo::MemoFileNameFor(FileName(), Version()))) return nullptr;
  return OpenMemoFile();
}

std::string GSO_dBaseDBF::MemoFileName() const {
  if (memo_) return memo_->FileName();
  return GSobjMemo::MemoFileNameFor(FileName(), Version());
}

void GSO_dBaseDBF::FlushMemo() {
  // A memo object not made yet has written nothing: the memo file is not
  // opened (and perhaps found missing) only to be flushed.
  if (memo_) memo_->Flush();
}

void GSO_dBaseDBF::RenameMemo(const std::string& newTableName) {
  if (memo_) memo_->RenameMemo(newTableName);
}

void GSO_dBaseDBF::PassLockProtocolToMemo() {
  if (memo_) memo_->SetLockProtocol(lockProtocol_);
}

void GSO_dBaseDBF::DropMemo() { memo_.reset(); }
