// NTX index files and tags; see gs6_ntx.h.
#include "engine/index/gs6_ntx.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <set>

#include "engine/expr/gs6_sql.h"
#include "engine/index/gs6_cdx_format.h"
#include "engine/support/gs6_date.h"
#include "engine/support/gs6_glbl.h"
#include "engine/support/gs6_tool.h"
#include "engine/table/gs6_dbf.h"
#include "engine/table/gs6_dbsy.h"
#include "engine/table/gs6_disk.h"
#include "platform/ansi.h"

using cdx::GetLE16;
using cdx::GetLE32;
using cdx::PutLE16;
using cdx::PutLE32;

namespace ntx {

int MaxKeysFor(int keyLength) { return 2 * ((1020 / (keyLength + 10) - 1) / 2); }

bool IsPageAddress(int64_t address, int64_t fileSize) {
  return address >= kPageSize && address % kPageSize == 0 && address + kPageSize <= fileSize;
}

namespace {

// The bytes of the plain slot table and items of a page with this geometry.
int64_t PlainPageBytes(int keyLength, int maxKeys) {
  return int64_t{maxKeys + 2} * 2 + int64_t{maxKeys + 1} * (keyLength + 8);
}

// A zero-terminated text at `at` within `limit` bytes; false without its
// terminator.
bool TerminatedText(const uint8_t* in, int at, int limit, std::string& out) {
  const auto* begin = reinterpret_cast<const char*>(in + at);
  const void* end = std::memchr(begin, 0, static_cast<size_t>(limit));
  if (!end) return false;
  out.assign(begin, static_cast<const char*>(end));
  return true;
}

}  // namespace

bool EncodeHeader(const Header& h, uint8_t* out) {
  if (h.keyExpression.size() >= kKeyExpressionSize ||
      h.forExpression.size() >= static_cast<size_t>(kPageSize - kForExpressionOffset))
    return false;
  std::memset(out, 0, kPageSize);
  const bool hasFor = !h.forExpression.empty();
  PutLE16(out + 0, hasFor ? 7 : 6);
  PutLE16(out + 2, h.version);
  PutLE32(out + 4, static_cast<uint32_t>(h.root));
  PutLE16(out + 12, static_cast<uint16_t>(h.keyLength + 8));
  PutLE16(out + 14, h.keyLength);
  PutLE16(out + 16, h.decimals);
  PutLE16(out + 18, h.maxKeys);
  PutLE16(out + 20, static_cast<uint16_t>(h.maxKeys / 2));
  std::memcpy(out + kKeyExpressionOffset, h.keyExpression.data(), h.keyExpression.size());
  out[278] = h.unique ? 1 : 0;
  out[279] = h.descending ? 1 : 0;
  if (hasFor) std::memcpy(out + kForExpressionOffset, h.forExpression.data(), h.forExpression.size());
  return true;
}

bool DecodeHeader(const uint8_t* in, int64_t fileSize, Header& out) {
  out.signature = GetLE16(in);
  if ((out.signature & ~1u) != 6) return false;
  out.version = GetLE16(in + 2);
  out.root = static_cast<int32_t>(GetLE32(in + 4));
  out.keyLength = GetLE16(in + 14);
  out.decimals = GetLE16(in + 16);
  out.maxKeys = GetLE16(in + 18);
  if (out.keyLength < 1 || out.keyLength > kKeyExpressionSize) return false;
  if (GetLE16(in + 12) != out.keyLength + 8 || out.decimals >= out.keyLength) return false;
  if (out.maxKeys < 2 || PlainPageBytes(out.keyLength, out.maxKeys) > kPageSize) return false;
  if (fileSize >= 0 && !IsPageAddress(out.root, fileSize)) return false;
  if (!TerminatedText(in, kKeyExpressionOffset, kKeyExpressionSize, out.keyExpression)) return false;
  if (out.keyExpression.empty()) return false;
  out.unique = (in[278] & 1) != 0;
  out.descending = (in[279] & 1) != 0;
  out.forExpression.clear();
  if ((out.signature & 1) != 0 &&
      !TerminatedText(in, kForExpressionOffset, kPageSize - kForExpressionOffset, out.forExpression))
    return false;
  return true;
}

bool DecodePage(const uint8_t* page, int keyLength, int maxKeys, int64_t fileSize, Page& out) {
  const int count = GetLE16(page);
  if (count > maxKeys) return false;
  const int itemSize = keyLength + 8;
  auto slot = [&](int i) -> int {
    const int offset = GetLE16(page + 2 + 2 * i);
    return offset + itemSize <= kPageSize ? offset : -1;
  };
  const int first = slot(0);
  if (first < 0) return false;
  out.leaf = GetLE32(page + first) == 0;
  out.items.clear();
  out.lastChild = 0;
  for (int i = 0; i <= count; ++i) {
    const int at = slot(i);
    if (at < 0) return false;
    const uint32_t child = GetLE32(page + at);
    if (!out.leaf && !IsPageAddress(child, fileSize)) return false;
    if (i == count) {
      out.lastChild = out.leaf ? 0 : child;
      break;
    }
    Item item;
    item.child = out.leaf ? 0 : child;
    item.record = GetLE32(page + at + 4);
    if (item.record == 0 || item.record > 0x7FFFFFFFu) return false;
    std::string_view key(reinterpret_cast<const char*>(page + at + 8), static_cast<size_t>(keyLength));
    if (key.front() == '\0') key = {};
    while (!key.empty() && key.back() == ' ') key.remove_suffix(1);
    item.key = key;
    out.items.push_back(item);
  }
  return true;
}

PageWriter::PageWriter(int keyLength, int maxKeys) : keyLength_(keyLength), maxKeys_(maxKeys) { Clear(); }

int PageWriter::SlotOffset(int slot) const { return (maxKeys_ + 2) * 2 + slot * (keyLength_ + 8); }

void PageWriter::Clear() {
  std::memset(page_, 0, sizeof page_);
  for (int i = 0; i <= maxKeys_; ++i) PutLE16(page_ + 2 + 2 * i, static_cast<uint16_t>(SlotOffset(i)));
}

void PageWriter::Put(int slot, uint32_t child, uint32_t record, std::string_view key) {
  uint8_t* item = page_ + SlotOffset(slot);
  PutLE32(item, child);
  PutLE32(item + 4, record);
  // An empty key may come without any bytes at all.
  const size_t n = std::min(key.size(), static_cast<size_t>(keyLength_));
  if (n > 0) std::memcpy(item + 8, key.data(), n);
  std::memset(item + 8 + n, ' ', static_cast<size_t>(keyLength_) - n);
}

void PageWriter::PutChild(int slot, uint32_t child) {
  uint8_t* item = page_ + SlotOffset(slot);
  std::memset(item, 0, static_cast<size_t>(keyLength_) + 8);
  PutLE32(item, child);
}

void PageWriter::SetCount(int count) { PutLE16(page_, static_cast<uint16_t>(count)); }

int PageWriter::Count() const { return GetLE16(page_); }

uint32_t PageWriter::Record(int slot) const { return GetLE32(page_ + SlotOffset(slot) + 4); }

uint32_t PageWriter::Child(int slot) const { return GetLE32(page_ + SlotOffset(slot)); }

std::string_view PageWriter::Key(int slot) const {
  return std::string_view(reinterpret_cast<const char*>(page_ + SlotOffset(slot) + 8),
                          static_cast<size_t>(keyLength_));
}

std::string NumericKey(double value, int length, int decimals) {
  if (!std::isfinite(value)) return std::string(static_cast<size_t>(length), '*');
  char buffer[400];
  const int n = std::snprintf(buffer, sizeof buffer, "%*.*f", length, decimals, std::fabs(value));
  if (n != length) return std::string(static_cast<size_t>(length), '*');
  std::string key(buffer, static_cast<size_t>(n));
  bool digits = false;
  for (char& c : key) {
    if (c == ' ') c = '0';
    if (c >= '1' && c <= '9') digits = true;
  }
  // A negative number whose digits all round to zero is zero.
  if (value < 0 && digits)
    for (char& c : key)
      if (c >= '0' && c <= '9') c = static_cast<char>(92 - c);
  return key;
}

double NumericKeyValue(std::string_view key) {
  std::string text(key);
  bool negative = false;
  for (char& c : text) {
    if (c >= '#' && c <= ',') {  // a digit of a negative number
      c = static_cast<char>(92 - c);
      negative = true;
    }
  }
  const double value = std::strtod(text.c_str(), nullptr);
  return negative ? -value : value;
}

void WalkTree(const PageReader& read, int64_t fileSize, int32_t root, int keyLength, int maxKeys,
              bool descending, IndexCheckReport& report) {
  report = IndexCheckReport{};
  auto problem = [&report](std::string text) {
    if (report.problems.size() < 20) report.problems.push_back(std::move(text));
  };
  std::set<int32_t> seen;
  int leafLevel = -1;
  bool havePrevious = false;
  std::string previous;
  auto emit = [&](const Item& item) {
    const std::string key(item.key);
    if (havePrevious && (descending ? previous < key : key < previous))
      problem("the key of record " + std::to_string(item.record) + " is out of order");
    previous = key;
    havePrevious = true;
    report.entries.push_back(IndexEntryImage{key, item.record, item.child});
  };
  std::function<void(int32_t, int)> visit = [&](int32_t address, int depth) {
    const std::string where = "page " + std::to_string(address);
    if (depth >= kMaxLevels) return problem(where + " is deeper than " + std::to_string(kMaxLevels) + " levels");
    if (!IsPageAddress(address, fileSize)) return problem(where + " lies outside the file");
    if (!seen.insert(address).second) return problem(where + " is reached twice");
    uint8_t bytes[kPageSize];
    Page page;
    if (!read(address, bytes) || !DecodePage(bytes, keyLength, maxKeys, fileSize, page))
      return problem(where + " is damaged");
    ++report.nodes;
    report.levels = std::max(report.levels, depth + 1);
    if (page.leaf) {
      if (leafLevel < 0) leafLevel = depth;
      if (leafLevel != depth) problem(where + " is a leaf on another level than the others");
      for (const Item& item : page.items) emit(item);
      return;
    }
    for (const Item& item : page.items) {
      visit(static_cast<int32_t>(item.child), depth + 1);
      Item separator = item;
      separator.child = 0;
      emit(separator);
    }
    visit(static_cast<int32_t>(page.lastChild), depth + 1);
  };
  visit(root, 0);
}

}  // namespace ntx

