// Locks, whole-file reads, atomic replacement and record splitting shared by
// every store.
#include "store/records.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <map>

#include "settings/sysinfo.h"
#include "store/fileio.h"

namespace {

struct HeldLock {
  int fd;
  int count;
};

// Locks held by this process, by directory identity (device and inode), so
// that two spellings of one directory share one lock.
std::map<std::string, HeldLock>& held_locks() {
  static std::map<std::string, HeldLock> m;
  return m;
}

std::string dir_of(const char* path) {
  std::string p(path);
  size_t slash = p.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return p.substr(0, slash);
}

}  // namespace

void Fd::reset(int fd) {
  if (fd_ >= 0) close(fd_);
  fd_ = fd;
}

DirLock::DirLock(const char* path) {
  std::string dir = dir_of(path);
  int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;  // nothing to protect: the store's own open will fail
  struct stat st;
  if (fstat(fd, &st) != 0) {
    close(fd);
    return;
  }
  std::string key = std::to_string(st.st_dev) + ":" + std::to_string(st.st_ino);
  auto& locks = held_locks();
  auto it = locks.find(key);
  if (it != locks.end()) {
    close(fd);
    it->second.count++;
    key_ = key;
    return;
  }
  while (flock(fd, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(fd);
      return;
    }
  }
  locks[key] = HeldLock{fd, 1};
  key_ = key;
}

DirLock::~DirLock() {
  if (key_.empty()) return;
  auto& locks = held_locks();
  auto it = locks.find(key_);
  if (it == locks.end()) return;
  if (--it->second.count == 0) {
    flock(it->second.fd, LOCK_UN);
    close(it->second.fd);
    locks.erase(it);
  }
}

FileStamp stamp_of(const struct stat& st) {
  return {st.st_size, static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
          static_cast<uint64_t>(st.st_ino)};
}

FileStamp stamp_of(const char* path) {
  struct stat st;
  return stat(path, &st) == 0 ? stamp_of(st) : FileStamp{};
}

long pread_some(int fd, void* buf, size_t len, long off) {
  for (;;) {
    ssize_t n = pread(fd, buf, len, off);
    if (n >= 0 || errno != EINTR) return n;
  }
}

bool read_fd(int fd, std::string& out) {
  // A regular file returns fewer bytes than asked only at its end, so a
  // short read ends the loop: a file read with one byte of room to spare
  // costs one read call. It is read straight into `out`.
  out.clear();
  struct stat st;
  // A read that fills its room (a file grown meanwhile, or one that shows
  // no size, as in /proc) goes on in larger steps.
  size_t want = 4096;
  if (fstat(fd, &st) == 0 && st.st_size >= 0) want = static_cast<size_t>(st.st_size) + 1;
  size_t got = 0;
  for (;;) {
    out.resize(got + want);
    ssize_t n = pread(fd, out.data() + got, want, static_cast<off_t>(got));
    if (n < 0) {
      if (errno == EINTR) continue;
      out.resize(got);
      return false;
    }
    got += static_cast<size_t>(n);
    if (static_cast<size_t>(n) < want) break;
    want = 65536;
  }
  out.resize(got);
  return true;
}

bool read_file(const char* path, std::string& out) {
  Fd fd(open(path, O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) {
    out.clear();
    return false;
  }
  return read_fd(fd.get(), out);
}

bool load_bytes_b_open(const char* path, std::string& out) {
  Fd fd;
  return load_bytes_b_open(path, out, fd);
}

bool load_bytes_b_open(const char* path, std::string& out, Fd& fd) {
  fd.reset(b_open(path));
  if (!fd.ok()) {
    out.clear();
    return false;
  }
  return read_fd(fd.get(), out);
}

bool write_all(int fd, const void* data, size_t len) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = write(fd, p, len);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

bool pwrite_all(int fd, const void* data, size_t len, long offset) {
  const char* p = static_cast<const char*>(data);
  while (len > 0) {
    ssize_t n = pwrite(fd, p, len, offset);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += n;
    offset += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

int replace_file(const char* path, const char* tmp, std::string_view bytes) {
  return replace_file_with(path, tmp,
                           [bytes](int fd) { return write_all(fd, bytes.data(), bytes.size()); });
}

int replace_file_with(const char* path, const char* tmp, const std::function<bool(int)>& write) {
  unlink(tmp);
  Fd fd(open(tmp, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (!fd.ok()) return -1;
  if (!write(fd.get())) {
    fd.reset();
    unlink(tmp);
    return -1;
  }
  // Keep the permissions of the file being replaced.
  struct stat st;
  if (stat(path, &st) == 0) fchmod(fd.get(), st.st_mode & 07777);
  fd.reset();
  if (rename(tmp, path) != 0) {
    unlink(tmp);
    return -1;
  }
  return 0;
}

int append_file(const char* path, std::string_view bytes) {
  Fd fd(open(path, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600));
  if (!fd.ok()) return -1;
  ssize_t n = write(fd.get(), bytes.data(), bytes.size());
  return n == static_cast<ssize_t>(bytes.size()) ? 0 : -1;
}

std::string data_file(const char* name) { return std::string(SYSINFO.DATA_FILE_PATH) + name; }

void make_dir(const char* path) { mkdir(path, 0700); }

int put_record(const char* path, size_t index, const void* rec, size_t size) {
  Fd fd(b_open(path));
  if (!fd.ok()) return -1;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return -1;
  size_t count = static_cast<size_t>(st.st_size) / size;
  if (index > count) return -1;
  long off = static_cast<long>(index * size);
  // An append lands right after the last whole record, over any partial
  // tail, so records never end up misaligned.
  return pwrite_all(fd.get(), rec, size, off) ? 0 : -1;
}

std::vector<std::string_view> line_pieces(std::string_view text, size_t max) {
  std::vector<std::string_view> out;
  size_t pos = 0;
  while (pos < text.size()) {
    size_t limit = std::min(text.size(), pos + max);
    size_t nl = text.find('\n', pos);
    size_t end = (nl != std::string_view::npos && nl < limit) ? nl + 1 : limit;
    out.push_back(text.substr(pos, end - pos));
    pos = end;
  }
  return out;
}

bool load_text_store(const char* path, std::string& out, bool writing) {
  out.clear();
  Fd fd(open(path, O_RDWR | O_CLOEXEC));
  if (!fd.ok()) {
    // "r+" failed: create it empty, as "w+" would (an existing file that
    // merely refuses writing is left alone).
    if (access(path, F_OK) == 0) return !writing && read_file(path, out);
    fd.reset(open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0666));
    if (!fd.ok()) return false;
    return true;
  }
  return read_fd(fd.get(), out);
}
