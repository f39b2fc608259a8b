// The block cache of an index file while this process holds the file's index
// lock: nobody else may change the file then, so the blocks read and written
// stay in memory and the written ones go to the file together when the lock
// is given up (or when the cache grows past its bound). A run of appends
// under one lock thus costs a handful of writes instead of several per
// record.
//
// The cache works in 512-byte pieces at multiples of 512 and holds them
// deciphered; the index file enciphers on the way out. It knows nothing of
// the disk: the index file hands it what it read and takes from it what is to
// be written.
#pragma once

#include <cstdint>
#include <functional>
#include <unordered_map>
#include <vector>

class GSobjIndexBlockCache {
 public:
  static constexpr int32_t kPiece = 512;
  // Pieces held before the written ones are sent out and the rest dropped:
  // 32 MB.
  static constexpr size_t kMostPieces = 65536;

  bool Active() const { return active_; }
  // Starts caching a file of `fileSize` bytes; stops, dropping every piece.
  void Start(int64_t fileSize);
  void Stop();

  // The file's size including pieces written past its end on disk.
  int64_t FileSize() const { return fileSize_; }
  // The file was cut to `size` bytes: pieces past it are dropped.
  void Truncated(int64_t size);

  // Reads `length` bytes at `address` (any alignment). Missing pieces come
  // through `readDisk(address, buffer, length)`, which reads the covering
  // whole pieces from the disk (deciphered) and returns the count it got.
  // True when every byte lies inside the file.
  bool Read(int64_t address, void* buffer, int32_t length,
            const std::function<int32_t(int64_t, uint8_t*, int32_t)>& readDisk);
  // Takes `length` bytes at `address` as written; a partly covered piece is
  // completed from the file first.
  void Write(int64_t address, const void* buffer, int32_t length,
             const std::function<int32_t(int64_t, uint8_t*, int32_t)>& readDisk);

  // Whether pieces wait to be written; and the wait is over: `writeDisk`
  // gets each run of consecutive written pieces, the runs at the highest
  // addresses first, so that a file's head (where the change counters live)
  // is written after the nodes it announces.
  bool HasWrites() const { return dirty_ > 0; }
  void WriteOut(const std::function<void(int64_t, const uint8_t*, int32_t)>& writeDisk);
  // True when the cache has grown past its bound (write out, then Trim).
  bool Full() const { return pieces_.size() > kMostPieces; }
  // Drops every piece not waiting to be written.
  void Trim();

 private:
  struct Piece {
    uint8_t bytes[kPiece];
    bool dirty = false;
  };
  // Makes sure every piece of [first, last] is held.
  void Fill(int64_t first, int64_t last, const std::function<int32_t(int64_t, uint8_t*, int32_t)>& readDisk);

  bool active_ = false;
  int64_t fileSize_ = 0;
  size_t dirty_ = 0;
  std::unordered_map<int64_t, Piece> pieces_;  // by piece number
  std::vector<uint8_t> scratch_;
};