using namespace ntx;

namespace {

// The file name without folder and extension, at most 16 characters.
std::string StemOf(std::string_view path) {
  const size_t slash = path.find_last_of("/\\");
  std::string_view name = slash == std::string_view::npos ? path : path.substr(slash + 1);
  const size_t dot = name.find_last_of('.');
  if (dot != std::string_view::npos) name = name.substr(0, dot);
  return std::string(name.substr(0, 16));
}

std::string_view KeyOf(const TgsVariant& e) {
  return std::string_view(reinterpret_cast<const char*>(e.Data()), e.Length());
}

}  // namespace

// --- GSobjNTXTag --------------------------------------------------------------

GSobjNTXTag::GSobjNTXTag(GSobjNTXFile* file, std::string_view name, int32_t headerAddress, bool read)
    : GSobjIndexTag(file, name, headerAddress), builtPages_(*file) {
  indexKind_ = "NTX";
  defaultStrWidth_ = -1;
  keepsEmptyRightmostNodes_ = true;
  if (read) headerAccepted_ = ReadHeader();
}

GSobjNTXTag::~GSobjNTXTag() { ReleasePagesQuietly(); }

GSobjNTXFile* GSobjNTXTag::File() const { return static_cast<GSobjNTXFile*>(ownerFile_); }

