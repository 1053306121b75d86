// The derived number-and-thread copy of a board's index: reading it,
// checking its stamp, and making it anew from the index.
#include "store/index_pairs.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "store/message.h"
#include "store/records.h"

namespace {

constexpr char kName[] = "threads.bin";
constexpr char kTmpName[] = "threads.bin.tmp";
constexpr size_t kChunk = 64 * 1024 / sizeof(INDEX_DATA) * sizeof(INDEX_DATA);

struct Header {
  char magic[4];
  uint32_t count;
  int64_t size;
  int64_t mtime;
  uint64_t ino;
  uint32_t zero[2];
};
static_assert(sizeof(Header) == 40);
static_assert(sizeof(IndexPair) == 8);

int64_t mtime_ns(const struct stat& st) {
  return static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

bool same_file(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
         mtime_ns(a) == mtime_ns(b);
}

// The copy, when it is there and stamped with the index as `st` has it.
bool read_copy(const std::string& path, const struct stat& st, std::vector<IndexPair>& out) {
  const size_t count = static_cast<size_t>(st.st_size) / sizeof(INDEX_DATA);
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return false;
  Header h;
  if (pread_some(fd.get(), &h, sizeof h, 0) != static_cast<long>(sizeof h)) return false;
  if (std::memcmp(h.magic, "MTP1", 4) != 0 || h.count != count || h.size != st.st_size ||
      h.mtime != mtime_ns(st) || h.ino != static_cast<uint64_t>(st.st_ino))
    return false;
  out.resize(count);
  const long len = static_cast<long>(count * sizeof(IndexPair));
  if (pread_some(fd.get(), out.data(), static_cast<size_t>(len), sizeof h) != len) return false;
  char more;
  return pread_some(fd.get(), &more, 1, static_cast<long>(sizeof h) + len) == 0;
}

// The pairs of the whole records of the open index, read a chunk at a time.
bool read_index(int fd, std::vector<IndexPair>& out) {
  out.clear();
  std::vector<INDEX_DATA> chunk(kChunk / sizeof(INDEX_DATA));
  for (long off = 0;;) {
    const long got = pread_some(fd, chunk.data(), kChunk, off);
    if (got < 0) return false;
    const size_t whole = static_cast<size_t>(got) / sizeof(INDEX_DATA);
    for (size_t i = 0; i < whole; i++) out.push_back({chunk[i].MSG_NO, chunk[i].THREAD_NO});
    if (static_cast<size_t>(got) < kChunk) return true;
    off += got;
  }
}

}  // namespace

bool load_index_pairs(int32_t folder, int fd, const struct stat& st, std::vector<IndexPair>& out) {
  const std::string path = msg_dir_path(folder) + "/" + kName;
  if (read_copy(path, st, out)) return true;
  // Made under the board's lock, where no store step changes the index,
  // and kept only when the open index is still the one at its path.
  const std::string index = msg_index_path(folder);
  DirLock lock(index.c_str());
  struct stat now, at_path;
  if (fstat(fd, &now) != 0 || !read_index(fd, out)) return false;
  if (!same_file(st, now) || out.size() != static_cast<size_t>(now.st_size) / sizeof(INDEX_DATA))
    return true;  // changed since the page opened it: used once, not kept
  if (stat(index.c_str(), &at_path) != 0 || !same_file(now, at_path)) return true;
  Header h{};
  std::memcpy(h.magic, "MTP1", 4);
  h.count = static_cast<uint32_t>(out.size());
  h.size = now.st_size;
  h.mtime = mtime_ns(now);
  h.ino = static_cast<uint64_t>(now.st_ino);
  std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
  bytes.append(reinterpret_cast<const char*>(out.data()), out.size() * sizeof(IndexPair));
  replace_file(path.c_str(), (msg_dir_path(folder) + "/" + kTmpName).c_str(), bytes);
  return true;
}

bool is_index_pairs_name(const char* name) {
  return std::strcmp(name, kName) == 0 || std::strcmp(name, kTmpName) == 0;
}
