// The index build sorter: the key area, its sorted run dumps and the merge
// on output.
#include "engine/index/gs6_sort.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <stdexcept>

#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"

namespace {

// Most bytes a record header takes: control, type, shared (2), fresh (1 + 2).
constexpr int kMaxRecordHeader = 7;

uint64_t LoadBigEndian64(const uint8_t* p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

// The first eight bytes of a stored key as a big-endian integer, zero-padded.
uint64_t Head(const uint8_t* key, int length) {
  if (length >= 8) return LoadBigEndian64(key);
  uint8_t bytes[8] = {};
  if (length > 0) std::memcpy(bytes, key, static_cast<size_t>(length));
  return LoadBigEndian64(bytes);
}

// The same for the bytes at `p` of which `length` belong to the key; the
// eight bytes can be read whatever `length` is.
uint64_t MaskedHead(const uint8_t* p, int length) {
  if (length <= 0) return 0;
  const uint64_t v = LoadBigEndian64(p);
  return length >= 8 ? v : v & (~uint64_t{0} << (8 * (8 - length)));
}

// Room past the bytes in use that buffers keep so that copies can move
// whole pieces of sixteen bytes.
constexpr size_t kCopySlack = 16;

// Copies `n` bytes sixteen at a time: both sides must have room for `n`
// rounded up to a multiple of sixteen. Short keys then take no library call.
inline void CopyPieces(uint8_t* to, const uint8_t* from, size_t n) {
  for (size_t i = 0; i < n; i += 16) std::memcpy(to + i, from + i, 16);
}

// True when some byte of the eight in `v` is 0x00 or 0x01.
bool HasLowByte(uint64_t v) {
  constexpr uint64_t kOnes = 0x0101010101010101ull, kHigh = 0x8080808080808080ull;
  return ((v - 2 * kOnes) & ~v & kHigh) != 0;
}

// Count of leading bytes two keys share, up to `limit`.
int SharedPrefix(const uint8_t* a, const uint8_t* b, int limit) {
  int i = 0;
  for (; i + 8 <= limit; i += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + i, 8);
    std::memcpy(&y, b + i, 8);
    if (x != y) {
      if constexpr (std::endian::native == std::endian::little)
        return i + std::countr_zero(x ^ y) / 8;
      else
        return i + std::countl_zero(x ^ y) / 8;
    }
  }
  while (i < limit && a[i] == b[i]) ++i;
  return i;
}

}  // namespace

// ---------------------------------------------------------------------------
// TgsPageCollection

void TgsPageCollection::Append(uint8_t type, const uint8_t* key, int length, int shared) {
  const int fresh = length - shared;
  const bool newType = pages_.empty() || type != writeType_;
  if (pages_.empty() || pages_.back().used + kMaxRecordHeader + fresh > kPageSize) {
    // Not zero-filled: readers stop at `used`.
    pages_.push_back(Page{std::unique_ptr<uint8_t[]>(new uint8_t[kPageSize + kCopySlack]), 0});
  }
  Page& page = pages_.back();
  uint8_t* p = page.bytes.get() + page.used;
  uint8_t* const start = p;
  const uint8_t typeFlag = newType ? 0x80 : 0;
  if (shared < 127) {
    *p++ = static_cast<uint8_t>(shared) | typeFlag;
    if (newType) *p++ = type;
  } else {
    *p++ = 127 | typeFlag;
    if (newType) *p++ = type;
    *p++ = static_cast<uint8_t>(shared);
    *p++ = static_cast<uint8_t>(shared >> 8);
  }
  if (fresh < 255) {
    *p++ = static_cast<uint8_t>(fresh);
  } else {
    *p++ = 255;
    *p++ = static_cast<uint8_t>(fresh);
    *p++ = static_cast<uint8_t>(fresh >> 8);
  }
  CopyPieces(p, key + shared, static_cast<size_t>(fresh));
  page.used += static_cast<int>(p - start) + fresh;
  writeType_ = type;
}

