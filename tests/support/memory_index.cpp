// The in-memory index format and table owner for index framework tests.
#include "support/memory_index.h"

#include <algorithm>
#include <cstring>
#include <functional>
#include <sstream>

#include "engine/support/gs6_glbl.h"

// ---------------------------------------------------------------------------
// MemoryIndexTag

MemoryIndexTag::MemoryIndexTag(MemoryIndexFile* file, std::string_view name, int32_t headerAddress)
    : GSobjIndexTag(file, name, headerAddress), memoryFile_(file) {
  indexKind_ = "MEM";
}

MemoryIndexTag::~MemoryIndexTag() {
  try {
    ReleasePages();
  } catch (...) {
  }
}

void MemoryIndexTag::NormalizeKey(TgsVariant& value, bool trim) {
  if (keyType_ == 'N') {
    if (value.Tag() != TgsVariant::kFloat) value.SetFloat(value.AsFloat());
    return;
  }
  if (value.Tag() != TgsVariant::kText) value.SetText(value.AsText());
  if (trim) value.TrimText();
}

bool MemoryIndexTag::DefineTag(std::string_view name, std::string_view keyExpression, bool unique,
                               bool ascending, std::string_view forExpression) {
  GSobjIndexTag::DefineTag(name, keyExpression, unique, ascending, forExpression);
  GSO_dBaseDBF* table = Table();
  if (KeyEvaluator() && table && table->RecordCount() > 0) {
    table->ReadRecord(1);
    GSobjIndexKeyData probe;
    EvaluateKey(probe);
    keyType_ = probe.Tag() == TgsVariant::kFloat ? 'N' : 'C';
    keyLength_ = static_cast<int16_t>(probe.Length());
  }
  if (headerAddress_ <= 0) headerAddress_ = memoryFile_->AllocatePage();
  rootAddress_ = memoryFile_->AllocatePage();
  memoryFile_->nodes[rootAddress_] = MemoryNode{};
  headerChanged_ = true;
  WriteHeader();
  return true;
}

bool MemoryIndexTag::InsertKey(const GSobjIndexKeyData& entry) {
  GSobjIndexKeyData e(entry);
  e.SetRecordNumber(static_cast<int32_t>(e.Link()));
  return GSobjIndexTag::InsertKey(e);
}

bool MemoryIndexTag::Insert(const std::string& key, TRecNo recNo) {
  GSobjIndexKeyData e;
  e.SetText(key);
  e.SetLink(static_cast<uint32_t>(recNo));
  return InsertKey(e);
}

bool MemoryIndexTag::Insert(double key, TRecNo recNo) {
  GSobjIndexKeyData e;
  e.SetFloat(key);
  e.SetLink(static_cast<uint32_t>(recNo));
  return InsertKey(e);
}

int32_t MemoryIndexTag::ReadRootAddress() {
  auto it = memoryFile_->headers.find(headerAddress_);
  return it == memoryFile_->headers.end() ? 0 : it->second;
}

bool MemoryIndexTag::ReadPage(int32_t address, GSobjIndexKey& image) {
  auto it = memoryFile_->nodes.find(address);
  if (it == memoryFile_->nodes.end()) RaiseError(Msg::IndexCorrupted, memoryFile_->FileName());
  image.ClearAndFree();
  image.SetNodeKind(it->second.kind);
  for (const GSobjIndexKeyData& e : it->second.entries) image.AddEntry(e);
  return true;
}

bool MemoryIndexTag::WritePage(GSobjIndexKey& image) {
  std::vector<GSobjIndexKeyData> entries;
  for (int32_t i = 0; i < image.EntryCount(); ++i) entries.push_back(*image.Entry(i));
  const size_t capacity = static_cast<size_t>(memoryFile_->capacity);
  while (entries.size() > capacity) {
    const size_t n = std::min(capacity, entries.size() - entries.size() / 2);
    const int32_t address = memoryFile_->AllocatePage();
    GSobjIndexKeyData last(entries[n - 1]);
    last.SetLink(static_cast<uint32_t>(address));
    image.LinkNewSibling(last);
    MemoryNode first;
    first.kind = image.IsLeaf() ? GSobjIndexKey::kLeaf : 0;
    first.entries.assign(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(n));
    memoryFile_->nodes[address] = std::move(first);
    ++memoryFile_->nodeWrites;
    entries.erase(entries.begin(), entries.begin() + static_cast<std::ptrdiff_t>(n));
  }
  MemoryNode node;
  node.kind = image.NodeKind();
  node.entries = std::move(entries);
  memoryFile_->nodes[image.PageAddress()] = std::move(node);
  ++memoryFile_->nodeWrites;
  return true;
}