void GSobjNTXTag::SetKeyLength(int length) {
  keyLength_ = static_cast<int16_t>(length);
  entrySize_ = static_cast<uint16_t>(length + 8);
  entriesPerNode_ = static_cast<uint16_t>(MaxKeysFor(length));
}

bool GSobjNTXTag::NumericFieldSize(int& width, int& decimals) {
  GSO_dBaseDBF* table = Table();
  if (!table) return false;
  std::string name = keyExpression_;
  // An alias in front of the field name ("ALIAS->FIELD") names the table.
  if (const size_t arrow = name.find("->"); arrow != std::string::npos) name = name.substr(arrow + 2);
  while (!name.empty() && name.front() == ' ') name.erase(name.begin());
  while (!name.empty() && name.back() == ' ') name.pop_back();
  const std::string wanted = platform::UpperCase(name);
  for (int32_t n = 1; n <= table->FieldCount(); ++n) {
    const uint8_t* d = table->FieldDescriptor(n);
    if (!d) continue;
    std::string field(reinterpret_cast<const char*>(d), strnlen(reinterpret_cast<const char*>(d), 11));
    if (platform::UpperCase(field) != wanted) continue;
    if (d[11] != 'N' && d[11] != 'F') return false;
    width = d[16];
    decimals = d[17];
    return width > 0 && decimals < width;
  }
  return false;
}

// --- key forms ---

