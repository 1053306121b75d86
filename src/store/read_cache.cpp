// Derived read data of a board: building it from the index and the
// read-mark files, reading one user's part without a lock, keeping it
// current in the store steps, and checking it against a recount. The layout
// and the rules are described in read_cache.h.
#include "store/read_cache.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <bit>
#include <cerrno>
#include <cstddef>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <unordered_map>

#include "cgi/sjis.h"
#include "store/batch_read.h"
#include "store/message.h"
#include "store/records.h"

namespace {

constexpr char kName[] = "readcache.bin";
constexpr char kTmpName[] = "readcache.bin.tmp";
constexpr uint32_t kVersion = 1;
constexpr int32_t kMaxNumber = 1 << 24;  // larger numbers are not cached
constexpr size_t kFirstRead = 16384;
constexpr size_t kBatchFirst = 8192;  // the start of each file, where many are read at once

struct Header {
  char magic[4];
  uint32_t version;
  uint32_t state;
  uint32_t seq;
  int64_t index_size;
  int64_t index_mtime;
  uint64_t index_ino;
  uint32_t records;
  uint32_t width;
  uint32_t slots;
  uint32_t rows;
  uint32_t zero[2];
};
static_assert(sizeof(Header) == 64);

struct Entry {
  char id[24];
  uint32_t row;  // row number plus one; 0: free
  uint32_t zero;
};
static_assert(sizeof(Entry) == 32);

FileStamp index_stamp(int32_t folder) { return stamp_of(msg_index_path(folder).c_str()); }

bool same_stamp(const Header& h, const FileStamp& s) {
  return s.size >= 0 && h.index_size == s.size && h.index_mtime == s.mtime && h.index_ino == s.ino;
}

// The size of a file with this header.
uint64_t file_size_of(const Header& h) {
  return sizeof(Header) + h.width + uint64_t{h.slots} * sizeof(Entry) + uint64_t{h.rows} * h.width;
}

bool sound_header(const Header& h, uint64_t file_size) {
  if (std::memcmp(h.magic, "MRC1", 4) != 0 || h.version != kVersion) return false;
  if (h.width == 0 || h.width % 8 != 0 || h.width > kMaxNumber / 8 * 2) return false;
  if (h.slots == 0 || !std::has_single_bit(h.slots) || h.rows * 2 > h.slots) return false;
  return file_size == file_size_of(h);
}

uint32_t hash_id(std::string_view id) {
  uint32_t h = 2166136261u;
  for (unsigned char c : id) h = (h ^ c) * 16777619u;
  return h;
}

bool bit(const std::vector<uint8_t>& v, int32_t n) {
  size_t i = static_cast<size_t>(n) / 8;
  return n >= 0 && i < v.size() && (v[i] >> (n % 8) & 1);
}
void set_bit(std::vector<uint8_t>& v, int32_t n, bool on) {
  uint8_t m = static_cast<uint8_t>(1u << (n % 8));
  uint8_t& b = v[static_cast<size_t>(n) / 8];
  b = on ? (b | m) : (b & ~m);
}

uint32_t width_for(int32_t top) {
  uint32_t w = 64;
  while (uint64_t{w} * 8 <= static_cast<uint64_t>(top)) w *= 2;
  return w;
}
uint32_t slots_for(size_t users) {
  uint32_t s = 64;
  while (s < 2 * (users + 1)) s *= 2;
  return s;
}

// The file in memory. An image read for a store step holds the header,
// the present bitmap and the directory, and reads a row from the open file
// `src` when the step first uses it: a step touches one user's row or all.
struct Image {
  Header h{};
  std::vector<uint8_t> present;
  std::vector<Entry> dir;
  std::vector<std::vector<uint8_t>> rows;
  std::vector<uint8_t> have;     // of each row: in memory
  std::vector<std::string> ids;  // of each row
  int src = -1;
  size_t rows_at = 0;
  bool ok = true;                // false once a row could not be read

