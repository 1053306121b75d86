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

using Header = CopyHeader;
static_assert(sizeof(IndexPair) == 8);

// The copy, when it is there and stamped with the index as `index` has it.
bool read_copy(const std::string& path, const FileStamp& index, std::vector<IndexPair>& out) {
  const size_t count = static_cast<size_t>(index.size) / sizeof(INDEX_DATA);
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return false;
  Header h;
  if (pread_some(fd.get(), &h, sizeof h, 0) != static_cast<long>(sizeof h)) return false;
  if (!h.is("MTP1", index) || h.count != count)
    return false;
  // One pair more than the copy holds is asked for: a read that fills it
  // (or part of it) shows a copy longer than its header says.
  out.resize(count + 1);
  const long len = static_cast<long>(count * sizeof(IndexPair));
  if (pread_some(fd.get(), out.data(), static_cast<size_t>(len) + sizeof(IndexPair), sizeof h) != len)
    return false;
  out.pop_back();
  return true;
}

}  // namespace

bool load_index_pairs(int32_t folder, const struct stat& st, std::vector<IndexPair>& out) {
  const std::string path = msg_dir_path(folder) + "/" + kName;
  const FileStamp index = stamp_of(st);
  if (read_copy(path, index, out)) return true;
  // Made under the board's lock, where no store step changes the index,
  // and only while the index at its path is still the one the page opened.
  const std::string index_path = msg_index_path(folder);
  DirLock lock(index_path.c_str());
  if (!(stamp_of(index_path.c_str()) == index)) return false;
  out.clear();
  if (!scan_records<INDEX_DATA>(index_path.c_str(), [&](const INDEX_DATA& r) {
        out.push_back({r.MSG_NO, r.THREAD_NO});
        return false;
      }))
    return false;
  const Header h = Header::make("MTP1", out.size(), index);
  std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
  bytes.append(reinterpret_cast<const char*>(out.data()), out.size() * sizeof(IndexPair));
  replace_file(path.c_str(), (msg_dir_path(folder) + "/" + kTmpName).c_str(), bytes);
  return true;
}

bool is_index_pairs_name(const char* name) {
  return std::strcmp(name, kName) == 0 || std::strcmp(name, kTmpName) == 0;
}