void GSobjNTXTag::NormalizeKey(TgsVariant& value, bool trim) {
  switch (keyType_) {
    case 'N': {
      if (value.Tag() == TgsVariant::kFloat || value.Tag() == TgsVariant::kDate) {
        value.SetText(NumericKey(value.AsFloat(), keyLength_, decimals_));
        return;
      }
      if (value.Tag() != TgsVariant::kText) value.SetText(value.AsText());
      value.TrimText();
      if (value.Length() == 0) return;
      // A number given as text becomes its key; other text (a key already)
      // stays as it is.
      std::string text = value.AsText();
      char* end = nullptr;
      const double number = std::strtod(text.c_str(), &end);
      if (end && *end == '\0' && text.find_first_of(",#$%&'()*+") == std::string::npos)
        value.SetText(NumericKey(number, keyLength_, decimals_));
      return;
    }
    case 'D': {
      if (value.Tag() == TgsVariant::kDate || value.Tag() == TgsVariant::kFloat) {
        const double number = value.AsFloat();
        const int32_t day = number >= 1.0e100 ? 0 : static_cast<int32_t>(number);
        value.SetText(day <= 0 ? std::string("00000000") : DBFDate().DayToStorageText(day));
        return;
      }
      // Text is taken as a key already ("yyyymmdd" or a leading part).
      if (value.Tag() != TgsVariant::kText) value.SetText(value.AsText());
      if (trim) value.TrimText();
      return;
    }
    default:
      if (value.Tag() != TgsVariant::kText) value.SetText(value.AsText());
      if (trim) value.TrimText();
      if (File()->FoldCase()) value.UpperCaseText();
      return;
  }
}

double GSobjNTXTag::KeyNumber(const GSobjIndexKeyData& key) const {
  if (keyType_ == 'D') {
    try {
      return DBFDate().TextToDay(KeyOf(key));
    } catch (const std::exception&) {
      return 0;  // not a date: a damaged key
    }
  }
  return NumericKeyValue(KeyOf(key));
}

// --- headers ---

bool GSobjNTXTag::ReadHeader() {
  headerChanged_ = false;
  uint8_t buffer[kPageSize];
  if (!File()->ReadBlock(headerAddress_, buffer, kPageSize)) return false;
  Header h;
  if (!DecodeHeader(buffer, File()->FileSize(), h)) return false;
  rootAddress_ = h.root;
  File()->SetVersion(h.version);
  keyLength_ = static_cast<int16_t>(h.keyLength);
  entrySize_ = static_cast<uint16_t>(h.keyLength + 8);
  entriesPerNode_ = h.maxKeys;
  decimals_ = static_cast<int16_t>(h.decimals);
  unique_ = h.unique;
  ascending_ = !h.descending;
  descendingCompare_ = h.descending;
  keyExpression_ = h.keyExpression;
  hasFor_ = !h.forExpression.empty();
  forExpression_ = h.forExpression;
  keyType_ = 'C';
  CompileWithoutAliases(keyExpression_, [this] { CompileKeyExpression(); });
  if (hasFor_) CompileWithoutAliases(forExpression_, [this] { CompileForExpression(); });
  if (KeyEvaluator()) LearnKeyType(nullptr);
  return true;
}

// A file made by another program through an alias names its own table's
// fields as ALIAS->FIELD, an alias this table may not have: when the text
// does not compile as it is, it is compiled without the aliases. The text
// itself is kept as stored.
void GSobjNTXTag::CompileWithoutAliases(std::string& text, const std::function<void()>& compile) {
  try {
    compile();
    return;
  } catch (const EDeridarExpression&) {
    if (text.find("->") == std::string::npos) throw;
    const std::string stored = text;
    std::string plain;
    for (size_t i = 0; i < stored.size(); ++i) {
      if (stored.compare(i, 2, "->") == 0) {
        while (!plain.empty() && (std::isalnum(static_cast<unsigned char>(plain.back())) || plain.back() == '_'))
          plain.pop_back();
        ++i;
        continue;
      }
      plain += stored[i];
    }
    text = plain;
    try {
      compile();
    } catch (...) {
      text = stored;
      throw;
    }
    text = stored;
  }
}

bool GSobjNTXTag::WriteHeader() {
  if (!headerChanged_) return true;
  Header h;
  h.version = File()->Version();
  h.root = rootAddress_;
  h.keyLength = static_cast<uint16_t>(keyLength_);
  h.decimals = static_cast<uint16_t>(decimals_);
  h.maxKeys = entriesPerNode_;
  h.unique = unique_;
  h.descending = !ascending_;
  h.keyExpression = keyExpression_;
  h.forExpression = hasFor_ ? forExpression_ : std::string();
  uint8_t buffer[kPageSize];
  if (!EncodeHeader(h, buffer)) return false;
  File()->WriteBlock(headerAddress_, buffer, kPageSize);
  headerChanged_ = false;
  return true;
}