bool MemoryIndexTag::ReadHeader() {
  rootAddress_ = ReadRootAddress();
  headerChanged_ = false;
  return rootAddress_ > 0;
}

bool MemoryIndexTag::WriteHeader() {
  memoryFile_->headers[headerAddress_] = rootAddress_;
  ++memoryFile_->headerWrites;
  headerChanged_ = false;
  return true;
}

// ---------------------------------------------------------------------------
// MemoryIndexFile

MemoryIndexFile::MemoryIndexFile(GSobjIndexOwner* owner, int nodeCapacity, bool byRecordNumber)
    : GSobjIndexFile(owner), capacity(nodeCapacity) {
  orderByRecordNumber_ = byRecordNumber;
  fileName_ = "MEMORY.IDX";
  valid_ = true;
}

MemoryIndexFile::~MemoryIndexFile() {
  try {
    ReleaseTags();
  } catch (...) {
  }
}

bool MemoryIndexFile::AddTag(std::string_view name, std::string_view keyExpression, bool unique,
                             bool ascending, std::string_view forExpression) {
  auto* tag = static_cast<MemoryIndexTag*>(
      tags_.Add(std::make_unique<MemoryIndexTag>(this, name, -1)));
  return tag->DefineTag(name, keyExpression, unique, ascending, forExpression);
}

MemoryIndexTag* MemoryIndexFile::NewTag(std::string_view name, bool unique) {
  AddTag(name, "", unique, true, "");
  return Tag(TagCount() - 1);
}

int32_t MemoryIndexFile::AllocatePage() {
  if (nextFreePage_ < 0) ResetAllocator();
  const int32_t address = nextFreePage_++;
  nextNode = std::max(nextNode, nextFreePage_);
  return address;
}

bool MemoryIndexFile::NodeStamp(int64_t& stamp) {
  stamp = int64_t{nodeWrites} + headerWrites + outsideChanges;
  return keepImages;
}

int32_t MemoryIndexFile::ResetAllocator() {
  nextFreePage_ = nextNode;
  return nextFreePage_;
}

// ---------------------------------------------------------------------------
// Tree checks

namespace {

std::string KeyText(const GSobjIndexKeyData& e) {
  if (e.Tag() == TgsVariant::kFloat) {
    std::ostringstream out;
    out << e.AsFloat();
    return out.str();
  }
  return e.AsText();
}

struct TreeWalk {
  MemoryIndexFile& file;
  MemoryIndexTag& tag;
  std::string fault;
  int leafDepth = -1;
  std::vector<const GSobjIndexKeyData*> leaves;

  // Returns the node's last entry, or null.
  const GSobjIndexKeyData* Walk(int32_t address, int depth, bool isRoot) {
    if (!fault.empty()) return nullptr;
    auto it = file.nodes.find(address);
    std::ostringstream where;
    where << "node " << address << ": ";
    if (it == file.nodes.end()) {
      fault = where.str() + "missing";
      return nullptr;
    }
    const MemoryNode& node = it->second;
    if (node.entries.size() > static_cast<size_t>(file.capacity)) {
      fault = where.str() + "over capacity";
      return nullptr;
    }
    if (node.entries.empty()) {
      if (!isRoot) fault = where.str() + "empty node still linked";
      if (isRoot && node.kind != GSobjIndexKey::kLeaf) fault = where.str() + "empty root branch";
      return nullptr;
    }
    if (node.kind == GSobjIndexKey::kLeaf) {
      if (leafDepth < 0) leafDepth = depth;
      if (leafDepth != depth) {
        fault = where.str() + "leaf at another depth";
        return nullptr;
      }
      for (const auto& e : node.entries) {
        if (e.RecordNumber() != static_cast<int32_t>(e.Link())) {
          fault = where.str() + "leaf record number differs from link";
          return nullptr;
        }
        leaves.push_back(&e);
      }
      return &node.entries.back();
    }
    for (const auto& e : node.entries) {
      const GSobjIndexKeyData* last = Walk(static_cast<int32_t>(e.Link()), depth + 1, false);
      if (!fault.empty()) return nullptr;
      if (!last) {
        fault = where.str() + "child without entries";
        return nullptr;
      }
      if (tag.CompareKeys(e, *last, -1) != 0 || e.RecordNumber() != last->RecordNumber()) {
        fault = where.str() + "branch entry '" + KeyText(e) + "' is not the high key '" +
                KeyText(*last) + "' of its child";
        return nullptr;
      }
    }
    return &node.entries.back();
  }
};

}  // namespace