void TgsPageCollection::Finish() {
  readPage_ = 0;
  readPos_ = 0;
  length_ = 0;
  type_ = 0;
  hasCurrent_ = false;
  std::memset(key_, 0, sizeof key_);
  Advance();
}

bool TgsPageCollection::Advance() {
  while (readPage_ < pages_.size()) {
    Page& page = pages_[readPage_];
    if (readPos_ < page.used) {
      const uint8_t* p = page.bytes.get() + readPos_;
      const uint8_t control = *p++;
      if (control & 0x80) type_ = *p++;
      int shared = control & 0x7F;
      if (shared == 127) {
        shared = p[0] | (p[1] << 8);
        p += 2;
      }
      int fresh = *p++;
      if (fresh == 255) {
        fresh = p[0] | (p[1] << 8);
        p += 2;
      }
      CopyPieces(key_ + shared, p, static_cast<size_t>(fresh));
      length_ = shared + fresh;
      // Bytes past the key may hold those of a longer earlier key: the heads
      // keep only the key's own.
      head_ = MaskedHead(key_, length_);
      nextHead_ = MaskedHead(key_ + 8, length_ - 8);
      readPos_ = static_cast<int>(p - page.bytes.get()) + fresh;
      hasCurrent_ = true;
      return true;
    }
    page.bytes.reset();  // read to its end: no longer needed
    ++readPage_;
    readPos_ = 0;
  }
  hasCurrent_ = false;
  return false;
}

// ---------------------------------------------------------------------------
// TgsSort: construction and value conversion

TgsSort::TgsSort(int maxKeyLength, bool ascending, bool unique)
    : maxKeyLength_(maxKeyLength), unique_(unique), ascending_(ascending) {
  if (maxKeyLength < 1 || maxKeyLength > kMaxKeyLength)
    RaiseError(Msg::SortKeyLength, kMaxKeyLength, maxKeyLength);
  convertBuffer_.reserve(kMaxKeyLength);
}

TgsSort::~TgsSort() = default;

void TgsSort::EncodeFloat(double value, std::string& out) {
  if (value == 0.0) value = 0.0;  // -0.0 is the same number as 0.0
  uint64_t bits = std::bit_cast<uint64_t>(value);
  bits = (bits >> 63) ? ~bits : (bits | (uint64_t{1} << 63));
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(bits >> (56 - 8 * i));
  int length = 8;
  while (length > 0 && bytes[length - 1] == 0) --length;
  out.assign(reinterpret_cast<const char*>(bytes), length);
}

double TgsSort::DecodeFloat(std::string_view bytes) {
  uint64_t bits = 0;
  const size_t n = std::min<size_t>(bytes.size(), 8);
  for (size_t i = 0; i < n; ++i)
    bits |= uint64_t{static_cast<uint8_t>(bytes[i])} << (56 - 8 * i);
  bits = (bits >> 63) ? (bits & ~(uint64_t{1} << 63)) : ~bits;
  return std::bit_cast<double>(bits);
}

void TgsSort::EncodeDate(int32_t day, std::string& out) {
  const uint32_t v = static_cast<uint32_t>(day) ^ 0x80000000u;
  const char bytes[4] = {static_cast<char>(v >> 24), static_cast<char>(v >> 16),
                         static_cast<char>(v >> 8), static_cast<char>(v)};
  out.assign(bytes, 4);
}

int32_t TgsSort::DecodeDate(std::string_view bytes) {
  uint32_t v = 0;
  for (size_t i = 0; i < 4; ++i)
    v = (v << 8) | (i < bytes.size() ? static_cast<uint8_t>(bytes[i]) : 0);
  return static_cast<int32_t>(v ^ 0x80000000u);
}

