// The dBase table file: open and validation, record reads and writes,
// appends, header refresh and write, protocol locks, the read-ahead window
// and the table cipher.
#include "engine/table/gs6_dbf.h"

#include <algorithm>
#include <cstring>
#include <exception>
#include <limits>

#include "engine/support/gs6_glbl.h"
#include "platform/hot.h"
#include "platform/system.h"

namespace {

uint16_t Le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }

uint32_t Le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}

void PutLe16(uint8_t* p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

bool AcceptedVersion(uint8_t version) {
  switch (version) {
    case 0x03:
    case 0x04:
    case 0x30:
    case 0x83:
    case 0x8B:
    case 0xF5:
      return true;
    default:
      return false;
  }
}

// The file part of a path (after the last '/').
std::string BaseName(const std::string& path) {
  size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string WithTableExtension(const std::string& name) {
  return BaseName(name).find('.') == std::string::npos ? name + ".DBF" : name;
}

// The table name: file name without folder and extension, upper-cased.
// Only ASCII letters change: file names on this platform are UTF-8, which a
// single-byte case rule would damage.
std::string TableNameOf(const std::string& path) {
  std::string name = BaseName(path);
  size_t dot = name.find_last_of('.');
  if (dot != std::string::npos) name.erase(dot);
  for (char& c : name)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return name;
}

}  // namespace

// ---------------------------------------------------------------------------
// Table cipher

void TableCipher(const std::string& password, const void* in, void* out, size_t length) {
  const auto* src = static_cast<const uint8_t*>(in);
  auto* dst = static_cast<uint8_t*>(out);
  if (password.empty()) {
    if (src != dst) std::memmove(dst, src, length);
    return;
  }
  uint32_t state = 2166136261u;  // FNV-1a of the password
  for (unsigned char c : password) {
    state ^= c;
    state *= 16777619u;
  }
  if (state == 0) state = 0x9E3779B9u;  // xorshift must not start at zero
  for (size_t i = 0; i < length; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    uint32_t mixed = state ^ static_cast<uint32_t>(i * 0x9E3779B1u);
    dst[i] = static_cast<uint8_t>(src[i] ^ static_cast<uint8_t>(mixed ^ (mixed >> 16)));
  }
}

// ---------------------------------------------------------------------------
// Construction, open and close

GSO_dBaseDBF::GSO_dBaseDBF(const std::string& fileName, const std::string& password, bool shared,
                           bool readWrite)
    : GSO_DiskFile(WithTableExtension(fileName), shared, readWrite),
      passwordDecipher_(password),
      passwordEncipher_(password) {
  tableName_ = TableNameOf(FileName());
}

GSO_dBaseDBF::~GSO_dBaseDBF() {
  try {
    // Records appended under a lock still held go out before the header.
    WriteHeldAppends();
  } catch (const EDeridarBase&) {
    // Taken back by the failed write; the header below counts what is there.
  }
  try {
    // Locks go with the handle; a pending header must not wait for them.
    tableLocked_ = false;
    if (!IsClosed() && headerDirty_) {
      RefreshHeader();
      WriteTableHeader();
    }
  } catch (const EDeridarBase&) {
    // Nothing sensible to do about a failed header write while closing.
  }
  DropMemo();
  GSO_DiskFile::Close();
}

void GSO_dBaseDBF::OpenTable() {
  if (!Exists() && !platform::FileExists(FileName())) RaiseError(Msg::FileNotFound, FileName());
  SetLockProtocol(TgsLokProtocol::Default);
  Open();
  ReadHeaderAndDescriptors();

  recordBuffer_.assign(static_cast<size_t>(recordLength_) + 1, ' ');
  recordBuffer_[recordLength_] = static_cast<char>(kEofMark);
  snapshotBuffer_.assign(static_cast<size_t>(recordLength_) + 1, ' ');
  cipherBuffer_.assign(static_cast<size_t>(recordLength_) + 1, ' ');
  currentRecord_ = recordBuffer_.data();
  changedFieldMap_.assign(static_cast<size_t>(fieldCount_) + 1, 0);
  changedFieldMapMarked_ = false;
  headerDirty_ = false;
  tableLocked_ = false;
  headerReadUnderLock_ = false;
  externalChange_ = false;
  recordChanged_ = false;
  tableState_ = 1;
  recNumber_ = 0;
  eof_ = false;
  bof_ = true;
  SetCache(cacheOn_);
  // Only a handle that cannot write reads records through the view: it
  // holds no appended records back that the view would miss.
  viewRecords_ = !IsReadWrite() && MapFile(kViewResidentBytes);

  RefreshHeader();
  NotifyStatus(2, 0);
}

namespace {

// Level-7 tables (version 0x04) describe their fields in 48-byte entries
// after a 68-byte header: name 32 bytes, type at 32, length at 33. They are
// recognised by a terminator after a whole number of such entries whose
// lengths make up the record.
bool IsLevel7Layout(const std::vector<uint8_t>& header, int32_t recordLength) {
  constexpr size_t kLevel7Start = 68;
  constexpr size_t kLevel7Desc = 48;
  int64_t length = 1;
  for (size_t at = kLevel7Start; at < header.size(); at += kLevel7Desc) {
    if (header[at] == kFieldTerminator) return at > kLevel7Start && length == recordLength;
    if (at + kLevel7Desc > header.size()) break;
    length += header[at + 33];
  }
  return false;
}

}  // namespace

void GSO_dBaseDBF::ReadHeaderAndDescriptors() {
  if (ReadAt(0, header_, kTableHeaderSize) < kTableHeaderSize) RaiseError(Msg::ReadError, FileName());
  uint8_t version = header_[0];
  if (!AcceptedVersion(version)) RaiseError(Msg::TableHeaderInvalid, FileName());

  headerLength_ = Le16(header_ + 8);
  recordLength_ = Le16(header_ + 10);
  flagBits_ = header_[28] & 0x07;
  updateStamp_ = Le32(header_ + 16);
  encrypted_ = header_[15] != 0;

  // Lengths that cannot describe a table: no room for even one descriptor,
  // no record bytes, or a header longer than the file.
  int32_t fixedPart = kTableHeaderSize + 1 + (version == 0x30 ? kVfpExtraArea : 0);
  int32_t areaSize = headerLength_ - fixedPart;
  if (areaSize < kFieldDescSize || recordLength_ < 2 || headerLength_ > SizeOfFile())
    RaiseError(Msg::TableHeaderInvalid, FileName());

  if (encrypted_ && passwordDecipher_.empty())
    Raise<EDeridarEncryption>(Msg::NoPassword, FileName());
  if (!encrypted_ && !passwordDecipher_.empty())
    Raise<EDeridarEncryption>(Msg::PasswordForUnencrypted, FileName());

  ComputeRecordCount();

  // The whole header up to the first record: level-7 tables are recognised
  // in it, and a plain table's descriptors end at the terminator, so that
  // what follows (the 263-byte area that other programs write for 0xF5
  // tables too) is not taken for fields.
  std::vector<uint8_t> whole(static_cast<size_t>(headerLength_));
  if (ReadAt(0, whole.data(), headerLength_) < headerLength_) RaiseError(Msg::ReadError, FileName());
  if (version == 0x04 && IsLevel7Layout(whole, recordLength_))
    RaiseError(Msg::TableHeaderInvalid, FileName());
  uint8_t* area = whole.data() + kTableHeaderSize;
  if (encrypted_) TableCipher(passwordDecipher_, area, area, static_cast<size_t>(areaSize));
  fieldCount_ = areaSize / kFieldDescSize;
  if (!encrypted_) {
    for (int32_t n = 0; n < fieldCount_; ++n) {
      if (area[int64_t{n} * kFieldDescSize] == kFieldTerminator) {
        if (n == 0) RaiseError(Msg::TableHeaderInvalid, FileName());
        fieldCount_ = n;
        break;
      }
    }
  }
  descriptors_.assign(area, area + int64_t{fieldCount_} * kFieldDescSize);

  // Offsets and numbers of the fields; every field must lie inside the
  // record, so that no field access can leave the record buffer.
  int64_t offset = 1;
  bool memoField = false;
  for (int32_t n = 1; n <= fieldCount_; ++n) {
    uint8_t* d = descriptors_.data() + int64_t{n - 1} * kFieldDescSize;
    memoField = memoField || d[11] == 'M' || d[11] == 'G';
    PutLe32(d + 12, static_cast<uint32_t>(offset));
    PutLe16(d + 26, static_cast<uint32_t>(n));
    offset += DescriptorLength(n);
  }
  if (encrypted_ && offset != recordLength_)
    Raise<EDeridarEncryption>(Msg::InvalidPassword, FileName());
  if (offset > recordLength_) RaiseError(Msg::TableHeaderInvalid, FileName());

  // A version 0x30 table whose memo flag is clear still keeps the texts of
  // its memo fields in its memo file (other programs write such tables).
  hasMemo_ = version == 0x30 ? (flagBits_ & 0x02) != 0 || memoField
                             : (version == 0x83 || version == 0x8B || version == 0xF5);
}

void GSO_dBaseDBF::ComputeRecordCount() {
  int64_t count = (SizeOfFile() - headerLength_) / recordLength_;
  recordCount_ = static_cast<TRecNo>(
      std::clamp<int64_t>(count, 0, std::numeric_limits<TRecNo>::max() - 1));
}

DERIDAR_ROW_PATH int32_t GSO_dBaseDBF::DescriptorLength(int32_t n) const {
  const uint8_t* d = FieldDescriptor(n);
  if (!d) return 0;
  return d[11] == 'C' ? Le16(d + 16) : d[16];
}

// Bytes of whole records CountFieldTexts reads at a time.
constexpr int32_t kCountBlockBytes = 1 << 18;

std::map<std::string, TRecNo, std::less<>> GSO_dBaseDBF::CountFieldTexts(int32_t n) {
  std::map<std::string, TRecNo, std::less<>> raw;
  const uint8_t* d = FieldDescriptor(n);
  if (!d || recordLength_ <= 0) return raw;
  const int64_t offset = Le32(d + 12);
  const int64_t width = DescriptorLength(n);
  if (offset < 1 || width < 1 || offset + width > recordLength_) return raw;
  const size_t end = static_cast<size_t>(offset + width);
  const int32_t perBlock = std::max<int32_t>(1, kCountBlockBytes / recordLength_);
  std::vector<char> block(static_cast<size_t>(perBlock) * static_cast<size_t>(recordLength_));
  // Counted by the stored bytes as they are; runs of equal values (records
  // are often grouped) skip the lookup.
  std::string_view last;
  TRecNo* lastCount = nullptr;
  for (TRecNo first = 1; first <= recordCount_; first += perBlock) {
    const int32_t records = std::min<int32_t>(perBlock, recordCount_ - first + 1);
    const int32_t bytes = records * recordLength_;
    if (GSO_DiskFile::ReadAt(RecordOffset(first), block.data(), bytes) < bytes) RaiseError(Msg::ReadError, FileName());
    for (int32_t i = 0; i < records; ++i) {
      char* record = block.data() + static_cast<size_t>(i) * static_cast<size_t>(recordLength_);
      if (encrypted_) TableCipher(passwordDecipher_, record, record, end);
      const std::string_view value(record + offset, static_cast<size_t>(width));
      if (lastCount == nullptr || value != last) {
        auto at = raw.find(value);
        if (at == raw.end()) at = raw.emplace(std::string(value), 0).first;
        last = at->first;
        lastCount = &at->second;
      }
      ++*lastCount;
    }
  }
  // The values as texts: blanks around them dropped (numbers are stored
  // right-aligned), equal texts merged.
  std::map<std::string, TRecNo, std::less<>> counts;
  for (const auto& [value, records] : raw) {
    const size_t from = value.find_first_not_of(' ');
    const std::string text = from == std::string::npos ? std::string() : value.substr(from, value.find_last_not_of(' ') - from + 1);
    counts[text] += records;
  }
  return counts;
}

// ---------------------------------------------------------------------------
// Header refresh and write

void GSO_dBaseDBF::RefreshHeader() {
  // Exclusive, or read once since this process locked the table: nobody
  // else can have changed the header or appended.
  if (!IsShared() || (tableLocked_ && headerReadUnderLock_)) {
    externalChange_ = false;
    return;
  }
  uint8_t image[kTableHeaderSize];
  if (ReadAt(0, image, kTableHeaderSize) < kTableHeaderSize) RaiseError(Msg::ReadError, FileName());
  headerReadUnderLock_ = tableLocked_;
  TRecNo oldCount = recordCount_;
  ComputeRecordCount();
  uint32_t stamp = Le32(image + 16);
  externalChange_ = recordCount_ != oldCount || stamp != updateStamp_;
  if (externalChange_) DropCacheWindow();  // the window may hold another writer's old bytes
  updateStamp_ = stamp;
  std::memcpy(header_, image, kTableHeaderSize);
  // The lengths this object works with stay those it opened with.
  PutLe16(header_ + 8, static_cast<uint32_t>(headerLength_));
  PutLe16(header_ + 10, static_cast<uint32_t>(recordLength_));
}

uint32_t GSO_dBaseDBF::MakeUpdateStamp() {
  platform::LocalDateTime now = platform::Now();
  uint32_t stamp = static_cast<uint32_t>((now.hour * 64 + now.minute) * 64 + now.second);
  return stamp * 1024 + static_cast<uint32_t>(now.millisecond);
}

void GSO_dBaseDBF::WriteTableHeader() {
  if (!IsReadWrite() || !headerDirty_ || tableLocked_) return;
  StoreHeader();
}

void GSO_dBaseDBF::StoreHeader() {
  uint32_t stamp = MakeUpdateStamp();
  platform::LocalDateTime today = platform::Now();
  // dBase tables count the year from 1900 (2026 is 126); FoxPro tables
  // (0x30, 0xF5) keep the year of the century (26), as FoxPro programs read
  // it. Readers that know both forms accept either.
  const bool fox = Version() == 0x30 || Version() == 0xF5;
  header_[1] = static_cast<uint8_t>(fox ? today.year % 100 : std::clamp(today.year - 1900, 0, 255));
  header_[2] = static_cast<uint8_t>(today.month);
  header_[3] = static_cast<uint8_t>(today.day);
  PutLe32(header_ + 4, static_cast<uint32_t>(recordCount_));
  header_[28] = flagBits_;
  PutLe32(header_ + 16, stamp);
  updateStamp_ = stamp;
  header_[15] = encrypted_ ? 1 : 0;
  PutLe32(header_ + 20, userId_);
  GSO_DiskFile::WriteAt(0, header_, kTableHeaderSize);
  headerDirty_ = false;
}

void GSO_dBaseDBF::LastUpdate(int32_t& year, int32_t& month, int32_t& day) const {
  // Written as year - 1900 by most programs, as year mod 100 by some: no
  // table was written before 1980, so small values are this century's.
  year = header_[1] < 80 ? 2000 + header_[1] : 1900 + header_[1];
  month = header_[2];
  day = header_[3];
}

void GSO_dBaseDBF::MarkStructuralIndex() {
  if (!IsReadWrite() || (flagBits_ & 0x01) != 0) return;
  flagBits_ |= 0x01;
  headerDirty_ = true;
  RefreshHeader();
  WriteTableHeader();  // deferred to the end of a table lock, like any header write
}

// ---------------------------------------------------------------------------
// Records

DERIDAR_ROW_PATH bool GSO_dBaseDBF::NotifyStatus(int32_t code, int32_t /*value*/) {
  if (code == 6 || code == 7) {
    recordChanged_ = false;
    if (tableState_ != 5) tableState_ = 1;
  }
  return true;
}

DERIDAR_ROW_PATH void GSO_dBaseDBF::ReadRecordImage(TRecNo recNo) {
  const int64_t offset = RecordOffset(recNo);
  // Direct cache: the current record is pointed at the window's bytes
  // unless a caller lent a buffer of its own to be filled.
  if (directCache_ && cacheOn_ && !encrypted_ && !cache_.empty() &&
      (currentRecord_ == recordBuffer_.data() || InWindow(currentRecord_)) &&
      recordLength_ <= CacheWindowSize() && offset >= headerLength_) {
    if (FillWindowFor(offset, recordLength_) < recordLength_) RaiseError(Msg::ReadError, FileName());
    currentRecord_ = cache_.data() + (offset - cacheFirst_);
    return;
  }
  // The view only where the read would reach the file: a read-ahead window
  // in use serves the record as before.
  if ((cacheOn_ && !cache_.empty()) || !ReadRecordFromView(offset, currentRecord_)) {
    if (ReadAt(offset, currentRecord_, recordLength_) < recordLength_)
      RaiseError(Msg::ReadError, FileName());
    GrowViewPast(offset);
  }
  if (encrypted_) TableCipher(passwordDecipher_, currentRecord_, currentRecord_, recordLength_);
}

DERIDAR_ROW_PATH bool GSO_dBaseDBF::ReadRecordFromView(int64_t offset, char* image) {
  if (!viewRecords_ || !ReadMapped(offset, image, recordLength_)) return false;
  // In the last page of a file cut short, the bytes past its new end read
  // as zeros instead of faulting. No record ends in a zero byte in a table
  // of text fields; one that does (a binary last field, or a cut) is read
  // from the file, which tells the two apart.
  return image[recordLength_ - 1] != 0;
}

void GSO_dBaseDBF::GrowViewPast(int64_t offset) {
  if (viewRecords_ && offset + recordLength_ > MappedSize()) viewRecords_ = MapFile(kViewResidentBytes);
}

DERIDAR_ROW_PATH void GSO_dBaseDBF::ReadRecord(int32_t target) {
  if (recordCount_ == 0) RefreshHeader();
  if (recordCount_ == 0) {
    eof_ = bof_ = true;
    return;
  }
  if (target == 0) return;
  eof_ = bof_ = false;

  int64_t n;
  switch (target) {
    case GotoCurrent:
      if (recNumber_ <= 0) {  // nothing read yet: nothing to reread
        bof_ = true;
        return;
      }
      DropCacheWindow();  // a reread fetches the bytes anew
      n = recNumber_;
      break;
    case GotoLast:
      n = recordCount_;
      break;
    case GotoFirst:
      n = 1;
      break;
    case GotoPrevious:
      if (recNumber_ <= 1) {
        bof_ = true;
        return;
      }
      n = int64_t{recNumber_} - 1;
      break;
    case GotoNext:
      n = int64_t{recNumber_} + 1;
      break;
    default:
      if (target < 1) RaiseError(Msg::RecordNotInTable, target, FileName());
      n = target;
      break;
  }

  if (n > recordCount_) {
    RefreshHeader();  // another writer may have appended
    if (n > recordCount_) {
      if (n == int64_t{recordCount_} + 1) {
        eof_ = true;
        return;
      }
      RaiseError(Msg::RecordNotInTable, n, FileName());
    }
  }

  NotifyStatus(4, target);
  ReadRecordImage(static_cast<TRecNo>(n));
  recNumber_ = static_cast<TRecNo>(n);
  NotifyStatus(6, recNumber_);
  // The record as read, for the keys a write replaces: a handle that
  // cannot write has no use for it.
  if (IsReadWrite())
    std::memcpy(snapshotBuffer_.data(), currentRecord_, static_cast<size_t>(recordLength_));
}

void GSO_dBaseDBF::WriteRecordImage(TRecNo recNo, int32_t length) {
  if (!heldAppends_.empty() && recNo >= heldFirst_ && recNo <= recordCount_) {
    // A record still held back changes where it waits.
    TableCipher(encrypted_ ? passwordEncipher_ : std::string(), currentRecord_,
                heldAppends_.data() + int64_t{recNo - heldFirst_} * recordLength_,
                static_cast<size_t>(recordLength_));
    return;
  }
  // The cipher buffer carries the image (and, for an append, the end mark),
  // so the caller's record buffer needs no extra byte.
  TableCipher(encrypted_ ? passwordEncipher_ : std::string(), currentRecord_,
              cipherBuffer_.data(), static_cast<size_t>(recordLength_));
  cipherBuffer_[recordLength_] = static_cast<char>(kEofMark);
  WriteAt(RecordOffset(recNo), cipherBuffer_.data(), length);
}

void GSO_dBaseDBF::WriteRecord(TRecNo recNo) {
  NotifyStatus(5, recNo);
  if (recNo > recordCount_ || recNo <= 0) {
    AppendRecord();
    return;
  }
  headerDirty_ = true;
  WriteRecordImage(recNo, recordLength_);
  recNumber_ = recNo;
  RefreshHeader();
  WriteTableHeader();
  NotifyStatus(7, recNo);
  if (autoFlush_) FlushTable();
  std::memcpy(snapshotBuffer_.data(), currentRecord_, static_cast<size_t>(recordLength_));
}

void GSO_dBaseDBF::LockHeaderForAppend() {
  if (LockHeader()) return;
  // Holding some other region ourselves: waiting cannot help.
  if (IsShared() && LockCount() > 0) RaiseError(Msg::CannotLockFile, FileName());
  unsigned attempts = std::max(1, LockWaitTotal / LockRetryPause);
  for (unsigned i = 0; i < attempts; ++i) {
    platform::SleepMilliseconds(LockRetryPause);
    if (LockHeader()) return;
  }
  RaiseError(Msg::CannotLockFile, FileName());
}

void GSO_dBaseDBF::AppendRecord() {
  LockHeaderForAppend();
  TRecNo oldCount = recordCount_;
  TRecNo oldRecNo = recNumber_;
  try {
    NotifyStatus(5, 0);
    recordChanged_ = true;
    headerDirty_ = true;
    RefreshHeader();
    if (recordCount_ >= std::numeric_limits<TRecNo>::max() - 1)
      RaiseError(Msg::WriteError, FileName());
    EditableRecord()[0] = ' ';
    oldCount = recordCount_;
    ++recordCount_;
    recNumber_ = recordCount_;
    // Under the table lock nobody else appends or counts: the record waits
    // for the others in memory.
    if (tableLocked_)
      HoldAppendedRecord();
    else
      WriteRecordImage(recordCount_, recordLength_ + 1);
    WriteTableHeader();
  } catch (...) {
    // A failed write of held records has taken them back already.
    recordCount_ = std::min(recordCount_, oldCount);
    recNumber_ = std::min(oldRecNo, recordCount_);
    UnlockTable();
    throw;
  }
  UnlockTable();
  eof_ = bof_ = false;
  NotifyStatus(7, 0);
  if (autoFlush_) FlushTable();
  std::memcpy(snapshotBuffer_.data(), currentRecord_, static_cast<size_t>(recordLength_));
}

void GSO_dBaseDBF::HoldAppendedRecord() {
  if (heldAppends_.empty()) {
    heldFirst_ = recordCount_;
    // One block and the end mark: the buffer never grows while it is used.
    heldAppends_.reserve(static_cast<size_t>(kHeldAppendBytes) + static_cast<size_t>(recordLength_) + 1);
  }
  const size_t at = heldAppends_.size();
  heldAppends_.resize(at + static_cast<size_t>(recordLength_));
  TableCipher(encrypted_ ? passwordEncipher_ : std::string(), currentRecord_, heldAppends_.data() + at,
              static_cast<size_t>(recordLength_));
  if (heldAppends_.size() >= static_cast<size_t>(kHeldAppendBytes)) WriteHeldAppends();
}

void GSO_dBaseDBF::WriteHeldAppends() {
  if (heldAppends_.empty()) return;
  // The block is taken out first: the writes below read nothing back, and
  // a failure leaves nothing held.
  std::vector<char> block;
  block.swap(heldAppends_);
  const TRecNo first = heldFirst_;
  const int64_t offset = RecordOffset(first);
  block.push_back(static_cast<char>(kEofMark));
  try {
    WriteAt(offset, block.data(), static_cast<int32_t>(block.size()));
  } catch (...) {
    // The records never all reached the file: the file is cut back to the
    // records before them (a part of the block may be there) and the header
    // counts those.
    recordCount_ = first - 1;
    recNumber_ = std::min(recNumber_, recordCount_);
    DropCacheWindow();
    try {
      const char mark = static_cast<char>(kEofMark);
      if (CutBackOwnAppends(offset)) GSO_DiskFile::WriteAt(offset, &mark, 1);
      headerDirty_ = true;
      StoreHeader();
    } catch (const EDeridarBase&) {
      // The write's failure is the one to report.
    }
    block.clear();
    block.swap(heldAppends_);  // keeps the reserved buffer
    heldAppends_.clear();
    throw;
  }
  // The header counts the records now on disk, so that a process that dies
  // before the end of its lock leaves a header agreeing with its file.
  StoreHeader();
  block.clear();
  block.swap(heldAppends_);
}

void GSO_dBaseDBF::ReadStoredRecord(TRecNo recNo, char* image) {
  const int32_t length = recordLength_;
  if (!heldAppends_.empty() && recNo >= heldFirst_ && recNo <= recordCount_) {
    const char* held = heldAppends_.data() + int64_t{recNo - heldFirst_} * length;
    TableCipher(encrypted_ ? passwordDecipher_ : std::string(), held, image, static_cast<size_t>(length));
    return;
  }
  const int64_t offset = RecordOffset(recNo);
  if (!ReadRecordFromView(offset, image)) {
    if (GSO_DiskFile::ReadAt(offset, image, length) < length) RaiseError(Msg::ReadError, FileName());
    GrowViewPast(offset);
  }
  if (encrypted_) TableCipher(passwordDecipher_, image, image, static_cast<size_t>(length));
}

// ---------------------------------------------------------------------------
// Read-ahead window

void GSO_dBaseDBF::SetCache(bool on) {
  if (InWindow(currentRecord_)) DetachFromWindow();
  cacheOn_ = on;
  cacheFirst_ = cacheEnd_ = -1;
  if (on && recordLength_ > 0) {
    int32_t records = std::max<int32_t>(1, kReadAheadSize / recordLength_);
    cache_.assign(static_cast<size_t>(records) * recordLength_, 0);
  } else {
    cache_.clear();
    cache_.shrink_to_fit();
  }
}

void GSO_dBaseDBF::SetDirectCache(bool on) {
  if (!on && InWindow(currentRecord_)) DetachFromWindow();
  directCache_ = on;
}

void GSO_dBaseDBF::DropCacheWindow() {
  // The bytes stay where they are: a current record read in place keeps its
  // image until the window is filled again.
  cacheFirst_ = cacheEnd_ = -1;
}

void GSO_dBaseDBF::DetachFromWindow() {
  std::memcpy(recordBuffer_.data(), currentRecord_, static_cast<size_t>(recordLength_));
  currentRecord_ = recordBuffer_.data();
}

int32_t GSO_dBaseDBF::FillWindowFor(int64_t offset, int32_t length) {
  // Served from the window only while the bytes end before the window's end
  // (the last record of a window is read again as the first of the next).
  if (cacheFirst_ < 0 || offset < cacheFirst_ || offset + length >= cacheEnd_) {
    if (InWindow(currentRecord_)) DetachFromWindow();
    int32_t got = GSO_DiskFile::ReadAt(offset, cache_.data(), CacheWindowSize());
    cacheFirst_ = offset;
    cacheEnd_ = offset + got;
  }
  return static_cast<int32_t>(std::clamp<int64_t>(cacheEnd_ - offset, 0, length));
}

DERIDAR_ROW_PATH int32_t GSO_dBaseDBF::ReadAt(int64_t offset, void* buffer, int32_t length) {
  if (!cacheOn_ || cache_.empty() || offset < headerLength_ || length > CacheWindowSize())
    return GSO_DiskFile::ReadAt(offset, buffer, length);
  int32_t available = FillWindowFor(offset, length);
  std::memcpy(buffer, cache_.data() + (offset - cacheFirst_), static_cast<size_t>(available));
  return available;
}

void GSO_dBaseDBF::WriteAt(int64_t offset, const void* buffer, int32_t length) {
  GSO_DiskFile::WriteAt(offset, buffer, length);
  if (cacheFirst_ < 0) return;
  int64_t from = std::max(offset, cacheFirst_);
  int64_t to = std::min(offset + length, cacheEnd_);
  if (from < to)
    std::memcpy(cache_.data() + (from - cacheFirst_), static_cast<const char*>(buffer) + (from - offset),
                static_cast<size_t>(to - from));
}

// ---------------------------------------------------------------------------
// Locks

void GSO_dBaseDBF::SetLockProtocol(TgsLokProtocol protocol) {
  lockProtocol_ = protocol;
  lockConstants_ = LockConstantsOf(protocol);
  PassLockProtocolToMemo();
}

bool GSO_dBaseDBF::LockArea(const TgsLockArea& area) {
  if (tableLocked_) {
    AddLockLevel();
    return true;
  }
  return LockRegion(area.offset, area.length);
}

bool GSO_dBaseDBF::LockHeader() { return LockArea(HeaderLockArea(lockProtocol_)); }

bool GSO_dBaseDBF::LockRecord(TRecNo recNo) {
  return LockArea(RecordLockArea(lockProtocol_, recNo, headerLength_, recordLength_, HasOpenIndex()));
}

bool GSO_dBaseDBF::LockTable() {
  if (tableLocked_) {
    AddLockLevel();
    return true;
  }
  TgsLockArea area = TableLockArea(lockProtocol_);
  tableLocked_ = LockRegion(area.offset, area.length);
  if (tableLocked_) RefreshHeader();
  return tableLocked_;
}

bool GSO_dBaseDBF::LockAll() {
  if (tableLocked_) {
    AddLockLevel();
    return true;
  }
  TgsLockArea area = WholeFileLockArea();
  tableLocked_ = LockRegion(area.offset, area.length);
  if (tableLocked_) RefreshHeader();
  return tableLocked_;
}

bool GSO_dBaseDBF::UnlockTable() {
  if (!tableLocked_ || LockCount() > 1) {
    Unlock();
    return true;
  }
  // The last level of the table lock: the held records, then the header,
  // go out while the lock still keeps the others away; the lock goes even
  // when a write failed.
  std::exception_ptr failure;
  try {
    WriteHeldAppends();
  } catch (...) {
    failure = std::current_exception();
  }
  tableLocked_ = false;
  headerReadUnderLock_ = false;
  try {
    WriteTableHeader();
  } catch (...) {
    if (!failure) failure = std::current_exception();
  }
  Unlock();
  if (failure) std::rethrow_exception(failure);
  return true;
}

void GSO_dBaseDBF::SetTablePassword(const std::string& key) {
  passwordDecipher_ = key;
  passwordEncipher_ = key;
  encrypted_ = !key.empty();
}

// ---------------------------------------------------------------------------
// Flush and rename

void GSO_dBaseDBF::FlushTable() {
  GSO_DiskFile::Flush();
  FlushMemo();
  NotifyStatus(8, recNumber_);
}

void GSO_dBaseDBF::RenameTable(const std::string& newName) {
  OpenExistingMemoFile();
  GSO_DiskFile::Rename(WithTableExtension(newName));
  tableName_ = TableNameOf(FileName());
  RenameMemo(FileName());
}