std::string CheckTree(MemoryIndexFile& file, MemoryIndexTag& tag) {
  TreeWalk walk{file, tag, "", -1, {}};
  const int32_t root = tag.ReadRootAddress();
  if (root != tag.RootAddress()) return "header root differs from the tag's";
  walk.Walk(root, 1, true);
  if (!walk.fault.empty()) return walk.fault;
  for (size_t i = 1; i < walk.leaves.size(); ++i) {
    const GSobjIndexKeyData& a = *walk.leaves[i - 1];
    const GSobjIndexKeyData& b = *walk.leaves[i];
    const int c = tag.CompareKeys(a, b, -1);
    if (c > 0 || (c == 0 && file.OrderByRecordNumber() && a.RecordNumber() >= b.RecordNumber()))
      return "leaf entries out of order at '" + KeyText(a) + "' / '" + KeyText(b) + "'";
  }
  return "";
}

std::vector<std::pair<std::string, TRecNo>> WalkForward(GSobjIndexTag& tag) {
  std::vector<std::pair<std::string, TRecNo>> out;
  for (TRecNo r = tag.MoveTo(GotoFirst); r != 0; r = tag.MoveTo(GotoNext))
    out.emplace_back(tag.CurrentKey().AsText(), tag.CurrentRecord());
  return out;
}

std::vector<std::pair<std::string, TRecNo>> LeafEntries(MemoryIndexFile& file, MemoryIndexTag& tag) {
  std::vector<std::pair<std::string, TRecNo>> out;
  std::function<void(int32_t)> walk = [&](int32_t address) {
    const MemoryNode& node = file.nodes.at(address);
    for (const auto& e : node.entries) {
      if (node.kind == GSobjIndexKey::kLeaf)
        out.emplace_back(KeyText(e), static_cast<TRecNo>(e.Link()));
      else
        walk(static_cast<int32_t>(e.Link()));
    }
  };
  walk(tag.ReadRootAddress());
  return out;
}

int TreeDepth(MemoryIndexFile& file, MemoryIndexTag& tag) {
  int depth = 1;
  int32_t address = tag.ReadRootAddress();
  while (true) {
    const MemoryNode& node = file.nodes.at(address);
    if (node.kind == GSobjIndexKey::kLeaf || node.entries.empty()) return depth;
    address = static_cast<int32_t>(node.entries.front().Link());
    ++depth;
  }
}

// ---------------------------------------------------------------------------
// Table owner

RecordFieldVar::RecordFieldVar(std::string_view name, GSO_dBaseDBF* table, int offset, int length)
    : TgsUserDefFieldVar(name, length), table_(table), offset_(offset) {}

TgsExpValueType RecordFieldVar::GetValue(TgsExpValue& value) {
  value.SetText(std::string_view(table_->CurrentRecord() + offset_, static_cast<size_t>(length_)));
  return TgsExpValueType::Text;
}

TestIndexOwner::TestIndexOwner(GSO_dBaseDBF* table) : table_(table) {
  if (!table_) return;
  for (int32_t n = 1; n <= table_->FieldCount(); ++n) {
    const uint8_t* d = table_->FieldDescriptor(n);
    char name[12] = {};
    std::memcpy(name, d, 11);
    int32_t offset = 0;
    std::memcpy(&offset, d + 12, 4);
    link_.AddVariable(std::make_unique<RecordFieldVar>(name, table_, offset,
                                                       table_->DescriptorLength(n)));
  }
}