void TgsSort::CheckAccepting(size_t length) const {
  if (!accepting_) RaiseError(Msg::SortKeyAfterRetrieval);
  if (length > static_cast<size_t>(maxKeyLength_))
    RaiseError(Msg::SortKeyLength, maxKeyLength_, static_cast<int64_t>(length));
}

void TgsSort::AddText(std::string_view text, TRecNo recNo) {
  CheckAccepting(text.size());
  size_t length = text.size();
  while (length > 0 && text[length - 1] == ' ') --length;
  AddEncoded(TgsSortType::Text, reinterpret_cast<const uint8_t*>(text.data()), length, recNo);
}

void TgsSort::AddFloat(double value, TRecNo recNo) {
  CheckAccepting(sizeof(double));
  EncodeFloat(value, convertBuffer_);
  AddEncoded(TgsSortType::Float, reinterpret_cast<const uint8_t*>(convertBuffer_.data()),
             convertBuffer_.size(), recNo);
}

void TgsSort::AddDate(int32_t day, TRecNo recNo) {
  CheckAccepting(sizeof(int32_t));
  EncodeDate(day, convertBuffer_);
  AddEncoded(TgsSortType::Date, reinterpret_cast<const uint8_t*>(convertBuffer_.data()),
             convertBuffer_.size(), recNo);
}

void TgsSort::AddBinary(std::string_view bytes, TRecNo recNo) {
  CheckAccepting(bytes.size());
  AddEncoded(TgsSortType::Binary, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(),
             recNo);
}

// ---------------------------------------------------------------------------
// The key area

void TgsSort::AddEncoded(TgsSortType type, const uint8_t* key, size_t length, TRecNo recNo) {
  // Escaping at most doubles the key; the terminator and record number add 5.
  const size_t most = 2 * length + 5;
  if (areaUsed_ + most + (entryCount_ + 1) * sizeof(Entry) > kAreaSize) DumpRun();
  if (!area_) {
    // Not zero-filled: only the bytes written are read. Untouched pages of
    // the two arrays cost no memory.
    area_.reset(new uint8_t[kAreaSize + kCopySlack]);
    entries_.reset(new Entry[kAreaSize / (sizeof(Entry) + 5)]);
  }
  uint8_t* const start = area_.get() + areaUsed_;
  uint8_t* out = start;
  // Eight bytes at a time while none needs escaping.
  size_t i = 0;
  for (; i + 8 <= length; i += 8) {
    uint64_t v;
    std::memcpy(&v, key + i, 8);
    if (HasLowByte(v)) break;
    std::memcpy(out, &v, 8);
    out += 8;
  }
  for (; i < length; ++i) {
    const uint8_t b = key[i];
    if (b <= 1) {
      escapes_ = true;
      *out++ = 1;
      *out++ = static_cast<uint8_t>(b + 1);
    } else {
      *out++ = b;
    }
  }
  *out++ = 0;
  const uint32_t r = static_cast<uint32_t>(recNo);
  *out++ = static_cast<uint8_t>(r >> 24);
  *out++ = static_cast<uint8_t>(r >> 16);
  *out++ = static_cast<uint8_t>(r >> 8);
  *out++ = static_cast<uint8_t>(r);
  const int stored = static_cast<int>(out - start);
  entries_[entryCount_++] = Entry{Head(start, stored), static_cast<uint32_t>(areaUsed_),
                                  static_cast<uint16_t>(stored), static_cast<uint8_t>(type)};
  areaUsed_ += static_cast<size_t>(stored);
  ++count_;
}

