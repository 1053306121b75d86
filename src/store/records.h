// Shared mechanics of the record files: exclusive locks for read-modify-
// write, whole-file reads, atomic replacement, and the two record
// conventions (fixed-size binary records and comma-separated text lines).
//
// Every change to a store runs under DirLock on the file's path. The lock is
// an flock on the directory holding the file, so it survives the rename that
// replaces the file and adds nothing to the data layout. Locks are
// re-entrant within a process: an operation that calls another operation on
// the same directory does not deadlock. Readers take no lock: rewrites go to
// a temporary file that is renamed over the old one, so a reader sees either
// the old or the new file, never a missing or half-written one.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "store/fileio.h"

class DirLock {
 public:
  explicit DirLock(const char* path);
  ~DirLock();
  DirLock(const DirLock&) = delete;
  DirLock& operator=(const DirLock&) = delete;
  bool held() const { return key_.size() > 0; }

 private:
  std::string key_;
};

// Owns a descriptor and closes it.
class Fd {
 public:
  explicit Fd(int fd = -1) : fd_(fd) {}
  ~Fd() { reset(); }
  Fd(Fd&& o) noexcept : fd_(o.fd_) { o.fd_ = -1; }
  Fd& operator=(Fd&& o) noexcept { reset(o.fd_); o.fd_ = -1; return *this; }
  Fd(const Fd&) = delete;
  Fd& operator=(const Fd&) = delete;
  int get() const { return fd_; }
  bool ok() const { return fd_ >= 0; }
  void reset(int fd = -1);

 private:
  int fd_;
};

// Reads a whole open file from offset 0 in as few read calls as possible.
bool read_fd(int fd, std::string& out);
// Reads a whole file without creating it; false when it cannot be opened.
bool read_file(const char* path, std::string& out);
// Writes all bytes (retrying short writes); false on error.
bool write_all(int fd, const void* data, size_t len);
bool pwrite_all(int fd, const void* data, size_t len, long offset);

// Replaces `path` by `bytes`: removes any leftover `tmp`, writes it
// completely, then renames it over `path`. The old file stays in place until
// the rename, so a failure at any step leaves it untouched. 0 or -1.
int replace_file(const char* path, const char* tmp, std::string_view bytes);
// The same with the new content written to the temporary file's descriptor
// by `write` (false: failed, nothing is replaced).
int replace_file_with(const char* path, const char* tmp, const std::function<bool(int)>& write);

// Appends with one write to a descriptor opened with O_APPEND, so that
// simultaneous appends from several processes never overwrite each other.
// Creates the file (0600) when it is missing. 0 or -1.
int append_file(const char* path, std::string_view bytes);

// The path of the file `name` in the data directory.
std::string data_file(const char* name);

// mkdir with mode 0700; an existing directory is fine.
void make_dir(const char* path);

// ---- Fixed-size records ------------------------------------------------

// All whole records of a file opened with b_open (so a missing file is
// created empty, where its directory exists). A trailing partial record is
// ignored. False when the file cannot be opened.
template <class R>
bool load_records(const char* path, std::vector<R>& out);
// The same for bytes already read.
template <class R>
void split_records(std::string_view bytes, std::vector<R>& out) {
  size_t n = bytes.size() / sizeof(R);
  out.resize(n);
  if (n) std::memcpy(static_cast<void*>(out.data()), bytes.data(), n * sizeof(R));
}
template <class R>
std::string_view record_bytes(const std::vector<R>& v) {
  return std::string_view(reinterpret_cast<const char*>(v.data()), v.size() * sizeof(R));
}
template <class R>
int save_records(const char* path, const char* tmp, const std::vector<R>& v) {
  return replace_file(path, tmp, record_bytes(v));
}

bool load_bytes_b_open(const char* path, std::string& out);
// The same, keeping the descriptor open in `fd` for writes in place.
bool load_bytes_b_open(const char* path, std::string& out, Fd& fd);
template <class R>
bool load_records(const char* path, std::vector<R>& out) {
  std::string bytes;
  if (!load_bytes_b_open(path, bytes)) return false;
  split_records(bytes, out);
  return true;
}

// pread, repeated when a signal interrupts it: the bytes read, or -1.
long pread_some(int fd, void* buf, size_t len, long off);

// What tells one state of a file from another, for derived data made from
// it: its size, modification time (ns) and inode. A size of -1: no file.
struct FileStamp {
  int64_t size = -1, mtime = 0;
  uint64_t ino = 0;
  bool operator==(const FileStamp&) const = default;
};
FileStamp stamp_of(const struct stat& st);
FileStamp stamp_of(const char* path);

// The 40-byte header of a derived copy of one record file: a magic, the
// number of records copied, and the record file's stamp as it was when the
// copy was made; then 8 bytes zero. Integers little-endian.
struct CopyHeader {
  char magic[4];
  uint32_t count;
  int64_t size;
  int64_t mtime;
  uint64_t ino;
  uint32_t zero[2];

