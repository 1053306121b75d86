// The derived thread map of a board's index: reading a few entries of it,
// checking its stamp, and making it anew from the index.
#include "store/thread_map.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "store/batch_read.h"
#include "store/message.h"
#include "store/records.h"

namespace {

constexpr char kName[] = "threads.bin";
constexpr char kTmpName[] = "threads.bin.tmp";
constexpr int32_t kTop = 1 << 24;  // numbers and threads from here on are odd

struct Header {
  CopyHeader copy;
  uint32_t top;
  uint32_t odd;
  uint32_t zero[2];
};
static_assert(sizeof(Header) == 56);
static_assert(sizeof(ThreadSpan) == 12);

// The entries of `msgs` from the map at `path`, when it is current for
// `index` and not odd; numbers beyond it have none.
bool read_map(const std::string& path, const FileStamp& index, const std::vector<int32_t>& msgs,
              std::vector<ThreadSpan>& out) {
  Fd fd(open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return false;
  // The header and the entries in one batch, from one open file (the map
  // is only ever replaced whole).
  std::vector<long> offsets = {0};
  std::vector<size_t> lens = {sizeof(Header)};
  for (int32_t m : msgs) {
    offsets.push_back(static_cast<long>(sizeof(Header) + static_cast<size_t>(std::max(m, 0)) * sizeof(ThreadSpan)));
    lens.push_back(sizeof(ThreadSpan));
  }
  Header h{};
  bool whole = true;
  out.assign(msgs.size(), ThreadSpan());
  read_ranges(fd.get(), offsets, lens, [&](size_t i, std::string_view bytes) {
    if (i == 0) {
      if (bytes.size() == sizeof h) std::memcpy(&h, bytes.data(), sizeof h);
      else whole = false;
    } else if (bytes.size() == sizeof(ThreadSpan)) {
      std::memcpy(&out[i - 1], bytes.data(), sizeof(ThreadSpan));
    }  // past the end: no such number
  });
  if (!whole || !h.copy.is("MTM1", index) || h.odd != 0 ||
      h.copy.count != static_cast<uint64_t>(index.size) / sizeof(INDEX_DATA))
    return false;
  for (size_t i = 0; i < msgs.size(); i++)
    if (msgs[i] < 0 || static_cast<uint32_t>(msgs[i]) >= h.top) out[i] = ThreadSpan();
  return true;
}

// The map of the index's records.
std::string make_map(const std::vector<INDEX_DATA>& recs, const FileStamp& index, bool& odd) {
  int32_t top = 0;
  odd = false;
  for (const INDEX_DATA& r : recs) {
    if (r.MSG_NO < 0 || r.MSG_NO >= kTop || r.THREAD_NO < 0 || r.THREAD_NO >= kTop) odd = true;
    else top = std::max(top, std::max(r.MSG_NO, r.THREAD_NO) + 1);
  }
  std::vector<ThreadSpan> entries(odd ? 0 : static_cast<size_t>(top));
  // Each thread's first and last position, then each number's entry.
  std::vector<uint32_t> from(entries.size(), UINT32_MAX), to(entries.size(), 0);
  for (size_t i = 0; !odd && i < recs.size(); i++) {
    const auto t = static_cast<size_t>(recs[i].THREAD_NO);
    from[t] = std::min(from[t], static_cast<uint32_t>(i));
    to[t] = static_cast<uint32_t>(i);
  }
  for (size_t i = 0; !odd && i < recs.size(); i++) {
    ThreadSpan& e = entries[static_cast<size_t>(recs[i].MSG_NO)];
    if (e.count != 0) {
      odd = true;  // a number twice
      break;
    }
    const auto t = static_cast<size_t>(recs[i].THREAD_NO);
    e = {recs[i].THREAD_NO, from[t], to[t] - from[t] + 1};
  }
  if (odd) entries.clear();
  Header h{CopyHeader::make("MTM1", recs.size(), index), static_cast<uint32_t>(entries.size()), odd ? 1u : 0u, {}};
  std::string bytes(reinterpret_cast<const char*>(&h), sizeof h);
  bytes.append(reinterpret_cast<const char*>(entries.data()), entries.size() * sizeof(ThreadSpan));
  return bytes;
}

}  // namespace

bool thread_spans(int32_t folder, const struct stat& st, const std::vector<int32_t>& msgs,
                  std::vector<ThreadSpan>& out) {
  const std::string path = msg_dir_path(folder) + "/" + kName;
  const FileStamp index = stamp_of(st);
  if (read_map(path, index, msgs, out)) return true;
  // Made under the board's lock, where no store step changes the index,
  // and only while the index at its path is still the one the page opened.
  const std::string index_path = msg_index_path(folder);
  DirLock lock(index_path.c_str());
  if (!(stamp_of(index_path.c_str()) == index)) return false;
  std::vector<INDEX_DATA> recs;
  if (!load_records(index_path.c_str(), recs)) return false;
  bool odd = false;
  replace_file(path.c_str(), (msg_dir_path(folder) + "/" + kTmpName).c_str(), make_map(recs, index, odd));
  return !odd && read_map(path, index, msgs, out);
}

bool is_thread_map_name(const char* name) {
  return std::strcmp(name, kName) == 0 || std::strcmp(name, kTmpName) == 0;
}