// Sorts the entries [first, last), whose keys share their first `depth`
// bytes, by the eight bytes from `depth` on as an integer; entries whose
// eight bytes are equal are sorted by the next eight, and so on. Stored keys
// are distinct unless the same pair was added twice, and none is a leading
// part of another, so equal eight-byte heads mean both keys go on beyond
// them (or the two keys are the same).
void TgsSort::SortEntries(Entry* first, Entry* last, int depth) {
  const uint8_t* base = area_.get();
  if (depth > 0)
    for (Entry* e = first; e != last; ++e) e->head = Head(base + e->offset + depth, e->length - depth);
  if (last - first > 256)
    RadixSortByHead(first, last);
  else
    std::sort(first, last, [](const Entry& a, const Entry& b) { return a.head < b.head; });
  for (Entry* run = first; run != last;) {
    Entry* end = run + 1;
    while (end != last && end->head == run->head) ++end;
    if (end - run > 1 && run->length > depth + 8) SortEntries(run, end, depth + 8);
    run = end;
  }
}

namespace {

// Sorts `n` entries by the low `bytes` bytes of their heads, a byte at a
// time from the lowest, each pass stable, moving them between `a` (where
// they are) and `b`; bytes that every head has alike are skipped. Returns
// where they ended: `a` or `b`.
template <class Entry>
Entry* SortLowBytes(Entry* a, Entry* b, size_t n, int bytes) {
  uint64_t any = 0, all = ~uint64_t{0};
  for (const Entry* e = a; e != a + n; ++e) {
    any |= e->head;
    all &= e->head;
  }
  const uint64_t varying = any ^ all;
  int shifts[8];
  int passes = 0;
  for (int d = 0; d < bytes; ++d)
    if ((varying >> (8 * d)) & 0xFF) shifts[passes++] = 8 * d;
  uint32_t counts[8][256];
  for (int p = 0; p < passes; ++p) std::memset(counts[p], 0, sizeof counts[p]);
  for (const Entry* e = a; e != a + n; ++e)
    for (int p = 0; p < passes; ++p) ++counts[p][(e->head >> shifts[p]) & 0xFF];
  Entry* from = a;
  Entry* to = b;
  for (int p = 0; p < passes; ++p) {
    uint32_t* count = counts[p];
    const int shift = shifts[p];
    uint32_t sum = 0;
    for (int v = 0; v < 256; ++v) {
      const uint32_t c = count[v];
      count[v] = sum;
      sum += c;
    }
    for (const Entry* e = from; e != from + n; ++e) to[count[(e->head >> shift) & 0xFF]++] = *e;
    std::swap(from, to);
  }
  return from;
}

}  // namespace

// Sorts the entries [first, last) by their heads: first into groups by the
// head's top byte, then each group by the other seven bytes, a byte at a
// time from the lowest. Groups are small enough to stay in the processor's
// caches, and bytes that all heads of a group share (a common word at the
// start of the keys) cost no pass.
void TgsSort::RadixSortByHead(Entry* first, Entry* last) {
  const size_t n = static_cast<size_t>(last - first);
  if (radixCapacity_ < n) {
    radixScratch_.reset(new Entry[n]);
    radixCapacity_ = n;
  }
  Entry* const scratch = radixScratch_.get();
  uint32_t groupEnd[256] = {};
  for (const Entry* e = first; e != last; ++e) ++groupEnd[e->head >> 56];
  if (groupEnd[first->head >> 56] == n) {
    if (SortLowBytes(first, scratch, n, 7) != first) std::copy(scratch, scratch + n, first);
    return;
  }
  uint32_t next[256];
  uint32_t sum = 0;
  for (int v = 0; v < 256; ++v) {
    next[v] = sum;
    sum += groupEnd[v];
    groupEnd[v] = sum;
  }
  for (const Entry* e = first; e != last; ++e) scratch[next[e->head >> 56]++] = *e;
  uint32_t begin = 0;
  for (int v = 0; v < 256; ++v) {
    const uint32_t end = groupEnd[v];
    const size_t m = end - begin;
    Entry* const from = scratch + begin;
    Entry* const to = first + begin;
    if (m <= 64) {
      std::copy(from, from + m, to);
      std::sort(to, to + m, [](const Entry& x, const Entry& y) { return x.head < y.head; });
    } else if (SortLowBytes(from, to, m, 7) != to) {
      std::copy(from, from + m, to);
    }
    begin = end;
  }
}

