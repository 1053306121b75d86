// The derived attachment list with file sizes: reading it, checking its
// stamp, making it anew from the list and the files, and removing it.
#include "store/attach_sizes.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <string_view>

#include "cgi/sjis.h"
#include "store/message.h"
#include "store/number_set.h"
#include "store/records.h"

namespace {

constexpr char kName[] = "attsize.bin";
constexpr char kTmpName[] = "attsize.bin.tmp";

using Header = CopyHeader;
struct Entry {
  int32_t msg;
  int32_t slot;
  int32_t size;
  uint32_t name_len;
};
static_assert(sizeof(Entry) == 16);

std::string copy_path(int32_t folder) { return msg_dir_path(folder) + "/" + kName; }

// The copy's bytes, when they are whole and stamped with the list as
// `list` has it.
bool parse_copy(std::string_view bytes, const FileStamp& list, std::vector<AttachedFile>& out,
                const std::vector<int32_t>* only = nullptr) {
  if (bytes.size() < sizeof(Header)) return false;
  Header h;
  std::memcpy(&h, bytes.data(), sizeof h);
  if (!h.is("MAS1", list) || h.count != static_cast<uint64_t>(list.size) / sizeof(ADD_FILE) ||
      (bytes.size() - sizeof h) / sizeof(Entry) < h.count)
    return false;
  const NumberSet wanted(only ? *only : std::vector<int32_t>{});
  const char* entries = bytes.data() + sizeof h;
  // Past the entries, the names stand one after another: their lengths
  // add up to the end of the copy, which is checked once at the end.
  size_t names = sizeof h + size_t{h.count} * sizeof(Entry);
  for (size_t i = 0; i < h.count; i++) {
    const char* at = entries + i * sizeof(Entry);
    uint32_t len;
    std::memcpy(&len, at + offsetof(Entry, name_len), sizeof len);
    if (len > sizeof(ADD_FILE::FILE_NAME)) return false;
    int32_t msg;
    std::memcpy(&msg, at + offsetof(Entry, msg), sizeof msg);
    if (!only || wanted.has(msg)) {
      if (names > bytes.size() || bytes.size() - names < len) return false;
      Entry e;
      std::memcpy(&e, at, sizeof e);
      out.push_back({e.msg, e.slot, e.size, std::string(bytes.substr(names, len))});
    }
    names += len;
  }
  return names == bytes.size();
}

// The copy, when it is there, whole and stamped so.
bool read_copy(const std::string& path, const FileStamp& list, std::vector<AttachedFile>& out) {
  std::string bytes;
  return read_file(path.c_str(), bytes) && parse_copy(bytes, list, out);
}

// Made from the list and the files, under the board's lock, and written
// (unless `write` is false).
bool make_copy(int32_t folder, std::vector<AttachedFile>& out, bool write = true) {
  const std::string list_path = msg_add_list_path(folder);
  Fd fd(open(list_path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return errno == ENOENT;
  struct stat st;
  std::string bytes;
  if (fstat(fd.get(), &st) != 0 || !read_fd(fd.get(), bytes)) return false;
  std::vector<ADD_FILE> recs;
  split_records(bytes, recs);
  const Fd dir(open(msg_attach_board_path(folder).c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
  const Header h = Header::make("MAS1", recs.size(), stamp_of(st));
  std::string copy(reinterpret_cast<const char*>(&h), sizeof h);
  std::string names;
  for (const ADD_FILE& r : recs) {
    AttachedFile a{r.MSG_NO, r.ADD_NO, 0, std::string(field(r.FILE_NAME))};
    struct stat f;
    if (!a.name.empty() && dir.ok() &&
        fstatat(dir.get(), msg_attach_file_name(a.msg, a.slot, a.name.c_str()).c_str(), &f, 0) == 0)
      a.size = static_cast<int32_t>(f.st_size);
    const Entry e{a.msg, a.slot, a.size, static_cast<uint32_t>(a.name.size())};
    copy.append(reinterpret_cast<const char*>(&e), sizeof e);
    names += a.name;
    out.push_back(std::move(a));
  }
  copy += names;
  if (write) replace_file(copy_path(folder).c_str(), (msg_dir_path(folder) + "/" + kTmpName).c_str(), copy);
  return true;
}

}  // namespace

bool load_attached_files(int32_t folder, std::vector<AttachedFile>& out, const AttachCopy* ahead,
                         const std::vector<int32_t>* only) {
  out.clear();
  const std::string path = copy_path(folder);
  if (ahead) {
    if (ahead->list.size < 0) return true;
    if (ahead->read && parse_copy(ahead->bytes, ahead->list, out, only)) return true;
  } else {
    const FileStamp list = stamp_of(msg_add_list_path(folder).c_str());
    if (list.size < 0) return true;
    if (read_copy(path, list, out)) return true;
  }
  out.clear();
  DirLock lock(msg_index_path(folder).c_str());
  const FileStamp now = stamp_of(msg_add_list_path(folder).c_str());
  if (now.size < 0) return true;
  if (read_copy(path, now, out)) return true;
  out.clear();
  return make_copy(folder, out);
}

void drop_attached_sizes(int32_t folder) {
  DirLock lock(msg_index_path(folder).c_str());
  unlink(copy_path(folder).c_str());
}

bool verify_attached_sizes(int32_t folder) {
  DirLock lock(msg_index_path(folder).c_str());
  std::vector<AttachedFile> copy, now;
  if (!read_copy(copy_path(folder), stamp_of(msg_add_list_path(folder).c_str()), copy)) return true;
  if (!make_copy(folder, now, false)) return false;
  auto same = [](const AttachedFile& a, const AttachedFile& b) {
    return a.msg == b.msg && a.slot == b.slot && a.size == b.size && a.name == b.name;
  };
  return std::equal(copy.begin(), copy.end(), now.begin(), now.end(), same);
}

const char* attach_sizes_name() { return kName; }

bool is_attach_sizes_name(const char* name) {
  return std::strcmp(name, kName) == 0 || std::strcmp(name, kTmpName) == 0;
}