  std::vector<uint8_t>& row(size_t r) {
    if (!have[r]) {
      rows[r].resize(h.width);
      const long off = static_cast<long>(rows_at + r * h.width);
      ok = ok && src >= 0 && pread_some(src, rows[r].data(), h.width, off) == static_cast<long>(h.width);
      have[r] = 1;
    }
    return rows[r];
  }
  // The rows not yet in memory, in one read: an edit or a deletion touches
  // every user's row. (Rows added in memory are past the file's and loaded.)
  void load_all() {
    const auto first = std::find(have.begin(), have.end(), 0);
    if (first == have.end()) return;
    const size_t from = static_cast<size_t>(first - have.begin());
    const size_t to = static_cast<size_t>(have.rend() - std::find(have.rbegin(), have.rend(), 0));
    const size_t len = (to - from) * h.width;
    std::vector<uint8_t> all(len);
    const long at = static_cast<long>(rows_at + from * h.width);
    ok = ok && src >= 0 && pread_some(src, all.data(), len, at) == static_cast<long>(len);
    for (size_t r = from; r < to; r++) {
      if (have[r]) continue;
      const auto bytes = all.begin() + static_cast<std::ptrdiff_t>((r - from) * h.width);
      rows[r].assign(bytes, bytes + h.width);
      have[r] = 1;
    }
  }