int32_t GSobjNTXTag::ReadRootAddress() {
  uint8_t buffer[8];
  if (!File()->ReadBlock(headerAddress_, buffer, sizeof buffer)) Corrupted();
  return static_cast<int32_t>(GetLE32(buffer + 4));
}

// --- defining and building ---

bool GSobjNTXTag::DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                            bool ascending, std::string_view forExpression) {
  GSobjIndexTag::DefineTag(name, keyExpression, unique, ascending, forExpression);
  descendingCompare_ = !ascending;
  reversed_ = false;
  int textLength = 0;
  if (keyExpression.empty() || !LearnKeyType(&textLength)) return false;
  int length = textLength;
  int decimals = 0;
  if (keyType_ == 'D') {
    length = 8;
  } else if (keyType_ == 'N' && !NumericFieldSize(length, decimals)) {
    length = 18;
    decimals = 4;
  }
  if (length < 1 || length > kMaxKeyLength) return false;
  SetKeyLength(length);
  decimals_ = static_cast<int16_t>(decimals);
  // Refuse expressions that do not fit the header before anything is written.
  Header probe;
  probe.keyExpression = keyExpression_;
  probe.forExpression = hasFor_ ? forExpression_ : std::string();
  uint8_t buffer[kPageSize];
  if (!EncodeHeader(probe, buffer)) return false;
  std::memset(buffer, 0, sizeof buffer);
  File()->WriteBlock(headerAddress_, buffer, kPageSize);
  BuildTag();
  return true;
}

void GSobjNTXTag::WriteEmptyRoot(int32_t root) {
  PageWriter page(keyLength_, entriesPerNode_);
  File()->WriteBlock(root, page.Bytes(), kPageSize);
}

void GSobjNTXTag::BuildTag() {
  ReleasePages();
  GSO_dBaseDBF* table = Table();
  if (!table || !KeyEvaluator() || table->RecordCount() == 0) {
    rootAddress_ = File()->AllocatePage();
    WriteEmptyRoot(rootAddress_);
  } else {
    GSobjSortNTX sorter(*this, keyLength_, entriesPerNode_, ascending_, unique_);
    // The scanned keys go into the sorter as text, cut to the key length.
    struct Sink : BuildKeySink {
      GSobjSortNTX& sorter;
      size_t keyLength;
      Sink(GSobjSortNTX& s, size_t k) : sorter(s), keyLength(k) {}
      void AddFieldText(std::string_view text, TRecNo recNo) override {
        sorter.AddText(text.substr(0, std::min(text.size(), keyLength)), recNo);
      }
      void AddKey(const GSobjIndexKeyData& key, TRecNo recNo) override { AddFieldText(KeyOf(key), recNo); }
    } sink(sorter, static_cast<size_t>(keyLength_));
    // A key that is one character field is read from the record's bytes,
    // unless the file folds case.
    ScanTableKeys(sink, keyType_ == 'C' && !File()->FoldCase());
    auto status = [this](int32_t a, int32_t b, int32_t c) { BuildStatus(a, b, c); };
    status(-1, 2, table->RecordCount());
    try {
      rootAddress_ = sorter.Drain([&status](int32_t written) { status(2, written, 0); });
      builtPages_.Flush();
    } catch (...) {
      builtPages_.Release();
      throw;
    }
    builtPages_.Release();
    status(0, 0, 0);
  }
  headerChanged_ = true;
  WriteHeader();
}

void GSobjNTXTag::WriteBuiltPage(int32_t address, const uint8_t* page) {
  builtPages_.Write(address, page, kPageSize);
}

bool GSobjNTXTag::InsertKey(const GSobjIndexKeyData& entry) {
  GSobjIndexKeyData copy(entry);
  copy.SetRecordNumber(static_cast<int32_t>(entry.Link()));
  return GSobjIndexTag::InsertKey(copy);
}

// --- pages ---

