// POSIX implementation of the file layer (see file.h).
#include "platform/file.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <utility>

#include "platform/hot.h"

namespace platform {

File::~File() { Close(); }

File::File(File&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), writable_(std::exchange(other.writable_, false)) {}

File& File::operator=(File&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    writable_ = std::exchange(other.writable_, false);
  }
  return *this;
}

bool File::Open(const std::string& path, bool readWrite, bool shared) {
  Close();
  int fd = ::open(path.c_str(), (readWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC);
  if (fd < 0) return false;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || S_ISDIR(st.st_mode)) {
    ::close(fd);
    return false;
  }
  if (::flock(fd, (shared ? LOCK_SH : LOCK_EX) | LOCK_NB) != 0) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  writable_ = readWrite;
  return true;
}

bool File::Create(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

bool File::CreateNew(const std::string& path) {
  int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  ::close(fd);
  return true;
}

void File::Close() {
  if (fd_ >= 0) {
    ::close(fd_);  // also drops the handle's flock and OFD locks
    fd_ = -1;
    writable_ = false;
  }
}

DERIDAR_ROW_PATH int64_t File::ReadAt(int64_t offset, void* buffer, size_t length) const {
  if (fd_ < 0 || offset < 0) return -1;
  auto* out = static_cast<char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return -1;
    }
    if (n == 0) break;
    done += static_cast<size_t>(n);
  }
  return static_cast<int64_t>(done);
}

bool File::WriteAt(int64_t offset, const void* buffer, size_t length) {
  if (fd_ < 0 || offset < 0) return false;
  const auto* in = static_cast<const char*>(buffer);
  size_t done = 0;
  while (done < length) {
    ssize_t n = ::pwrite(fd_, in + done, length - done, static_cast<off_t>(offset + done));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

int64_t File::Size() const {
  struct stat st {};
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return -1;
  return static_cast<int64_t>(st.st_size);
}

bool File::ChangeStamp(int64_t& stamp, int64_t* size) const {
  // Older than this, a modification time is final: file systems count
  // modification times in ticks of at most two seconds.
  constexpr int64_t kSettledNanos = 3'000'000'000;
  struct stat st {};
  timespec now{};
  if (size) *size = -1;
  if (fd_ < 0 || ::fstat(fd_, &st) != 0) return false;
  if (size) *size = static_cast<int64_t>(st.st_size);
  if (::clock_gettime(CLOCK_REALTIME, &now) != 0) return false;
  const int64_t modified = int64_t{st.st_mtim.tv_sec} * 1'000'000'000 + st.st_mtim.tv_nsec;
  const int64_t current = int64_t{now.tv_sec} * 1'000'000'000 + now.tv_nsec;
  if (current - modified < kSettledNanos) return false;
  stamp = modified ^ (static_cast<int64_t>(st.st_size) << 20) ^ static_cast<int64_t>(st.st_ino);
  return true;
}

bool File::Flush() { return fd_ >= 0 && ::fsync(fd_) == 0; }

bool File::Truncate(int64_t size) {
  return fd_ >= 0 && size >= 0 && ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

namespace {

bool RangeLock(int fd, short type, int64_t offset, int64_t length) {
  // A length of 0 would mean "to the end of the file and beyond": never
  // what a caller asking for a region means.
  if (fd < 0 || offset < 0 || length <= 0) return false;
  struct flock fl {};
  fl.l_type = type;
  fl.l_whence = SEEK_SET;
  fl.l_start = static_cast<off_t>(offset);
  fl.l_len = static_cast<off_t>(length);
  fl.l_pid = 0;  // required for OFD locks
  int rc;
  do {
    rc = ::fcntl(fd, F_OFD_SETLK, &fl);
  } while (rc != 0 && errno == EINTR);
  return rc == 0;
}

}  // namespace

bool File::LockRange(int64_t offset, int64_t length) {
  return RangeLock(fd_, writable_ ? F_WRLCK : F_RDLCK, offset, length);
}

bool File::UnlockRange(int64_t offset, int64_t length) {
  return RangeLock(fd_, F_UNLCK, offset, length);
}

namespace {

bool IsFile(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0 && !S_ISDIR(st.st_mode);
}

bool EqualIgnoringAsciiCase(const char* a, const std::string& b) {
  size_t i = 0;
  for (; a[i] != '\0' && i < b.size(); ++i) {
    unsigned char x = static_cast<unsigned char>(a[i]);
    unsigned char y = static_cast<unsigned char>(b[i]);
    if (x >= 'a' && x <= 'z') x = static_cast<unsigned char>(x - 'a' + 'A');
    if (y >= 'a' && y <= 'z') y = static_cast<unsigned char>(y - 'a' + 'A');
    if (x != y) return false;
  }
  return a[i] == '\0' && i == b.size();
}

}  // namespace

std::string ExistingFileName(const std::string& path) {
  if (path.empty() || IsFile(path)) return path;
  const size_t slash = path.find_last_of('/');
  const std::string folder = slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
  const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
  if (name.empty()) return path;
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return path;
  std::string found;
  int matches = 0;
  while (const dirent* entry = ::readdir(dir)) {
    if (!EqualIgnoringAsciiCase(entry->d_name, name)) continue;
    std::string candidate = (slash == std::string::npos ? std::string() : folder) + entry->d_name;
    if (!IsFile(candidate)) continue;
    found = std::move(candidate);
    ++matches;
  }
  ::closedir(dir);
  return matches == 1 ? found : path;
}

bool FileExists(const std::string& path) { return IsFile(ExistingFileName(path)); }

std::string FullPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(path, ec);
  if (ec) return path;
  std::string full = abs.lexically_normal().string();
  if (full.size() > 1 && full.back() == '/') full.pop_back();
  return full;
}

bool RenameFile(const std::string& from, const std::string& to) {
  return ::rename(from.c_str(), to.c_str()) == 0;
}

bool RemoveFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

}  // namespace platform