// Sorts the keys of the area, writes them as one run and empties the area.
void TgsSort::DumpRun() {
  if (entryCount_ == 0) return;
  Entry* const first = entries_.get();
  Entry* const last = first + entryCount_;
  SortEntries(first, last, 0);
  const uint8_t* base = area_.get();
  auto run = std::make_unique<TgsPageCollection>();
  const uint8_t* previous = nullptr;
  int previousLength = 0;
  auto append = [&](const Entry& e) {
    const uint8_t* key = base + e.offset;
    const int shared = previous ? SharedPrefix(key, previous, std::min<int>(e.length, previousLength)) : 0;
    run->Append(e.type, key, e.length, shared);
    previous = key;
    previousLength = e.length;
  };
  if (ascending_)
    for (const Entry* e = first; e != last; ++e) append(*e);
  else
    for (const Entry* e = last; e != first;) append(*--e);
  run->Finish();
  runs_.push_back(std::move(run));
  entryCount_ = 0;
  areaUsed_ = 0;
}

// ---------------------------------------------------------------------------
// Retrieval: merge of the runs

void TgsSort::LoadCursor(MergeCursor& cursor) const {
  const TgsPageCollection& run = *cursor.run;
  if (!run.HasCurrent()) {
    cursor.head = cursor.nextHead = ~uint64_t{0};
  } else if (ascending_) {
    cursor.head = run.Head();
    cursor.nextHead = run.NextHead();
  } else {
    cursor.head = ~run.Head();
    cursor.nextHead = ~run.NextHead();
  }
}

inline bool TgsSort::Before(uint32_t a, uint32_t b) const {
  const MergeCursor& x = cursors_[a];
  const MergeCursor& y = cursors_[b];
  if (x.head != y.head) return x.head < y.head;
  if (x.nextHead != y.nextHead) return x.nextHead < y.nextHead;
  return BeforeByBytes(x, y);
}

// Two keys whose first sixteen bytes are alike (or an exhausted run).
bool TgsSort::BeforeByBytes(const MergeCursor& x, const MergeCursor& y) const {
  const TgsPageCollection& u = *x.run;
  const TgsPageCollection& v = *y.run;
  if (!v.HasCurrent()) return u.HasCurrent();
  if (!u.HasCurrent()) return false;
  const int common = std::min(u.Length(), v.Length()) - 16;
  int c = common > 0 ? std::memcmp(u.Key() + 16, v.Key() + 16, static_cast<size_t>(common)) : 0;
  if (c == 0) c = u.Length() - v.Length();
  return ascending_ ? c < 0 : c > 0;
}

void TgsSort::Replay(uint32_t winner) {
  const size_t k = runs_.size();
  uint32_t* const tree = tree_.data();
  for (size_t node = (winner + k) / 2; node > 0; node /= 2) {
    if (Before(tree[node], winner)) std::swap(tree[node], winner);
  }
  tree[0] = winner;
}

void TgsSort::BeginRetrieval() {
  accepting_ = false;
  DumpRun();
  area_.reset();
  entries_.reset();
  radixScratch_.reset();
  radixCapacity_ = 0;
  // Build the tree bottom-up: each internal node keeps the loser of the
  // match between the winners of its two subtrees.
  const size_t k = runs_.size();
  tree_.assign(std::max<size_t>(k, 1), 0);
  if (k == 0) return;
  cursors_.resize(k);
  for (size_t i = 0; i < k; ++i) {
    cursors_[i].run = runs_[i].get();
    LoadCursor(cursors_[i]);
  }
  std::vector<uint32_t> winners(2 * k);
  for (size_t i = 0; i < k; ++i) winners[k + i] = static_cast<uint32_t>(i);
  for (size_t node = k - 1; node > 0; --node) {
    const uint32_t a = winners[2 * node], b = winners[2 * node + 1];
    if (Before(a, b)) {
      winners[node] = a;
      tree_[node] = b;
    } else {
      winners[node] = b;
      tree_[node] = a;
    }
  }
  tree_[0] = k == 1 ? 0 : winners[1];
}