bool GSobjNTXTag::ReadPage(int32_t address, GSobjIndexKey& image) {
  const int64_t size = File()->FileSize();
  if (!IsPageAddress(address, size)) Corrupted();
  RefuseNodeOnPath(image, address, kMaxLevels);
  uint8_t bytes[kPageSize];
  Page page;
  if (!File()->ReadBlock(address, bytes, kPageSize) ||
      !DecodePage(bytes, keyLength_, entriesPerNode_, size, page))
    Corrupted();
  image.ClearAndFree();
  image.SetNodeKind(page.leaf ? GSobjIndexKey::kLeaf : 2);
  for (const Item& item : page.items) {
    auto e = std::make_unique<GSobjIndexKeyData>();
    e->SetText(item.key);
    e->SetRecordNumber(static_cast<int32_t>(item.record));
    e->SetLink(page.leaf ? item.record : item.child);
    image.Add(std::move(e));
  }
  // The key that follows this page in order: the parent's entry for it.
  GSobjIndexKey* parent = image.Parent();
  if (!parent) {
    if (!page.leaf) {
      auto e = std::make_unique<GSobjIndexKeyData>();
      e->SetText("\xFF");
      e->SetLink(page.lastChild);
      image.Add(std::move(e));
    }
  } else if (!page.leaf || !image.OnRightmostPath()) {
    const GSobjIndexKeyData* above = nullptr;
    const int32_t at = parent->Position();
    if (at >= 0 && at < parent->EntryCount() && parent->Entry(at)->Link() == static_cast<uint32_t>(address))
      above = parent->Entry(at);
    for (int32_t i = 0; !above && i < parent->EntryCount(); ++i)
      if (parent->Entry(i)->Link() == static_cast<uint32_t>(address)) above = parent->Entry(i);
    if (!above) Corrupted();
    auto e = std::make_unique<GSobjIndexKeyData>(*above);
    e->SetLink(page.leaf ? static_cast<uint32_t>(above->RecordNumber()) : page.lastChild);
    image.Add(std::move(e));
  }
  return true;
}

bool GSobjNTXTag::WritePage(GSobjIndexKey& image) {
  const bool branch = !image.IsLeaf();
  // A branch never stores its last entry's key (slot n holds only the
  // child), nor does a leaf off the rightmost path (its parent holds it).
  const bool dropLast = branch || !image.OnRightmostPath();
  const size_t maxKeys = entriesPerNode_;
  const size_t count = image.Count();
  PageWriter page(keyLength_, entriesPerNode_);
  auto fill = [&](size_t from, size_t to) {
    page.Clear();
    for (size_t i = from; i < to; ++i) {
      const GSobjIndexKeyData& e = *image.Entry(i);
      page.Put(static_cast<int>(i - from), branch ? e.Link() : 0,
               branch ? static_cast<uint32_t>(e.RecordNumber()) : e.Link(), KeyOf(e));
    }
  };
  // Leading entries that do not fit go to new pages on the left; each such
  // page ends with the entry its parent gets as the key after it.
  const size_t lastCapacity = maxKeys + (dropLast ? 1 : 0);
  size_t start = 0;
  while (count - start > lastCapacity) {
    const size_t remaining = count - start;
    const size_t n = std::min(maxKeys + 1, remaining - remaining / 2);
    fill(start, start + n);
    page.SetCount(static_cast<int>(n - 1));
    const int32_t d = File()->AllocatePage();
    GSobjIndexKeyData separator(*image.Entry(start + n - 1));
    if (!branch) separator.SetRecordNumber(static_cast<int32_t>(separator.Link()));
    separator.SetLink(static_cast<uint32_t>(d));
    image.LinkNewSibling(separator);
    File()->WriteBlock(d, page.Bytes(), kPageSize);
    start += n;
  }
  fill(start, count);
  const size_t stored = count - start;
  page.SetCount(static_cast<int>(dropLast && stored > 0 ? stored - 1 : stored));
  File()->WriteBlock(image.PageAddress(), page.Bytes(), kPageSize);
  return true;
}

// --- GSobjNTXFile -------------------------------------------------------------

GSobjNTXFile::GSobjNTXFile(GSobjIndexOwner* owner, std::string_view fileName, bool overwrite,
                           bool create, bool readWrite, bool shared)
    : GSobjIndexFile(owner) {
  OpenDiskFile(fileName, overwrite, create, readWrite, shared, ".ntx");
  if (!diskFile_) return;
  const int64_t size = FileSize();
  if (size == 0 && create && diskFile_->IsReadWrite()) {
    // A new file: AddTag makes its tag.
    nextFreePage_ = 0;
    version_ = 1;
    valid_ = true;
    return;
  }
  if (size < 2 * kPageSize) {
    corrupt_ = true;  // no room for a header and a root page: refuse
    return;
  }
  auto tag = std::make_unique<GSobjNTXTag>(this, StemOf(FullPath()), 0, true);
  if (!tag->HeaderAccepted()) {
    corrupt_ = true;
    return;
  }
  tags_.Add(std::move(tag));
  ResetAllocator();
  valid_ = true;
}

