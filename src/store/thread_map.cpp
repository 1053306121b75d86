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

// The pieces of the map that hold its header and the entries of `msgs`.
std::vector<FilePiece> map_pieces(const std::vector<int32_t>& msgs) {
  std::vector<FilePiece> pieces = {{0, sizeof(Header)}};
  for (int32_t m : msgs)
    pieces.push_back({static_cast<long>(sizeof(Header) + static_cast<size_t>(std::max(m, 0)) * sizeof(ThreadSpan)),
                      sizeof(ThreadSpan)});
  return pieces;
}

// The entries of `msgs` from the map's pieces `got`, when the map is
// current for `index` and not odd; numbers beyond it have none.
bool map_entries(const std::vector<std::string_view>& got, const FileStamp& index, const std::vector<int32_t>& msgs,
                 std::vector<ThreadSpan>& out) {
  Header h{};
  if (got.size() != msgs.size() + 1 || got[0].size() != sizeof h) return false;
  std::memcpy(&h, got[0].data(), sizeof h);
  if (!h.copy.is("MTM1", index) || h.odd != 0 || h.copy.count != static_cast<uint64_t>(index.size) / sizeof(INDEX_DATA))
    return false;
  out.assign(msgs.size(), ThreadSpan());
  for (size_t i = 0; i < msgs.size(); i++)
    if (msgs[i] >= 0 && static_cast<uint32_t>(msgs[i]) < h.top && got[i + 1].size() == sizeof(ThreadSpan))
      std::memcpy(&out[i], got[i + 1].data(), sizeof(ThreadSpan));
  return true;
}

// The entries of `msgs` from the boards' maps, read in one batch, each from
// one open file (a map is only ever replaced whole): whether each was
// current.
std::vector<bool> read_maps(const std::vector<int32_t>& folders, const std::vector<FileStamp>& index,
                            const std::vector<std::vector<int32_t>>& msgs, std::vector<std::vector<ThreadSpan>>& out) {
  std::vector<std::string> names;
  std::vector<std::vector<FilePiece>> pieces;
  for (size_t i = 0; i < folders.size(); i++) {
    names.push_back(std::to_string(folders[i]) + "/" + kName);
    pieces.push_back(map_pieces(msgs[i]));
  }
  std::vector<bool> ok(folders.size(), false);
  out.resize(folders.size());
  read_pieces(msg_data_dir(), names, pieces, nullptr, [&](size_t i, const std::vector<std::string_view>& got, int err) {
    ok[i] = !err && map_entries(got, index[i], msgs[i], out[i]);
  });
  return ok;
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

namespace {

// Makes the board's map anew and reads the entries from it.
bool made_anew(int32_t folder, const FileStamp& index, const std::vector<int32_t>& msgs,
               std::vector<ThreadSpan>& out) {
  const std::string path = msg_dir_path(folder) + "/" + kName;
  // Made under the board's lock, where no store step changes the index,
  // and only while the index at its path is still the one the page opened.
  const std::string index_path = msg_index_path(folder);
  DirLock lock(index_path.c_str());
  if (!(stamp_of(index_path.c_str()) == index)) return false;
  std::vector<INDEX_DATA> recs;
  if (!load_records(index_path.c_str(), recs)) return false;
  bool odd = false;
  const std::string map = make_map(recs, index, odd);
  replace_file(path.c_str(), (msg_dir_path(folder) + "/" + kTmpName).c_str(), map);
  if (odd) return false;
  // The entries from the map as made, piece by piece as a reader gets them.
  std::vector<std::string_view> got;
  for (const FilePiece& p : map_pieces(msgs))
    got.push_back(std::string_view(map).substr(std::min(map.size(), static_cast<size_t>(p.off)), p.len));
  return map_entries(got, index, msgs, out);
}

}  // namespace

bool thread_spans(int32_t folder, const struct stat& st, const std::vector<int32_t>& msgs,
                  std::vector<ThreadSpan>& out) {
  std::vector<std::vector<ThreadSpan>> spans;
  std::vector<bool> ok = thread_spans_many({folder}, {st}, {msgs}, spans);
  out = std::move(spans[0]);
  return ok[0];
}

std::vector<bool> thread_spans_many(const std::vector<int32_t>& folders, const std::vector<struct stat>& st,
                                    const std::vector<std::vector<int32_t>>& msgs,
                                    std::vector<std::vector<ThreadSpan>>& out) {
  std::vector<FileStamp> index;
  for (const struct stat& s : st) index.push_back(stamp_of(s));
  std::vector<bool> ok = read_maps(folders, index, msgs, out);
  for (size_t i = 0; i < folders.size(); i++)
    if (!ok[i]) ok[i] = made_anew(folders[i], index[i], msgs[i], out[i]);
  return ok;
}

bool is_thread_map_name(const char* name) {
  return std::strcmp(name, kName) == 0 || std::strcmp(name, kTmpName) == 0;
}