  size_t find_slot(std::string_view id) const {
    size_t mask = dir.size() - 1;
    for (size_t i = hash_id(id) & mask;; i = (i + 1) & mask)
      if (dir[i].row == 0 || field(dir[i].id) == id) return i;
  }
  // The user's row, added when missing.
  size_t row_of(std::string_view id) {
    size_t s = find_slot(id);
    if (dir[s].row != 0) return dir[s].row - 1;
    if ((rows.size() + 1) * 2 > dir.size()) {
      rehash(slots_for(rows.size() + 1));
      s = find_slot(id);
    }
    set_field(dir[s].id, id);
    rows.emplace_back(h.width, 0);
    have.push_back(1);
    ids.emplace_back(id);
    dir[s].row = static_cast<uint32_t>(rows.size());
    return rows.size() - 1;
  }
  void rehash(uint32_t slots) {
    dir.assign(slots, Entry{});
    for (size_t r = 0; r < ids.size(); r++) {
      size_t s = find_slot(ids[r]);
      set_field(dir[s].id, ids[r]);
      dir[s].row = static_cast<uint32_t>(r + 1);
    }
  }
  void widen(uint32_t width) {
    load_all();
    present.resize(width, 0);
    for (auto& r : rows) r.resize(width, 0);
    h.width = width;
  }
  // Every row must be in memory.
  std::string bytes(const FileStamp& s) const {
    Header out = h;
    std::memcpy(out.magic, "MRC1", 4);
    out.version = kVersion;
    out.state = 0;
    out.index_size = s.size;
    out.index_mtime = s.mtime;
    out.index_ino = s.ino;
    out.slots = static_cast<uint32_t>(dir.size());
    out.rows = static_cast<uint32_t>(rows.size());
    std::string b(reinterpret_cast<const char*>(&out), sizeof out);
    b.append(reinterpret_cast<const char*>(present.data()), present.size());
    b.append(reinterpret_cast<const char*>(dir.data()), dir.size() * sizeof(Entry));
    for (const auto& r : rows) b.append(reinterpret_cast<const char*>(r.data()), r.size());
    return b;
  }
};

bool parse(std::string_view b, Image& img) {
  if (b.size() < sizeof(Header)) return false;
  std::memcpy(&img.h, b.data(), sizeof(Header));
  if (!sound_header(img.h, b.size())) return false;
  const Header& h = img.h;
  size_t off = sizeof(Header);
  img.present.assign(b.begin() + off, b.begin() + off + h.width);
  off += h.width;
  img.dir.resize(h.slots);
  std::memcpy(img.dir.data(), b.data() + off, h.slots * sizeof(Entry));
  off += h.slots * sizeof(Entry);
  img.rows.assign(h.rows, {});
  img.have.assign(h.rows, 1);
  img.ids.assign(h.rows, {});
  for (uint32_t r = 0; r < h.rows; r++)
    img.rows[r].assign(b.begin() + off + r * h.width, b.begin() + off + (r + 1) * h.width);
  for (const Entry& e : img.dir) {
    if (e.row == 0) continue;
    if (e.row > h.rows) return false;
    img.ids[e.row - 1] = std::string(field(e.id));
  }
  return true;
}

// The header, present bitmap and directory of the open file; the rows are
// read as they are used.
bool parse_head(int fd, Image& img) {
  struct stat st;
  if (fstat(fd, &st) != 0) return false;
  Header& h = img.h;
  if (pread_some(fd, &h, sizeof h, 0) != static_cast<long>(sizeof h)) return false;
  if (!sound_header(h, static_cast<uint64_t>(st.st_size))) return false;
  img.present.resize(h.width);
  img.dir.resize(h.slots);
  const long dir_len = static_cast<long>(h.slots * sizeof(Entry));
  if (pread_some(fd, img.present.data(), h.width, sizeof h) != static_cast<long>(h.width) ||
      pread_some(fd, img.dir.data(), static_cast<size_t>(dir_len), static_cast<long>(sizeof h + h.width)) != dir_len)
    return false;
  img.rows.assign(h.rows, {});
  img.have.assign(h.rows, 0);
  img.ids.assign(h.rows, {});
  img.src = fd;
  img.rows_at = sizeof h + h.width + static_cast<size_t>(dir_len);
  for (const Entry& e : img.dir) {
    if (e.row == 0) continue;
    if (e.row > h.rows) return false;
    img.ids[e.row - 1] = std::string(field(e.id));
  }
  return true;
}

// What one pass over the board finds: the image, or that the board cannot
// be cached (numbers out of range or twice in the index), in which case
// `records` and the marks of `user` are counted directly.
struct Recount {
  bool readable = false;
  bool exists = false;    // the board has a directory
  bool cacheable = true;
  Image img;
  std::vector<INDEX_DATA> recs;
};

Recount recount(int32_t folder) {
  Recount rc;
  struct stat st;
  if (stat(msg_dir_path(folder).c_str(), &st) != 0) {
    rc.readable = errno == ENOENT;
    return rc;
  }
  rc.exists = true;
  if (!load_index(folder, rc.recs)) return rc;
  int32_t top = 0;
  for (const INDEX_DATA& r : rc.recs) {
    if (r.MSG_NO < 1 || r.MSG_NO >= kMaxNumber) rc.cacheable = false;
    else top = std::max(top, r.MSG_NO);
  }
  Image& img = rc.img;
  img.h.records = static_cast<uint32_t>(rc.recs.size());
  img.h.width = width_for(top);
  img.present.assign(img.h.width, 0);
  img.dir.assign(slots_for(0), Entry{});
  std::vector<int32_t> numbers;
  std::vector<std::string> names;
  numbers.reserve(rc.recs.size());
  names.reserve(rc.recs.size());
  for (const INDEX_DATA& r : rc.recs) {
    if (r.MSG_NO < 1 || r.MSG_NO >= kMaxNumber) continue;
    if (bit(img.present, r.MSG_NO)) {
      rc.cacheable = false;  // a number twice: counted per record below
      continue;
    }
    set_bit(img.present, r.MSG_NO, true);
    numbers.push_back(r.MSG_NO);
    names.push_back(msg_mark_name(r.MSG_NO));
  }
  bool ok = true;
  // Readers' IDs are met again and again: each is looked up by its 24 raw
  // bytes, read as three words with every byte after the ID's end zeroed,
  // in a small table of its own.
  struct Known {
    uint64_t w[3];
    uint32_t row;  // plus one; 0: free
    bool same(const uint64_t* v) const { return w[0] == v[0] && w[1] == v[1] && w[2] == v[2]; }
  };
  auto slot_of = [](const uint64_t* v, size_t mask) {
    return static_cast<size_t>((v[0] * 0x9E3779B97F4A7C15ull ^ v[1] * 0xC2B2AE3D27D4EB4Full ^
                                v[2] * 0x165667B19E3779F9ull) >> 40) & mask;
  };
  std::vector<Known> known(64);
  size_t used = 0;
  read_small_files(msg_dir_path(folder), names, [&](size_t i, std::string_view bytes, int err) {
    if (err) {
      if (err != ENOENT) ok = false;
      return;
    }
    for (size_t k = 0; k + sizeof(READ_POINT) <= bytes.size(); k += sizeof(READ_POINT)) {
      uint64_t v[3];
      std::memcpy(v, bytes.data() + k + offsetof(READ_POINT, USER_ID), sizeof v);
      // The first zero byte ends the ID: it and all after it become zero.
      auto first_zero = [](uint64_t x) {
        const uint64_t z = (x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull;
        return z ? static_cast<unsigned>(std::countr_zero(z)) / 8 : 8u;
      };
      auto keep_below = [](uint64_t x, unsigned n) { return n == 0 ? 0 : x & (~0ull >> (64 - 8 * n)); };
      size_t len = 24;
      if (unsigned z0 = first_zero(v[0]); z0 < 8) {
        len = z0;
        v[0] = keep_below(v[0], z0);
        v[1] = v[2] = 0;
      } else if (unsigned z1 = first_zero(v[1]); z1 < 8) {
        len = 8 + z1;
        v[1] = keep_below(v[1], z1);
        v[2] = 0;
      } else if (unsigned z2 = first_zero(v[2]); z2 < 8) {
        len = 16 + z2;
        v[2] = keep_below(v[2], z2);
      }
      size_t mask = known.size() - 1, at = slot_of(v, mask);
      while (known[at].row != 0 && !known[at].same(v)) at = (at + 1) & mask;
      if (known[at].row == 0) {
        const std::string_view id(reinterpret_cast<const char*>(v), len);
        known[at] = Known{{v[0], v[1], v[2]}, static_cast<uint32_t>(img.row_of(id) + 1)};
        const uint32_t row = known[at].row;
        if (++used * 2 > known.size()) {
          std::vector<Known> old(known.size() * 2);
          old.swap(known);
          mask = known.size() - 1;
          for (const Known& e : old) {
            if (e.row == 0) continue;
            size_t j = slot_of(e.w, mask);
            while (known[j].row != 0) j = (j + 1) & mask;
            known[j] = e;
          }
        }
        set_bit(img.rows[row - 1], numbers[i], true);
        continue;
      }
      set_bit(img.rows[known[at].row - 1], numbers[i], true);
    }
  });
  rc.readable = ok;
  return rc;
}

// Adds the present numbers the user lacks to the view.
void count_into(const uint8_t* present, const uint8_t* mine, size_t width, ReadView& out,
                bool numbers) {
  // Eight bytes at a time: bit b of the little-endian word at byte i is
  // number i * 8 + b. (Widths are multiples of eight; a rest would go byte
  // by byte the same way.)
  for (size_t i = 0; i < width; i += 8) {
    uint64_t p = 0, m = 0;
    if (width - i >= 8) {  // a whole word: the copies become plain loads
      std::memcpy(&p, present + i, 8);
      if (mine) std::memcpy(&m, mine + i, 8);
    } else {
      std::memcpy(&p, present + i, width - i);
      if (mine) std::memcpy(&m, mine + i, width - i);
    }
    uint64_t left = p & ~m;
    if (!left) continue;
    out.count += std::popcount(left);
    if (numbers)
      for (; left; left &= left - 1) out.numbers.push_back(static_cast<int32_t>(i * 8) + std::countr_zero(left));
  }
}

// The user's view from a recount; boards that cannot be cached count index
// records (a number twice counts twice; numbers out of range by their files).
void view_of(Recount& rc, std::string_view user, ReadView& out, bool numbers) {
  out = ReadView();
  if (!rc.exists || rc.img.dir.empty()) return;
  const Image& img = rc.img;
  const size_t s = img.find_slot(user);
  static const std::vector<uint8_t> none;
  const std::vector<uint8_t>& mine = img.dir[s].row ? img.rows[img.dir[s].row - 1] : none;
  if (rc.cacheable) {
    count_into(img.present.data(), mine.empty() ? nullptr : mine.data(), img.present.size(), out,
               numbers);
    return;
  }
  std::vector<int32_t> odd;
  for (const INDEX_DATA& r : rc.recs)
    if (r.MSG_NO < 1 || r.MSG_NO >= kMaxNumber) odd.push_back(r.MSG_NO);
  std::map<int32_t, bool> odd_read;
  if (!odd.empty()) {
    // Only the current user's marks are looked up this way.
    std::vector<int> m = own_marks(rc.recs.front().FOLDER_NO, odd);
    for (size_t i = 0; i < odd.size(); i++) odd_read[odd[i]] = m[i] > 0;
  }
  for (const INDEX_DATA& r : rc.recs) {
    bool read = odd_read.count(r.MSG_NO) ? odd_read[r.MSG_NO] : bit(mine, r.MSG_NO);
    if (read) continue;
    out.count++;
    if (numbers) out.numbers.push_back(r.MSG_NO);
  }
  std::sort(out.numbers.begin(), out.numbers.end());
  out.numbers.erase(std::unique(out.numbers.begin(), out.numbers.end()), out.numbers.end());
}

// One user's part of a file whose first `have` bytes are `first` (the
// whole file of `size` bytes, or its start), with the index's stamp
// `index`: false when the file is unsound, stale or being changed. Pieces
// beyond `have` come from `piece(off, len, k)` (null: unreadable). Once
// all is read, `again(state_seq)` reads the header's state and sequence
// anew: they must be clean and unchanged. The index's stamp may be
// taken before or after the header is read: a writer marks the file stale
// before it changes the index, and stamps it anew only when both agree
// again.
template <class Piece, class Again>
bool view_from(const uint8_t* first, size_t have, uint64_t size, const FileStamp& index, std::string_view user,
               ReadView& out, bool numbers, Piece piece, Again again) {
  if (have < sizeof(Header)) return false;
  Header h;
  std::memcpy(&h, first, sizeof h);
  if (!sound_header(h, size) || h.state != 0) return false;
  if (!same_stamp(h, index)) return false;
  auto at = [&](size_t off, size_t len, int k) -> const uint8_t* {
    return off + len <= have ? first + off : piece(off, len, k);
  };
  const uint8_t* present = at(sizeof h, h.width, 0);
  if (!present) return false;
  const size_t dir_off = sizeof h + h.width;
  const size_t mask = h.slots - 1;
  uint32_t row = 0;
  for (size_t i = hash_id(user) & mask, n = 0; n < h.slots; i = (i + 1) & mask, n++) {
    const uint8_t* p = at(dir_off + i * sizeof(Entry), sizeof(Entry), 1);
    if (!p) return false;
    Entry e;
    std::memcpy(&e, p, sizeof e);
    if (e.row == 0) break;
    if (field(e.id) == user) {
      row = e.row;
      break;
    }
  }
  const uint8_t* mine = nullptr;
  if (row != 0) {
    if (row > h.rows) return false;
    const size_t row_off = dir_off + h.slots * sizeof(Entry) + (row - 1) * size_t{h.width};
    if (!(mine = at(row_off, h.width, 2))) return false;
  }
  uint32_t state_seq[2];
  if (!again(state_seq) || state_seq[0] != 0 || state_seq[1] != h.seq) return false;
  out = ReadView();
  count_into(present, mine, h.width, out, numbers);
  return true;
}

// Lock-free read of one user's part; false when the file is missing,
// stale, or changed while it was read. The menu does this for every board,
// so a small file is read at once into one buffer kept for the process.
bool quick_view(int32_t folder, std::string_view user, ReadView& out, bool numbers) {
  Fd fd(open(read_cache_path(folder).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return false;
  // Left unset: only the pages the read fills are touched.
  static const std::unique_ptr<uint8_t[]> first(new uint8_t[kFirstRead]);
  const long got = pread_some(fd.get(), first.get(), kFirstRead, 0);
  if (got < static_cast<long>(sizeof(Header))) return false;
  const size_t have = static_cast<size_t>(got);
  // A read shorter than asked for ends at the end of the file.
  uint64_t size = have;
  struct stat st;
  if (have == kFirstRead) {
    if (fstat(fd.get(), &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
  }
  // Pieces beyond the first read are read on their own.
  std::vector<uint8_t> side[3];
  auto piece = [&](size_t off, size_t len, int k) -> const uint8_t* {
    side[k].resize(len);
    if (pread_some(fd.get(), side[k].data(), len, static_cast<long>(off)) != static_cast<long>(len))
      return nullptr;
    return side[k].data();
  };
  auto again = [&](uint32_t* state_seq) {
    return pread_some(fd.get(), state_seq, 8, 8) == 8;
  };
  return view_from(first.get(), have, size, index_stamp(folder), user, out, numbers, piece, again);
}

// Writes the recount as the board's file, when it can be cached.
void store(int32_t folder, const Recount& rc) {
  if (!rc.exists || !rc.readable || !rc.cacheable) return;
  const std::string path = read_cache_path(folder);
  const std::string bytes = rc.img.bytes(index_stamp(folder));
  // Where there is none yet it is written in place (with one write, under
  // the board's lock): until the write is whole its size does not fit its
  // header, so no reader takes it, and a killed write leaves it so.
  Fd fd(open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (fd.ok()) {
    if (!write_all(fd.get(), bytes.data(), bytes.size())) unlink(path.c_str());
    return;
  }
  replace_file(path.c_str(), (msg_dir_path(folder) + "/" + kTmpName).c_str(), bytes);
}

std::map<std::string, ReadCacheChange::State*>& open_changes() {
  static std::map<std::string, ReadCacheChange::State*> m;
  return m;
}

}  // namespace

// ---- Change of the derived data ----------------------------------------------

struct ReadCacheChange::State {
  int32_t folder;
  std::string path;
  int depth = 1;
  bool active = false;
  Fd fd;
  Image img;
  bool changed = false;
  // What a commit in place writes: the present bitmap, every row, or the
  // rows touched.
  bool present_touched = false, all_rows = false;
  std::vector<size_t> rows_touched;
};

ReadCacheChange::ReadCacheChange(int32_t folder) {
  const std::string path = read_cache_path(folder);
  auto& changes = open_changes();
  auto it = changes.find(path);
  if (it != changes.end()) {
    st_ = it->second;
    st_->depth++;
    return;
  }
  outer_ = true;
  st_ = new State;
  st_->folder = folder;
  st_->path = path;
  changes[path] = st_;
  Fd fd(open(path.c_str(), O_RDWR | O_CLOEXEC));
  if (!fd.ok()) {
    // One that is there but cannot be kept current must go.
    if (errno != ENOENT) unlink(path.c_str());
    return;
  }
  const bool current = parse_head(fd.get(), st_->img) && st_->img.h.state == 0 &&
                       same_stamp(st_->img.h, index_stamp(folder));
  if (!current) {
    // Stale already: nothing may take it for current after this step.
    unlink(path.c_str());
    return;
  }
  uint32_t mark[2] = {1, st_->img.h.seq + 1};
  if (!pwrite_all(fd.get(), mark, sizeof mark, 8)) {
    unlink(path.c_str());
    return;
  }
  st_->img.h.seq++;
  st_->fd = std::move(fd);
  st_->active = true;
}

ReadCacheChange::~ReadCacheChange() {
  if (--st_->depth > 0) return;
  open_changes().erase(st_->path);
  delete st_;
}

bool ReadCacheChange::active() const { return st_->active; }

bool ReadCacheChange::has_read(std::string_view user, int32_t msg) {
  if (!st_->active) return false;
  Image& img = st_->img;
  size_t s = img.find_slot(user);
  return img.dir[s].row != 0 && bit(img.row(img.dir[s].row - 1), msg);
}

void ReadCacheChange::mark(std::string_view user, int32_t msg) {
  Image& img = st_->img;
  if (!st_->active || !bit(img.present, msg)) return;
  const size_t row = img.row_of(user);
  set_bit(img.row(row), msg, true);
  st_->rows_touched.push_back(row);
  st_->changed = true;
}

void ReadCacheChange::mark_all(std::string_view user) {
  Image& img = st_->img;
  if (!st_->active) return;
  const size_t row = img.row_of(user);
  img.rows[row] = img.present;
  img.have[row] = 1;
  st_->rows_touched.push_back(row);
  st_->changed = true;
}

void ReadCacheChange::clear(int32_t msg) {
  Image& img = st_->img;
  // A number the index does not hold has no bits to clear.
  if (!st_->active || !bit(img.present, msg)) return;
  img.load_all();
  for (auto& r : img.rows) set_bit(r, msg, false);
  st_->all_rows = true;
  st_->changed = true;
}

void ReadCacheChange::reset(int32_t msg, std::string_view user) {
  clear(msg);
  mark(user, msg);
}

void ReadCacheChange::added(int32_t msg) {
  Image& img = st_->img;
  if (!st_->active) return;
  if (msg < 1 || msg >= kMaxNumber || bit(img.present, msg)) {
    // Out of range or twice: this board is counted without the file.
    st_->active = false;
    return;
  }
  if (static_cast<uint64_t>(msg) >= uint64_t{img.h.width} * 8) img.widen(width_for(msg));
  set_bit(img.present, msg, true);
  // No row holds a number the index does not: the rows stay as they are.
  img.h.records++;
  st_->present_touched = true;
  st_->changed = true;
}

void ReadCacheChange::removed(int32_t msg) {
  Image& img = st_->img;
  if (!st_->active || !bit(img.present, msg)) return;
  set_bit(img.present, msg, false);
  img.load_all();
  for (auto& r : img.rows) set_bit(r, msg, false);
  img.h.records--;
  st_->present_touched = st_->all_rows = true;
  st_->changed = true;
}

void ReadCacheChange::commit() {
  if (!outer_ || !st_->active) return;
  State& s = *st_;
  Image& img = s.img;
  const FileStamp stamp = index_stamp(s.folder);
  const size_t rows_at = sizeof(Header) + img.h.width + img.dir.size() * sizeof(Entry);
  const size_t size = rows_at + img.rows.size() * img.h.width;
  struct stat st;
  if (s.changed && (fstat(s.fd.get(), &st) != 0 || static_cast<size_t>(st.st_size) != size)) {
    // Grown: written anew and put in place at once.
    img.load_all();
    if (!img.ok) return;  // the old file stays marked stale
    std::string b = img.bytes(stamp);
    Header h;
    std::memcpy(&h, b.data(), sizeof h);
    h.seq = img.h.seq + 1;
    std::memcpy(b.data(), &h, sizeof h);
    if (replace_file(s.path.c_str(), (msg_dir_path(s.folder) + "/" + kTmpName).c_str(), b) != 0)
      return;  // the old file stays marked stale
    s.active = false;
    return;
  }
  // Same layout: what changed is written over in place, then the header
  // that makes it current. A row that could not be read leaves the file
  // marked stale.
  if (!img.ok) return;
  auto put = [&](const std::vector<uint8_t>& v, size_t off) {
    return pwrite_all(s.fd.get(), v.data(), v.size(), static_cast<long>(off));
  };
  if (s.present_touched && !put(img.present, sizeof(Header))) return;
  if (s.all_rows) {
    std::vector<uint8_t> all;
    all.reserve(size - rows_at);
    for (const auto& r : img.rows) all.insert(all.end(), r.begin(), r.end());
    if (!put(all, rows_at)) return;
  } else {
    for (size_t r : s.rows_touched)
      if (!put(img.rows[r], rows_at + r * img.h.width)) return;
  }
  Header h = img.h;
  h.state = 0;
  h.seq = img.h.seq + 1;
  h.index_size = stamp.size;
  h.index_mtime = stamp.mtime;
  h.index_ino = stamp.ino;
  if (!pwrite_all(s.fd.get(), &h, sizeof h, 0)) return;
  s.active = false;
}

// ---- Readers and maintenance ------------------------------------------------

bool read_view(int32_t folder, std::string_view user, ReadView& out, bool numbers) {
  if (quick_view(folder, user, out, numbers)) return true;
  DirLock lock(msg_index_path(folder).c_str());
  // A writer may just have finished: look once more under the lock.
  if (quick_view(folder, user, out, numbers)) return true;
  Recount rc = recount(folder);
  if (!rc.readable) return false;
  view_of(rc, user, out, numbers);
  store(folder, rc);
  return true;
}

std::vector<bool> read_views(const std::vector<int32_t>& folders, std::string_view user, std::vector<ReadView>& out,
                             bool numbers, const std::vector<FileStamp>* stamps) {
  out.assign(folders.size(), ReadView());
  std::vector<bool> done(folders.size(), false), readable(folders.size(), true);
  // Each board's index is looked at first. Then, in one batch, each file's
  // start: its header, the present bitmap and the user directory; then,
  // in a second batch from the same open file, the user's row where it lies
  // beyond, the file's last byte and the byte after it (one piece) where
  // the start did not reach the end (the file's size as its header gives
  // it), and its state and sequence again.
  std::vector<FileStamp> index;
  std::vector<std::string> names;
  for (size_t i = 0; i < folders.size(); i++) {
    index.push_back(stamps ? (*stamps)[i] : index_stamp(folders[i]));
    names.push_back(std::to_string(folders[i]) + "/" + kName);
  }
  struct Asked {
    uint64_t size = 0;
    std::optional<FilePiece> row;
  };
  std::vector<Asked> asked(folders.size());
  auto start = [](std::string_view head) { return reinterpret_cast<const uint8_t*>(head.data()); };
  auto then = [&](size_t i, const std::vector<std::string_view>& got) -> std::vector<FilePiece> {
    if (got[0].size() < sizeof(Header)) return {};
    Header h;
    std::memcpy(&h, got[0].data(), sizeof h);
    Asked& a = asked[i];
    const bool whole = got[0].size() < kBatchFirst;
    a.size = whole ? got[0].size() : file_size_of(h);
    bool reached = false;
    auto piece = [&](size_t off, size_t len, int k) -> const uint8_t* {
      if (k == 2) a.row = FilePiece{static_cast<long>(off), len};
      return nullptr;
    };
    auto again = [&](uint32_t*) { return reached = true, false; };
    ReadView none;
    view_from(start(got[0]), got[0].size(), a.size, index[i], user, none, false, piece, again);
    // Unsound, stale, or its directory reaches beyond the start: read one
    // by one.
    if (!a.row && !reached) return {};
    std::vector<FilePiece> more;
    if (a.row) more.push_back(*a.row);
    // Two bytes from the last: one comes back exactly when the file ends
    // where its header says.
    if (!whole) more.push_back({static_cast<long>(a.size) - 1, 2});
    more.push_back({8, 8});
    return more;
  };
  read_pieces(msg_data_dir(), names, std::vector<std::vector<FilePiece>>(names.size(), {{0, kBatchFirst}}), then,
              [&](size_t i, const std::vector<std::string_view>& got, int err) {
                const Asked& a = asked[i];
                const size_t sized = a.row ? 2 : 1;  // where the size's piece is, if asked for
                const bool whole = !got.empty() && got[0].size() < kBatchFirst;
                if (err || got.size() != sized + (whole ? 0 : 1) + 1 || got.back().size() != 8) return;
                if (!whole && got[sized].size() != 1) return;
                auto row = [&](size_t off, size_t len, int k) -> const uint8_t* {
                  return k == 2 && a.row && a.row->off == static_cast<long>(off) && got[1].size() == len
                             ? start(got[1])
                             : nullptr;
                };
                auto seen = [&](uint32_t* state_seq) {
                  std::memcpy(state_seq, got.back().data(), 8);
                  return true;
                };
                done[i] = view_from(start(got[0]), got[0].size(), a.size, index[i], user, out[i], numbers, row, seen);
              });
  // The rest one by one, made anew where needed.
  for (size_t i = 0; i < folders.size(); i++)
    if (!done[i]) readable[i] = read_view(folders[i], user, out[i], numbers);
  return readable;
}

void drop_read_cache(int32_t folder) {
  const std::string path = read_cache_path(folder);
  DirLock lock(path.c_str());
  unlink(path.c_str());
  unlink((msg_dir_path(folder) + "/" + kTmpName).c_str());
}

int rebuild_read_cache(int32_t folder) {
  DirLock lock(msg_index_path(folder).c_str());
  drop_read_cache(folder);
  Recount rc = recount(folder);
  if (!rc.readable) return -1;
  store(folder, rc);
  return 0;
}

int verify_read_cache(int32_t folder) {
  DirLock lock(msg_index_path(folder).c_str());
  Recount rc = recount(folder);
  if (!rc.readable) return -1;
  Fd fd(open(read_cache_path(folder).c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.ok()) return 0;
  std::string bytes;
  Image img;
  if (!read_fd(fd.get(), bytes) || !parse(bytes, img)) return 1;  // unreadable: one entry
  if (img.h.state != 0 || !same_stamp(img.h, index_stamp(folder))) return 0;
  if (!rc.cacheable) return 1;
  int diff = 0;
  auto differ = [](const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
    int n = 0;
    for (size_t i = 0; i < std::max(a.size(), b.size()); i++)
      n += std::popcount(static_cast<uint8_t>((i < a.size() ? a[i] : 0) ^ (i < b.size() ? b[i] : 0)));
    return n;
  };
  diff += differ(img.present, rc.img.present);
  diff += img.h.records != rc.img.h.records;
  static const std::vector<uint8_t> none;
  std::map<std::string, bool> seen;
  for (size_t r = 0; r < img.ids.size(); r++) {
    size_t s = rc.img.find_slot(img.ids[r]);
    diff += differ(img.rows[r], rc.img.dir[s].row ? rc.img.rows[rc.img.dir[s].row - 1] : none);
    seen[img.ids[r]] = true;
  }
  for (size_t r = 0; r < rc.img.ids.size(); r++)
    if (!seen.count(rc.img.ids[r])) diff += differ(none, rc.img.rows[r]);
  return diff;
}

bool is_read_cache_name(const char* name) {
  return name && (std::strcmp(name, kName) == 0 || std::strcmp(name, kTmpName) == 0);
}

std::string read_cache_path(int32_t folder) { return msg_dir_path(folder) + "/" + kName; }