GSobjNTXFile::~GSobjNTXFile() {
  try {
    ReleaseTags();
  } catch (...) {
    // Nothing more can be written; the disk file closes below.
  }
  tags_.ClearAndFree();
}

GSobjNTXTag* GSobjNTXFile::Tag() const { return static_cast<GSobjNTXTag*>(TagByPosition(0)); }

int32_t GSobjNTXFile::AllocatePage() {
  if (nextFreePage_ == -1) ResetAllocator();
  const int32_t address = nextFreePage_;
  nextFreePage_ += kPageSize;
  return address;
}

int32_t GSobjNTXFile::ResetAllocator() {
  // A file that does not end on a page boundary gets its next page after it.
  const int64_t size = FileSize();
  nextFreePage_ = static_cast<int32_t>((size + kPageSize - 1) / kPageSize * kPageSize);
  return nextFreePage_;
}

bool GSobjNTXFile::AddTag(std::string_view name, std::string_view keyExpression, bool unique,
                          bool ascending, std::string_view forExpression) {
  if (!diskFile_ || !diskFile_->IsReadWrite()) RaiseError(Msg::IndexCorrupted, FullPath());
  ReleaseTags();
  tags_.ClearAndFree();
  DropKeptImages();
  // The file holds one order: it starts again from its first page.
  if (FileSize() > 0) diskFile_->Truncate(0);
  nextFreePage_ = 0;
  version_ = 1;
  // The order is named after the file, whatever name was asked for.
  (void)name;
  const std::string tagName = StemOf(FullPath());
  auto* tag = static_cast<GSobjNTXTag*>(
      tags_.Add(std::make_unique<GSobjNTXTag>(this, tagName, AllocatePage(), false)));
  if (!tag->DefineTag(tagName, keyExpression, unique, ascending, forExpression)) {
    tags_.RemoveAndFree(tag);
    return false;
  }
  tag->ReleasePages();
  return true;
}

void GSobjNTXFile::RefreshHeader() {
  GSobjNTXTag* tag = Tag();
  if (!tag || !diskFile_) return;
  diskFile_->LockWholeFile();
  try {
    tag->ReleasePages();
    diskFile_->Truncate(2 * kPageSize);
    DropKeptImages();
    version_ = 1;
    tag->SetRootAddress(kPageSize);
    nextFreePage_ = 2 * kPageSize;
    tag->SetHeaderChanged(true);
    tag->WriteHeader();
    tag->WriteEmptyRoot(kPageSize);
  } catch (...) {
    diskFile_->Unlock();
    throw;
  }
  diskFile_->Unlock();
}

void GSobjNTXFile::Reindex() {
  GSobjNTXTag* tag = Tag();
  if (!tag || !diskFile_) return;
  RefreshHeader();
  diskFile_->LockWholeFile();
  try {
    // The build starts at the emptied root page.
    nextFreePage_ = kPageSize;
    const std::string name = tag->TagName(), key = tag->KeyExpression(), forExpression = tag->ForExpression();
    tag->DefineTag(name, key, tag->Unique(), tag->Ascending(), forExpression);
    tag->ReleasePages();
  } catch (...) {
    diskFile_->Unlock();
    throw;
  }
  diskFile_->Unlock();
}

bool GSobjNTXFile::UpdateKeys(TRecNo n, bool appended) {
  GSobjNTXTag* tag = Tag();
  const bool changed = GSobjIndexFile::UpdateKeys(n, appended);
  if (!tag || !diskFile_ || !diskFile_->IsReadWrite()) return changed;
  // The changed pages reach the file before the counter moves, so that a
  // process that sees the new counter reads the new pages. The counter
  // follows the file's (the index is locked for the write), so that two
  // writers never leave the same value behind different pages.
  if (tag->HasUnwrittenChanges()) tag->ReleasePages();
  uint8_t head[4];
  if (diskFile_->IsShared() && ReadBlock(0, head, sizeof head)) version_ = GetLE16(head + 2);
  version_ = version_ >= 0x7FFF ? 1 : static_cast<uint16_t>(version_ + 1);
  tag->SetHeaderChanged(true);
  tag->WriteHeader();
  return changed;
}

bool GSobjNTXFile::ChangedByOthers() {
  if (!diskFile_ || !diskFile_->IsShared() || !Tag()) return false;
  uint8_t head[4];
  if (!ReadBlock(0, head, sizeof head)) return false;
  return GetLE16(head + 2) != version_;
}