  static CopyHeader make(const char (&m)[5], size_t n, const FileStamp& s) {
    CopyHeader h{};
    std::memcpy(h.magic, m, 4);
    h.count = static_cast<uint32_t>(n);
    h.size = s.size, h.mtime = s.mtime, h.ino = s.ino;
    return h;
  }
  // The header of a copy made with that magic of the file as `s` has it.
  bool is(const char (&m)[5], const FileStamp& s) const {
    return std::memcmp(magic, m, 4) == 0 && FileStamp{size, mtime, ino} == s;
  }
};
static_assert(sizeof(CopyHeader) == 40);

// Calls `fn` on each whole record of a record file opened with b_open (so a
// missing file is created empty where its directory exists), reading a
// bounded chunk at a time so that a large file is never held whole; stops
// when `fn` returns true. False when the file cannot be opened or read.
template <class R, class Fn>
bool scan_records(const char* path, Fn fn) {
  Fd fd(b_open(path));
  if (!fd.ok()) return false;
  // 16 KiB at a time over the first 256 KiB, then 64 KiB at a time, in a
  // buffer from the heap (pages that print much keep their heap on huge
  // pages). Each page of it the kernel first writes into costs a page
  // fault, dearer than a read: a file of a few hundred records, as the key
  // file of a site of some hundred users, touches four pages only.
  constexpr size_t kChunk = sizeof(R) < 32768 ? 65536 / sizeof(R) : 1;
  constexpr size_t kFirst = sizeof(R) < 8192 ? 16384 / sizeof(R) : 1;
  constexpr long kSmallUpTo = 256 * 1024;
  const std::unique_ptr<R[]> chunk(new R[kChunk]);
  R* buf = chunk.get();
  long off = 0;
  for (size_t want = kFirst * sizeof(R);; want = (off < kSmallUpTo ? kFirst : kChunk) * sizeof(R)) {
    long n = pread_some(fd.get(), buf, want, off);
    if (n < 0) return false;
    size_t whole = static_cast<size_t>(n) / sizeof(R);
    for (size_t i = 0; i < whole; i++)
      if (fn(buf[i])) return true;
    // A regular file returns fewer bytes than asked only at its end; a
    // partial record there is no record.
    if (static_cast<size_t>(n) < want) return true;
    off += n;
  }
}

// Drops every record `drop` selects, rewriting the file through `tmp` when
// that removed something or a partial record sits at the end (it goes with
// the rewrite). With `always`, the file is rewritten even when nothing
// changed. The number of records removed, or -1 when the file cannot be
// opened or replaced.
template <class R, class Drop>
int remove_records(const char* path, const char* tmp, Drop drop, bool always = false) {
  DirLock lock(path);
  std::string bytes;
  if (!load_bytes_b_open(path, bytes)) return -1;
  std::vector<R> recs;
  split_records(bytes, recs);
  size_t before = recs.size();
  std::erase_if(recs, drop);
  int removed = static_cast<int>(before - recs.size());
  if (!always && removed == 0 && bytes.size() % sizeof(R) == 0) return 0;
  if (save_records(path, tmp, recs) != 0) return -1;
  return removed;
}

// Writes `rec` over the first record `same` selects, or after the last
// whole record (over any partial tail) when none does. 0, or -1 when the
// file cannot be opened or written. `replaced`, when given, tells whether a
// record was written over.
template <class R, class Same>
int upsert_record(const char* path, const R& rec, Same same, bool* replaced = nullptr) {
  if (replaced) *replaced = false;
  DirLock lock(path);
  Fd fd;
  std::string bytes;
  if (!load_bytes_b_open(path, bytes, fd)) return -1;
  std::vector<R> recs;
  split_records(bytes, recs);
  size_t i = 0;
  while (i < recs.size() && !same(recs[i])) i++;
  if (replaced) *replaced = i < recs.size();
  return pwrite_all(fd.get(), &rec, sizeof rec, static_cast<long>(i * sizeof(R))) ? 0 : -1;
}

// Writes record `index` (from 0) of `path` in place, or appends it when
// index equals the number of whole records (the write then lands right after
// the last whole record, dropping a partial tail). 0 or -1.
int put_record(const char* path, size_t index, const void* rec, size_t size);

// ---- Text records ------------------------------------------------------

// Splits text into line pieces as a 1000-byte line buffer reads them: each
// piece ends after a line feed or after `max` bytes (999), whichever comes
// first. Every piece is handled as a line of its own.
std::vector<std::string_view> line_pieces(std::string_view text, size_t max = 999);

// Opens a text store as "r+" and, failing that, creates it empty ("w+"),
// then reads it whole. False when neither works. A file that exists but
// refuses writing is read all the same, unless the caller is about to
// rewrite it (`writing`): then false, so it is never replaced behind its
// permissions.
bool load_text_store(const char* path, std::string& out, bool writing = false);