bool TgsSort::NextKey(TgsSortType& type, std::string_view& bytes, TRecNo& recNo) {
  if (accepting_) BeginRetrieval();
  while (!runs_.empty()) {
    const uint32_t winner = tree_[0];
    TgsPageCollection& run = *runs_[winner];
    if (!run.HasCurrent()) return false;  // the best run is exhausted: all are
    const uint8_t* p = run.Key();
    const int length = run.Length();
    const uint8_t runType = run.Type();
    // The escaped key, its terminator and four record bytes.
    const int escaped = std::max(length - 5, 0);
    char* const current = keyBuffers_[previousSlot_ ^ 1];
    size_t currentLength = 0;
    if (!escapes_ || std::memchr(p, 1, static_cast<size_t>(escaped)) == nullptr) {
      currentLength = static_cast<size_t>(escaped);
      CopyPieces(reinterpret_cast<uint8_t*>(current), p, currentLength);
    } else {
      for (int i = 0; i < escaped; ++i) {
        if (p[i] == 1 && i + 1 < escaped)
          current[currentLength++] = static_cast<char>(p[++i] - 1);
        else
          current[currentLength++] = static_cast<char>(p[i]);
      }
    }
    uint32_t r = 0;
    for (int k = escaped + 1; k < length; ++k) r = (r << 8) | p[k];
    const TRecNo rec = static_cast<TRecNo>(r);
    run.Advance();
    LoadCursor(cursors_[winner]);
    Replay(winner);

    // Skip what equals the previous key: any record of it for a unique
    // sorter, the very same record otherwise (a pair added twice).
    if (hasPrevious_ && (unique_ || rec == previousRec_) && currentLength == previousLength_ &&
        std::memcmp(current, keyBuffers_[previousSlot_], currentLength) == 0 &&
        (runType == previousType_ || runType == static_cast<uint8_t>(TgsSortType::Binary) ||
         previousType_ == static_cast<uint8_t>(TgsSortType::Binary)))
      continue;
    // The key handed out becomes the previous key; the other buffer takes
    // the next one.
    previousSlot_ ^= 1;
    previousLength_ = currentLength;
    previousType_ = runType;
    previousRec_ = rec;
    hasPrevious_ = true;
    type = static_cast<TgsSortType>(runType);
    bytes = std::string_view(current, currentLength);
    recNo = rec;
    return true;
  }
  return false;
}

// ---------------------------------------------------------------------------
// The variant interface

void TgsSort::Add(const TgsVariant& key, TRecNo recNo) {
  const std::string_view bytes(reinterpret_cast<const char*>(key.Data()),
                               key.IsEmpty() ? 0 : key.Length());
  switch (key.Tag()) {
    case TgsVariant::kText:
      AddText(bytes, recNo);
      break;
    case TgsVariant::kFloat:
      AddFloat(key.AsFloat(), recNo);
      break;
    case TgsVariant::kDate:
      AddDate(key.AsDate(), recNo);
      break;
    case TgsVariant::kBinary:
      AddBinary(bytes, recNo);
      break;
    default:
      RaiseError(Msg::VariantNotSortable);
  }
}

bool TgsSort::Next(TgsVariant& key, TRecNo& recNo) {
  TgsSortType type;
  std::string_view bytes;
  if (!NextKey(type, bytes, recNo)) return false;
  switch (type) {
    case TgsSortType::Text:
      key.SetText(bytes);
      break;
    case TgsSortType::Float:
      key.SetFloat(DecodeFloat(bytes));
      break;
    case TgsSortType::Date:
      key.SetDate(DecodeDate(bytes));
      break;
    case TgsSortType::Binary:
      key.SetBinary(bytes.data(), bytes.size());
      break;
  }
  return true;
}