bool GSobjNTXFile::NodeStamp(int64_t& stamp) {
  if (!diskFile_ || !Tag()) return false;
  // Nobody else can change a file opened for this process alone.
  if (!diskFile_->IsShared()) {
    stamp = 0;
    return true;
  }
  // Every update by any process moves the version counter; a counter that
  // wrapped round is told apart by the file's size.
  uint8_t head[4];
  if (!ReadBlock(0, head, sizeof head)) return false;
  stamp = int64_t{GetLE16(head + 2)} | (FileSize() << 16);
  return true;
}

void GSobjNTXFile::WalkTag(GSobjIndexTag& tag, IndexCheckReport& report) {
  auto& ntxTag = static_cast<GSobjNTXTag&>(tag);
  WalkTree([this](int32_t address, uint8_t* page) { return ReadBlock(address, page, kPageSize); }, FileSize(),
           ntxTag.ReadRootAddress(), ntxTag.KeyLength(), ntxTag.MaxKeys(), !ntxTag.Ascending(), report);
}

std::string GSobjNTXFile::CheckedKeyForm(GSobjIndexTag& tag, const GSobjIndexKeyData& key) {
  std::string_view text = KeyOf(key);
  text = text.substr(0, std::min(text.size(), static_cast<size_t>(tag.KeyLength())));
  if (!text.empty() && text.front() == '\0') text = {};
  while (!text.empty() && text.back() == ' ') text.remove_suffix(1);
  return std::string(text);
}

// --- GSobjSortNTX -------------------------------------------------------------

GSobjSortNTX::GSobjSortNTX(GSobjNTXTag& tag, int keyLength, int maxKeys, bool ascending, bool unique)
    : TgsSort(keyLength + 1, ascending, unique), tag_(tag), keyLength_(keyLength), maxKeys_(maxKeys) {}

GSobjSortNTX::Level& GSobjSortNTX::LevelAt(size_t level) {
  while (levels_.size() <= level) levels_.push_back(std::make_unique<Level>(keyLength_, maxKeys_));
  return *levels_[level];
}

int32_t GSobjSortNTX::WriteLevelPage(Level& lv) {
  const int32_t address = tag_.OwnerFile()->AllocatePage();
  tag_.WriteBuiltPage(address, lv.page.Bytes());
  lv.page.Clear();
  lv.items = 0;
  return address;
}

void GSobjSortNTX::Add(size_t level, uint32_t child, uint32_t record, std::string_view key) {
  Level& lv = LevelAt(level);
  if (lv.items == fill_) {
    if (level == 0) {
      // The leaf is full: the key after it goes up as its separator.
      lv.page.SetCount(lv.items);
      const int32_t b = WriteLevelPage(lv);
      Add(1, static_cast<uint32_t>(b), record, key);
      return;
    }
    // A full branch: its last key goes up, its slot keeps only the child.
    const int last = lv.items - 1;
    const uint32_t upRecord = lv.page.Record(last);
    const std::string upKey(lv.page.Key(last));
    lv.page.PutChild(last, lv.page.Child(last));
    lv.page.SetCount(last);
    const int32_t b = WriteLevelPage(lv);
    Add(level + 1, static_cast<uint32_t>(b), upRecord, upKey);
  }
  lv.page.Put(lv.items, child, record, key);
  ++lv.items;
}

int32_t GSobjSortNTX::Drain(const std::function<void(int32_t)>& progress) {
  // Keys per page: the keys spread evenly over the pages they need.
  const int32_t k = Count();
  const int32_t pages = k / maxKeys_ + 1;
  fill_ = std::max(1, (k + pages - 1) / pages);
  TgsSortType type;
  std::string_view bytes;
  TRecNo recNo = 0;
  int32_t written = 0;
  LevelAt(0);
  while (NextKey(type, bytes, recNo)) {
    Add(0, 0, static_cast<uint32_t>(recNo), bytes);
    progress(++written);
  }
  // The last page of each level; above the leaves its last item keeps only
  // the child, and it becomes the rightmost child of the level above.
  int32_t root = 0;
  for (size_t level = 0; level < levels_.size(); ++level) {
    Level& lv = *levels_[level];
    lv.page.SetCount(level == 0 ? lv.items : lv.items - 1);
    const int32_t a = WriteLevelPage(lv);
    if (level + 1 < levels_.size()) {
      Level& up = *levels_[level + 1];
      up.page.PutChild(up.items, static_cast<uint32_t>(a));
      ++up.items;
    } else {
      root = a;
    }
  }
  return root;
}
