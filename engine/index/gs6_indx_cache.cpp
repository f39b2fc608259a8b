// The block cache of an index file under its lock (see gs6_indx_cache.h).
#include "engine/index/gs6_indx_cache.h"

#include <algorithm>
#include <cstring>

void GSobjIndexBlockCache::Start(int64_t fileSize) {
  pieces_.clear();
  dirty_ = 0;
  fileSize_ = fileSize;
  active_ = true;
}

void GSobjIndexBlockCache::Stop() {
  pieces_.clear();
  dirty_ = 0;
  active_ = false;
}

void GSobjIndexBlockCache::Truncated(int64_t size) {
  for (auto it = pieces_.begin(); it != pieces_.end();) {
    if ((it->first + 1) * kPiece > size) {
      if (it->second.dirty) --dirty_;
      it = pieces_.erase(it);
    } else {
      ++it;
    }
  }
  fileSize_ = size;
}

void GSobjIndexBlockCache::Fill(int64_t first, int64_t last,
                                const std::function<int32_t(int64_t, uint8_t*, int32_t)>& readDisk) {
  int64_t n = first;
  while (n <= last) {
    if (pieces_.count(n)) {
      ++n;
      continue;
    }
    // A run of missing pieces is read in one go.
    int64_t end = n;
    while (end + 1 <= last && !pieces_.count(end + 1)) ++end;
    const int32_t length = static_cast<int32_t>((end - n + 1) * kPiece);
    scratch_.assign(static_cast<size_t>(length), 0);
    const int32_t got = std::max(0, readDisk(n * kPiece, scratch_.data(), length));
    std::fill(scratch_.begin() + std::min(got, length), scratch_.end(), uint8_t{0});
    for (int64_t p = n; p <= end; ++p)
      std::memcpy(pieces_[p].bytes, scratch_.data() + (p - n) * kPiece, kPiece);
    n = end + 1;
  }
}

bool GSobjIndexBlockCache::Read(int64_t address, void* buffer, int32_t length,
                                const std::function<int32_t(int64_t, uint8_t*, int32_t)>& readDisk) {
  if (length <= 0) return length == 0;
  const int64_t first = address / kPiece, last = (address + length - 1) / kPiece;
  Fill(first, last, readDisk);
  auto* out = static_cast<uint8_t*>(buffer);
  for (int64_t p = first; p <= last; ++p) {
    const int64_t from = std::max(address, p * kPiece), to = std::min(address + length, (p + 1) * kPiece);
    std::memcpy(out + (from - address), pieces_[p].bytes + (from - p * kPiece), static_cast<size_t>(to - from));
  }
  return address + length <= fileSize_;
}

void GSobjIndexBlockCache::Write(int64_t address, const void* buffer, int32_t length,
                                 const std::function<int32_t(int64_t, uint8_t*, int32_t)>& readDisk) {
  if (length <= 0) return;
  const int64_t first = address / kPiece, last = (address + length - 1) / kPiece;
  // Pieces the write covers only in part keep the rest of their bytes.
  if (address % kPiece != 0) Fill(first, first, readDisk);
  if ((address + length) % kPiece != 0) Fill(last, last, readDisk);
  const auto* in = static_cast<const uint8_t*>(buffer);
  for (int64_t p = first; p <= last; ++p) {
    Piece& piece = pieces_[p];
    const int64_t from = std::max(address, p * kPiece), to = std::min(address + length, (p + 1) * kPiece);
    std::memcpy(piece.bytes + (from - p * kPiece), in + (from - address), static_cast<size_t>(to - from));
    if (!piece.dirty) ++dirty_;
    piece.dirty = true;
  }
  fileSize_ = std::max(fileSize_, address + length);
}

void GSobjIndexBlockCache::WriteOut(const std::function<void(int64_t, const uint8_t*, int32_t)>& writeDisk) {
  if (dirty_ == 0) return;
  std::vector<int64_t> numbers;
  numbers.reserve(dirty_);
  for (const auto& [n, piece] : pieces_)
    if (piece.dirty) numbers.push_back(n);
  std::sort(numbers.begin(), numbers.end());
  size_t end = numbers.size();
  while (end > 0) {
    size_t begin = end - 1;
    while (begin > 0 && numbers[begin - 1] + 1 == numbers[begin]) --begin;
    scratch_.resize((end - begin) * kPiece);
    for (size_t i = begin; i < end; ++i)
      std::memcpy(scratch_.data() + (i - begin) * kPiece, pieces_[numbers[i]].bytes, kPiece);
    // The bytes past the file's end are not part of it.
    const int64_t at = numbers[begin] * kPiece;
    const int64_t length = std::min<int64_t>(static_cast<int64_t>(scratch_.size()), fileSize_ - at);
    if (length > 0) writeDisk(at, scratch_.data(), static_cast<int32_t>(length));
    for (size_t i = begin; i < end; ++i) {
      pieces_[numbers[i]].dirty = false;
      --dirty_;
    }
    end = begin;
  }
}

void GSobjIndexBlockCache::Trim() {
  for (auto it = pieces_.begin(); it != pieces_.end();) {
    if (it->second.dirty)
      ++it;
    else
      it = pieces_.erase(it);
  }
}
