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

constexpr int kRecordHeader = 5;   // type, total (2), new-byte count (2)

// The first eight bytes of a stored key as a big-endian integer, zero-padded.
uint64_t Head(const uint8_t* key, int length) {
  uint8_t bytes[8] = {};
  std::memcpy(bytes, key, static_cast<size_t>(std::min(length, 8)));
  uint64_t v;
  std::memcpy(&v, bytes, 8);
  if constexpr (std::endian::native == std::endian::little) v = __builtin_bswap64(v);
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// TgsPageCollection

void TgsPageCollection::Append(uint8_t type, const uint8_t* key, int length, int shared) {
  const int fresh = length - shared;
  const int size = kRecordHeader + fresh;
  if (writePos_ + size + 3 > kPageSize - 1) {
    pages_.push_back(std::make_unique<uint8_t[]>(kPageSize));  // zero-filled
    writePos_ = 0;
  }
  uint8_t* p = pages_.back().get() + writePos_;
  p[0] = type;
  p[1] = static_cast<uint8_t>(length);
  p[2] = static_cast<uint8_t>(length >> 8);
  p[3] = static_cast<uint8_t>(fresh);
  p[4] = static_cast<uint8_t>(fresh >> 8);
  std::memcpy(p + kRecordHeader, key + shared, fresh);
  writePos_ += size;
}

void TgsPageCollection::Finish() {
  readPage_ = 0;
  readPos_ = 0;
  length_ = 0;
  hasCurrent_ = false;
  Advance();
}

bool TgsPageCollection::Advance() {
  while (readPage_ < pages_.size()) {
    const uint8_t* p = pages_[readPage_].get() + readPos_;
    if (readPos_ < kPageSize - kRecordHeader && p[0] != 0) {
      const int length = p[1] | (p[2] << 8);
      const int fresh = p[3] | (p[4] << 8);
      type_ = p[0];
      std::memcpy(key_ + (length - fresh), p + kRecordHeader, fresh);
      length_ = length;
      readPos_ += kRecordHeader + fresh;
      hasCurrent_ = true;
      return true;
    }
    pages_[readPage_].reset();  // read to its end: no longer needed
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
  int stored = 0;
  for (size_t i = 0; i < length; ++i) {
    const uint8_t b = key[i];
    if (b <= 1) {
      storedBuffer_[stored++] = 1;
      storedBuffer_[stored++] = static_cast<uint8_t>(b + 1);
    } else {
      storedBuffer_[stored++] = b;
    }
  }
  storedBuffer_[stored++] = 0;
  const uint32_t r = static_cast<uint32_t>(recNo);
  storedBuffer_[stored++] = static_cast<uint8_t>(r >> 24);
  storedBuffer_[stored++] = static_cast<uint8_t>(r >> 16);
  storedBuffer_[stored++] = static_cast<uint8_t>(r >> 8);
  storedBuffer_[stored++] = static_cast<uint8_t>(r);

  // A full area is sorted out as a run before the key goes in.
  if (area_.size() + static_cast<size_t>(stored) + (entries_.size() + 1) * sizeof(Entry) >
      kAreaSize)
    DumpRun();
  if (area_.capacity() == 0) {
    // Sized for short keys; longer ones grow the area within the same limit.
    area_.reserve(kAreaSize / 2);
    entries_.reserve(kAreaSize / 2 / sizeof(Entry));
  }
  entries_.push_back(Entry{Head(storedBuffer_, stored), static_cast<uint32_t>(area_.size()),
                           static_cast<uint16_t>(stored), static_cast<uint8_t>(type)});
  area_.insert(area_.end(), storedBuffer_, storedBuffer_ + stored);
  ++count_;
}

// Sorts the entries [first, last), whose keys share their first `depth`
// bytes, by the eight bytes from `depth` on as an integer; entries whose
// eight bytes are equal are sorted by the next eight, and so on. Stored keys
// are distinct unless the same pair was added twice, and none is a leading
// part of another, so equal eight-byte heads mean both keys go on beyond
// them (or the two keys are the same).
void TgsSort::SortEntries(Entry* first, Entry* last, int depth) {
  const uint8_t* base = area_.data();
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

// Sorts the entries [first, last) by their heads, a byte at a time from the
// lowest, each pass stable; a byte that every head has alike is skipped.
void TgsSort::RadixSortByHead(Entry* first, Entry* last) {
  const size_t n = static_cast<size_t>(last - first);
  radixScratch_.resize(n);
  uint32_t counts[8][256] = {};
  for (const Entry* e = first; e != last; ++e)
    for (int d = 0; d < 8; ++d) ++counts[d][(e->head >> (8 * d)) & 0xFF];
  Entry* from = first;
  Entry* to = radixScratch_.data();
  for (int d = 0; d < 8; ++d) {
    uint32_t* count = counts[d];
    if (count[(from->head >> (8 * d)) & 0xFF] == n) continue;
    uint32_t sum = 0;
    for (int b = 0; b < 256; ++b) {
      const uint32_t c = count[b];
      count[b] = sum;
      sum += c;
    }
    for (const Entry* e = from; e != from + n; ++e) to[count[(e->head >> (8 * d)) & 0xFF]++] = *e;
    std::swap(from, to);
  }
  if (from != first) std::copy(from, from + n, first);
}

// Sorts the keys of the area, writes them as one run and empties the area.
void TgsSort::DumpRun() {
  if (entries_.empty()) return;
  SortEntries(entries_.data(), entries_.data() + entries_.size(), 0);
  const uint8_t* base = area_.data();
  auto run = std::make_unique<TgsPageCollection>();
  const Entry* previous = nullptr;
  auto append = [&](const Entry& e) {
    const uint8_t* key = base + e.offset;
    int shared = 0;
    if (previous) {
      const uint8_t* prev = base + previous->offset;
      const int common = std::min(e.length, previous->length);
      while (shared < common && key[shared] == prev[shared]) ++shared;
    }
    run->Append(e.type, key, e.length, shared);
    previous = &e;
  };
  if (ascending_)
    for (const Entry& e : entries_) append(e);
  else
    for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) append(*it);
  run->Finish();
  runs_.push_back(std::move(run));
  entries_.clear();
  area_.clear();
}

// ---------------------------------------------------------------------------
// Retrieval: merge of the runs

bool TgsSort::Before(const TgsPageCollection& a, const TgsPageCollection& b) const {
  const int common = std::min(a.Length(), b.Length());
  int c = std::memcmp(a.Key(), b.Key(), common);
  if (c == 0) c = a.Length() - b.Length();
  return ascending_ ? c < 0 : c > 0;
}

void TgsSort::SiftDown(size_t at) {
  const size_t size = heap_.size();
  const uint32_t item = heap_[at];
  for (;;) {
    size_t child = 2 * at + 1;
    if (child >= size) break;
    if (child + 1 < size && Before(*runs_[heap_[child + 1]], *runs_[heap_[child]])) ++child;
    if (!Before(*runs_[heap_[child]], *runs_[item])) break;
    heap_[at] = heap_[child];
    at = child;
  }
  heap_[at] = item;
}

void TgsSort::BeginRetrieval() {
  accepting_ = false;
  DumpRun();
  area_ = {};
  entries_ = {};
  radixScratch_ = {};
  heap_.clear();
  for (size_t i = 0; i < runs_.size(); ++i)
    if (runs_[i]->HasCurrent()) heap_.push_back(static_cast<uint32_t>(i));
  for (size_t i = heap_.size() / 2; i-- > 0;) SiftDown(i);
}

void TgsSort::Advance(size_t heapSlot) {
  TgsPageCollection& run = *runs_[heap_[heapSlot]];
  if (!run.Advance()) {
    heap_[heapSlot] = heap_.back();
    heap_.pop_back();
    if (heapSlot >= heap_.size()) return;
  }
  SiftDown(heapSlot);
}

bool TgsSort::NextKey(TgsSortType& type, std::string_view& bytes, TRecNo& recNo) {
  if (accepting_) BeginRetrieval();
  while (!heap_.empty()) {
    const TgsPageCollection& run = *runs_[heap_[0]];
    const uint8_t* p = run.Key();
    const int length = run.Length();
    const uint8_t runType = run.Type();
    // Undo the escaping up to the terminator; four record bytes follow it.
    // Bytes above 0x01 are taken as they are, in one piece up to the first
    // escape or the terminator.
    int i = 0;
    while (i < length && p[i] > 1) ++i;
    currentKey_.assign(reinterpret_cast<const char*>(p), static_cast<size_t>(i));
    while (i < length && p[i] != 0) {
      if (p[i] == 1 && i + 1 < length) {
        currentKey_.push_back(static_cast<char>(p[i + 1] - 1));
        i += 2;
      } else {
        currentKey_.push_back(static_cast<char>(p[i]));
        ++i;
      }
    }
    uint32_t r = 0;
    for (int k = i + 1; k < i + 5 && k < length; ++k) r = (r << 8) | p[k];
    const TRecNo rec = static_cast<TRecNo>(r);
    Advance(0);

    // Skip what equals the previous key: any record of it for a unique
    // sorter, the very same record otherwise (a pair added twice).
    if (hasPrevious_ && currentKey_ == previousKey_ &&
        (runType == previousType_ || runType == static_cast<uint8_t>(TgsSortType::Binary) ||
         previousType_ == static_cast<uint8_t>(TgsSortType::Binary)) &&
        (unique_ || rec == previousRec_))
      continue;
    // The key handed out becomes the previous key; the other buffer takes
    // the next one.
    previousKey_.swap(currentKey_);
    previousType_ = runType;
    previousRec_ = rec;
    hasPrevious_ = true;
    type = static_cast<TgsSortType>(runType);
    bytes = previousKey_;
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
