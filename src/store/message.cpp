// The message store: numbering and threading of the index, bodies, read
// marks, the attachment list, and the unread count of a board.
//
// Every change runs under the board directory's lock, so that numbering,
// inserts and rewrites of simultaneous requests never overlap; whole-file
// rewrites go through a temporary file renamed into place, so readers (which
// take no lock) see either the old or the new file.
#include "store/message.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <charconv>
#include <cerrno>
#include <climits>
#include <csignal>
#include <cstdlib>
#include <cstdint>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <functional>
#include <string_view>

#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/attach_sizes.h"
#include "store/batch_read.h"
#include "store/fileio.h"
#include "store/read_cache.h"
#include "store/records.h"
#include "store/unread.h"
#include "store/user.h"

INDEX_DATA sINDEX_DATA;
READ_POINT sREAD_POINT;
ADD_FILE sADD_FILE;

namespace {

// A path from "%s" and "%d" alone (the only conversions the paths below
// use), cut at PATH_SIZE - 1 bytes as snprintf would cut it. Pages make a
// path for every message they show, so this does without printf.
__attribute__((format(printf, 1, 2))) std::string path_fmt(const char* fmt, ...) {
  std::string out;
  out.reserve(128);  // a path is made in one piece of memory
  va_list ap;
  va_start(ap, fmt);
  for (const char* p = fmt;;) {
    const char* at = std::strchr(p, '%');
    if (!at) {
      out.append(p);
      break;
    }
    out.append(p, static_cast<size_t>(at - p));
    if (at[1] == 's') {
      out.append(va_arg(ap, const char*));
    } else if (at[1] == 'd') {
      char digits[16];
      out.append(digits, std::to_chars(digits, digits + sizeof digits, va_arg(ap, int)).ptr);
    } else {
      out.append(at, at[1] ? 2 : 1);  // not a conversion the paths use: as it stands
      if (!at[1]) break;
    }
    p = at + 2;
  }
  va_end(ap);
  if (out.size() >= PATH_SIZE) out.resize(PATH_SIZE - 1);
  return out;
}

const char* data_path() { return SYSINFO.DATA_FILE_PATH; }

void clean(INDEX_DATA& r) {
  refit(r.WRITE_DATE);
  refit(r.USER_ID, USER_ID_MAX);
  refit(r.WRITE_TITLE, TITLE_MAX);
}

void clean(READ_POINT& r) {
  refit(r.USER_ID, USER_ID_MAX);
  r.RESERVED = 0;
}

void clean(ADD_FILE& r) { refit(r.FILE_NAME); }

// The current user's ID as the read marks compare it.
std::string current_user() {
  std::string id(field(G_MST_USER.USER_ID));
  id.resize(sjis_fit(id, USER_ID_MAX));
  return id;
}

// The current user's mark on message `msg`.
READ_POINT own_mark(int32_t msg) {
  READ_POINT mark{};
  mark.MSG_NO = msg;
  set_field(mark.USER_ID, current_user());
  return mark;
}

// Reads `len` bytes at `off`; false when fewer are there.
bool read_at(int fd, void* buf, size_t len, off_t off) {
  char* p = static_cast<char*>(buf);
  while (len > 0) {
    ssize_t n = pread(fd, p, len, off);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    p += n;
    off += n;
    len -= static_cast<size_t>(n);
  }
  return true;
}

// Opens a record file (creating it empty where its directory exists) and
// reads all its whole records, keeping the descriptor for writes in place.
template <class R>
bool open_records(const char* path, Fd& fd, std::vector<R>& out) {
  out.clear();
  std::string bytes;
  if (!load_bytes_b_open(path, bytes, fd)) return false;
  split_records(bytes, out);
  return true;
}

// Calls `fn(record, position)` on each whole record of the open index,
// reading it a chunk at a time into one small buffer: a large board's index
// is never held whole (fresh memory for it costs more than reading it).
// False when a read fails.
template <class Fn>
bool scan_index(int fd, Fn fn) {
  std::vector<INDEX_DATA> buf(65536 / sizeof(INDEX_DATA));
  const size_t chunk = buf.size() * sizeof(INDEX_DATA);
  size_t pos = 0;
  for (;;) {
    ssize_t n = pread(fd, buf.data(), chunk, static_cast<off_t>(pos * sizeof(INDEX_DATA)));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    size_t whole = static_cast<size_t>(n) / sizeof(INDEX_DATA);
    for (size_t i = 0; i < whole; i++) fn(buf[i], pos + i);
    pos += whole;
    // A regular file returns fewer bytes than asked only at its end; a
    // partial record there is no record.
    if (static_cast<size_t>(n) < chunk) return true;
  }
}

// Copies bytes [from, to) of `in` to `out` in chunks; false on error.
bool copy_range(int in, int out, off_t from, off_t to) {
  char buf[65536];
  while (from < to) {
    size_t want = static_cast<size_t>(std::min<off_t>(to - from, sizeof buf));
    ssize_t n = pread(in, buf, want, from);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0 || !write_all(out, buf, static_cast<size_t>(n))) return false;
    from += n;
  }
  return true;
}

// Finds, record by record, where a reply to `parent` goes in thread order:
// directly after the last message of the parent's subtree. A later record
// of the parent's number inside that subtree takes over as parent.
struct ThreadPlace {
  int32_t parent;
  bool seen = false;
  int32_t thread = 0, depth = 0;
  size_t at = SIZE_MAX;  // the position found, if any yet

  void see(const INDEX_DATA& r, size_t pos) {
    if (at != SIZE_MAX) return;
    if (seen && r.RES_DEPTH <= depth) {
      at = pos;
      return;
    }
    if (r.MSG_NO == parent) {
      seen = true;
      thread = r.THREAD_NO;
      depth = r.RES_DEPTH;
    }
  }
};

// For the tests of tools that must work beside a post caught half-way:
// with MORVEL_STOP_AFTER_BODY naming a file, the process writes its ID
// there and stops itself (SIGSTOP) after the message's files are written,
// before its record, holding the board's lock. A web server passes no such
// variable to a request.
void stop_for_test() {
  const char* path = getenv("MORVEL_STOP_AFTER_BODY");
  if (!path || !*path) return;
  append_file(path, std::to_string(getpid()) + "\n");
  raise(SIGSTOP);
}

// Clears message number `n` of whatever a removed message or an interrupted
// post left under it: attachment records and files, read marks (which
// become the author's alone) and, last, the body. Attachments are only ever
// stored after the body, so without a body there is nothing to look for in
// the attachment list.
void clear_number(int32_t folder, int32_t n) {
  const std::string body = msg_body_path(folder, n);
  struct stat st;
  if (lstat(body.c_str(), &st) == 0 || errno != ENOENT) {
    DeleteADD_FILE(folder, n);
    DelDIR(msg_attach_dir_path(folder, n).c_str());
  }
  ResetREAD_POINT(folder, n);
  unlink(body.c_str());
}

}  // namespace

// ---- Paths ---------------------------------------------------------------

std::string msg_data_dir() { return data_path()[0] ? data_path() : "."; }
std::string msg_dir_path(int32_t folder) { return path_fmt("%s%d", data_path(), folder); }
std::string msg_index_path(int32_t folder) {
  return path_fmt("%s%d/%s", data_path(), folder, "index.dat");
}
std::string msg_index_tmp_path(int32_t folder) {
  return path_fmt("%s%d/%s.tmp", data_path(), folder, "index.dat");
}
// "x%d.dat" and "r%d.dat", made for every message of a board by the
// readers that batch them (20,000 names for a large board's recount), so
// without even path_fmt.
static std::string numbered_name(char first, int32_t msg) {
  char b[24];
  b[0] = first;
  char* end = std::to_chars(b + 1, b + sizeof b, msg).ptr;
  std::string name(b, end);
  name += ".dat";
  return name;
}
std::string msg_body_name(int32_t msg) { return numbered_name('x', msg); }
std::string msg_mark_name(int32_t msg) { return numbered_name('r', msg); }
std::string msg_body_path(int32_t folder, int32_t msg) {
  return path_fmt("%s/%s", msg_dir_path(folder).c_str(), msg_body_name(msg).c_str());
}
std::string msg_mark_path(int32_t folder, int32_t msg) {
  return path_fmt("%s/%s", msg_dir_path(folder).c_str(), msg_mark_name(msg).c_str());
}
std::string msg_mark_tmp_path(int32_t folder, int32_t msg) {
  return path_fmt("%s%d/R%d.TMP", data_path(), folder, msg);
}
std::string msg_add_list_path(int32_t folder) {
  return path_fmt("%s%d/%s", data_path(), folder, "add_file.dat");
}
std::string msg_add_list_tmp_path(int32_t folder) {
  return path_fmt("%s%d/%s.tmp", data_path(), folder, "add_file.dat");
}
std::string msg_attach_board_path(int32_t folder) { return path_fmt("%s%d", SYSINFO.ADD_FILE_PATH, folder); }
std::string msg_attach_file_name(int32_t msg, int32_t slot, const char* name) {
  return path_fmt("x%d/%d/%s", msg, slot, name);
}
std::string msg_attach_dir_path(int32_t folder, int32_t msg) {
  return path_fmt("%s%d/x%d", SYSINFO.ADD_FILE_PATH, folder, msg);
}
std::string msg_attach_slot_path(int32_t folder, int32_t msg, int32_t slot) {
  return path_fmt("%s%d/x%d/%d", SYSINFO.ADD_FILE_PATH, folder, msg, slot);
}
std::string msg_attach_file_path(int32_t folder, int32_t msg, int32_t slot, const char* name) {
  return path_fmt("%s/%s", msg_attach_board_path(folder).c_str(), msg_attach_file_name(msg, slot, name).c_str());
}

// ---- Message index -------------------------------------------------------

bool load_index(int32_t folder, std::vector<INDEX_DATA>& out) {
  // Read straight into the records: a large board's index is the biggest
  // thing most pages read, so it is held once and copied nowhere.
  out.clear();
  Fd fd(b_open(msg_index_path(folder).c_str()));
  if (!fd.ok()) return false;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return false;
  size_t want = static_cast<size_t>(st.st_size) / sizeof(INDEX_DATA);
  out.resize(want);
  char* p = reinterpret_cast<char*>(out.data());
  size_t got = 0, bytes = want * sizeof(INDEX_DATA);
  while (got < bytes) {
    ssize_t n = pread(fd.get(), p + got, bytes - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;  // shortened meanwhile: what was read whole counts
    got += static_cast<size_t>(n);
  }
  out.resize(got / sizeof(INDEX_DATA));
  return true;
}

IndexMap::IndexMap(int32_t folder) {
  Fd fd(b_open(msg_index_path(folder).c_str()));
  if (!fd.ok()) return;
  ok_ = true;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) {
    ok_ = false;
    return;
  }
  size_t count = static_cast<size_t>(st.st_size) / sizeof(INDEX_DATA);
  if (count == 0) return;
  size_t len = count * sizeof(INDEX_DATA);
  void* p = mmap(nullptr, len, PROT_READ, MAP_PRIVATE, fd.get(), 0);
  if (p == MAP_FAILED) {
    fd.reset();
    ok_ = load_index(folder, copy_);
    data_ = copy_.data();
    size_ = copy_.size();
    return;
  }
  map_ = p;
  map_len_ = len;
  data_ = static_cast<const INDEX_DATA*>(p);
  size_ = count;
}

IndexMap::~IndexMap() {
  if (map_) munmap(map_, map_len_);
}

int CountINDEX_DATA(int32_t folder) {
  return get_filelength(msg_index_path(folder).c_str()) / static_cast<int32_t>(sizeof(INDEX_DATA));
}

int ReadINDEX_DATA(int32_t folder, int32_t key, int mode) {
  if (mode == 1) {
    bool found = false;
    scan_records<INDEX_DATA>(msg_index_path(folder).c_str(), [&](const INDEX_DATA& r) {
      if (r.MSG_NO != key) return false;
      sINDEX_DATA = r;
      return found = true;
    });
    return found ? 0 : -1;
  }
  if (mode == 2) {
    if (key < 1) return -1;
    Fd fd(b_open(msg_index_path(folder).c_str()));
    if (!fd.ok()) return -1;
    INDEX_DATA r;
    off_t off = static_cast<off_t>(key - 1) * static_cast<off_t>(sizeof r);
    if (!read_at(fd.get(), &r, sizeof r, off)) return -1;
    sINDEX_DATA = r;
    return 0;
  }
  return -1;
}

int ReadINDEX_DATA_MAX(int32_t folder, int mode) {
  if (mode == 1) {
    std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
    bool any = false;
    INDEX_DATA best{};
    scan_records<INDEX_DATA>(msg_index_path(folder).c_str(), [&](const INDEX_DATA& r) {
      if (!any || r.MSG_NO >= best.MSG_NO) best = r;
      any = true;
      return false;
    });
    if (!any) return -1;
    sINDEX_DATA = best;
    return 0;
  }
  if (mode == 2) {
    Fd fd(b_open(msg_index_path(folder).c_str()));
    if (!fd.ok()) return -1;
    struct stat st;
    if (fstat(fd.get(), &st) != 0) return -1;
    // The last whole record: a partial tail is not a record.
    off_t count = st.st_size / static_cast<off_t>(sizeof(INDEX_DATA));
    if (count == 0) return -1;
    INDEX_DATA r;
    if (!read_at(fd.get(), &r, sizeof r, (count - 1) * static_cast<off_t>(sizeof r))) return -1;
    sINDEX_DATA = r;
    return 0;
  }
  return -1;
}

int ReadINDEX_DATA_G(int32_t folder, int n, int32_t thread) {
  if (n < 0) return -1;
  bool found = false;
  scan_records<INDEX_DATA>(msg_index_path(folder).c_str(), [&](const INDEX_DATA& r) {
    if (r.THREAD_NO != thread || n-- != 0) return false;
    sINDEX_DATA = r;
    return found = true;
  });
  return found ? 0 : -1;
}

int WriteINDEX_DATA() { return WriteINDEX_DATA(nullptr); }

int WriteINDEX_DATA(const std::function<int(int32_t)>& fill) {
  INDEX_DATA rec = sINDEX_DATA;
  clean(rec);
  int32_t folder = rec.FOLDER_NO;
  if (rec.MSG_NO < 0) return -1;

  make_dir(msg_dir_path(folder).c_str());
  std::string path = msg_index_path(folder);
  // Numbering, the message's files and its record form one step: nobody
  // else may read the index between them, or two messages would share a
  // number.
  DirLock lock(path.c_str());
  Fd fd(b_open(path.c_str()));
  if (!fd.ok()) return -1;

  // One pass over the index: the highest number, the count of whole
  // records, and for a reply its place.
  int32_t top = 0;
  size_t count = 0;
  ThreadPlace place{rec.MSG_NO};
  if (!scan_index(fd.get(), [&](const INDEX_DATA& r, size_t pos) {
        top = std::max(top, r.MSG_NO);
        count = pos + 1;
        if (rec.MSG_NO != 0) place.see(r, pos);
      }))
    return -1;
  if (top == INT32_MAX) return -1;  // no number left
  const int32_t n = top + 1;

  rec.DEL_FLG = 0;
  size_t at = count;
  if (rec.MSG_NO == 0) {
    rec.THREAD_NO = n;
    rec.RES_DEPTH = 0;
  } else {
    rec.THREAD_NO = place.seen ? place.thread : rec.MSG_NO;
    rec.RES_DEPTH = place.seen ? place.depth + 1 : 0;
    at = std::min(place.at, count);
  }
  rec.MSG_NO = n;

  // The record comes last: a reader that finds it finds the message's own
  // files, and a process that dies before it leaves only files under a
  // number that the next message clears again.
  ReadCacheChange cache(folder);
  clear_number(folder, n);
  sINDEX_DATA = rec;
  if (fill && fill(n) != 0) return -1;
  stop_for_test();

  const off_t cut = static_cast<off_t>(at * sizeof rec);
  if (at == count) {
    // A new thread, or a reply whose place is the end: appended after the
    // last whole record, over any partial tail.
    if (!pwrite_all(fd.get(), &rec, sizeof rec, static_cast<long>(cut))) return -1;
  } else {
    // Inside the thread order: the index is written anew, once.
    const off_t end = static_cast<off_t>(count * sizeof rec);
    if (replace_file_with(path.c_str(), msg_index_tmp_path(folder).c_str(), [&](int out) {
          return copy_range(fd.get(), out, 0, cut) && write_all(out, &rec, sizeof rec) &&
                 copy_range(fd.get(), out, cut, end);
        }) != 0)
      return -1;
  }
  cache.added(n);
  cache.mark(current_user(), n);
  cache.commit();
  sINDEX_DATA = rec;
  return 0;
}

int ReWriteINDEX_DATA() {
  INDEX_DATA rec = sINDEX_DATA;
  clean(rec);
  std::string path = msg_index_path(rec.FOLDER_NO);
  DirLock lock(path.c_str());
  Fd fd;
  std::vector<INDEX_DATA> recs;
  if (!open_records(path.c_str(), fd, recs)) return -1;
  // The same numbers stay: the derived read data only takes the new stamp.
  ReadCacheChange cache(rec.FOLDER_NO);
  int done = 0;
  for (size_t i = 0; i < recs.size(); i++) {
    if (recs[i].MSG_NO != rec.MSG_NO) continue;
    if (!pwrite_all(fd.get(), &rec, sizeof rec, static_cast<long>(i * sizeof rec))) return -1;
    done++;
  }
  cache.commit();
  return done > 0 ? 0 : -1;
}

int DeleteINDEX_DATA(int32_t folder, int32_t msg) {
  DirLock lock(msg_index_path(folder).c_str());
  ReadCacheChange cache(folder);
  int removed = remove_records<INDEX_DATA>(
      msg_index_path(folder).c_str(), msg_index_tmp_path(folder).c_str(),
      [msg](const INDEX_DATA& r) { return r.MSG_NO == msg; });
  if (removed < 0) return -1;
  if (removed > 0) cache.removed(msg);
  cache.commit();
  return removed > 0 ? 0 : -1;
}

// ---- Bodies --------------------------------------------------------------

int WriteContentsDATA(const char* text) {
  int32_t folder = sINDEX_DATA.FOLDER_NO, msg = sINDEX_DATA.MSG_NO;
  std::string path = msg_body_path(folder, msg);
  std::string tmp = path + ".tmp";
  DirLock lock(path.c_str());
  return replace_file(path.c_str(), tmp.c_str(), text ? std::string_view(text) : std::string_view());
}

std::string body_text(std::string_view file_bytes) {
  std::string_view text = file_bytes.substr(0, std::min<size_t>(file_bytes.size(), CONTENTS_MAX));
  // The body is a C string to every reader: a NUL byte ends it.
  return std::string(text.substr(0, std::min(text.size(), text.find('\0'))));
}

bool read_body(int32_t folder, int32_t msg, std::string& text) {
  text.clear();
  Fd fd(b_open(msg_body_path(folder, msg).c_str()));
  if (!fd.ok()) return false;
  struct stat st;
  if (fstat(fd.get(), &st) != 0) return false;
  size_t want = st.st_size < CONTENTS_MAX ? static_cast<size_t>(st.st_size) : CONTENTS_MAX;
  text.resize(want);
  size_t got = 0;
  while (got < want) {
    ssize_t n = pread(fd.get(), text.data() + got, want - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  text.resize(got);
  // The body is a C string to every reader: a NUL byte ends it.
  if (size_t nul = text.find('\0'); nul != std::string::npos) text.resize(nul);
  return got == want;
}

int ReadContentsDATA(char* buf) {
  std::string text;
  bool whole = read_body(sINDEX_DATA.FOLDER_NO, sINDEX_DATA.MSG_NO, text);
  std::memcpy(buf, text.data(), text.size());
  buf[text.size()] = '\0';
  return whole ? 0 : -1;
}

// ---- Read marks ----------------------------------------------------------

int ReadREAD_POINT(int32_t folder, int32_t msg) {
  std::vector<READ_POINT> recs;
  if (!load_records(msg_mark_path(folder, msg).c_str(), recs)) return -1;
  std::string me = current_user();
  for (const READ_POINT& r : recs) {
    if (field(r.USER_ID) == me) {
      sREAD_POINT = r;
      return 0;
    }
  }
  return -1;
}

int ReadREAD_POINT2(int32_t folder, int32_t msg, int n) {
  if (n < 0) return -1;
  std::vector<READ_POINT> recs;
  if (!load_records(msg_mark_path(folder, msg).c_str(), recs)) return -1;
  if (static_cast<size_t>(n) >= recs.size()) return -1;
  sREAD_POINT = recs[static_cast<size_t>(n)];
  return 0;
}

int WriteREAD_POINT(int32_t folder) {
  READ_POINT rec = sREAD_POINT;
  clean(rec);
  std::string id(field(rec.USER_ID));
  const std::string path = msg_mark_path(folder, rec.MSG_NO);
  DirLock lock(path.c_str());
  ReadCacheChange cache(folder);
  if (upsert_record(path.c_str(), rec,
                    [&id](const READ_POINT& r) { return field(r.USER_ID) == id; }) != 0)
    return -1;
  cache.mark(id, rec.MSG_NO);
  cache.commit();
  return 0;
}

int MarkREAD_POINT(int32_t folder, int32_t msg) {
  READ_POINT mark = own_mark(msg);
  std::string path = msg_mark_path(folder, msg);
  DirLock lock(path.c_str());
  Fd fd;
  std::vector<READ_POINT> recs;
  if (!open_records(path.c_str(), fd, recs)) return -1;
  std::string me(field(mark.USER_ID));
  for (const READ_POINT& r : recs) {
    if (field(r.USER_ID) == me) {
      sREAD_POINT = r;
      return 0;
    }
  }
  ReadCacheChange cache(folder);
  // After the last whole record, over any partial tail.
  if (!pwrite_all(fd.get(), &mark, sizeof mark, static_cast<long>(recs.size() * sizeof mark)))
    return -1;
  cache.mark(me, msg);
  cache.commit();
  sREAD_POINT = mark;
  return 0;
}

int ResetREAD_POINT(int32_t folder, int32_t msg) {
  READ_POINT mark = own_mark(msg);
  sREAD_POINT = mark;
  std::string path = msg_mark_path(folder, msg);
  DirLock lock(path.c_str());
  ReadCacheChange cache(folder);
  if (replace_file(path.c_str(), msg_mark_tmp_path(folder, msg).c_str(),
                   std::string_view(reinterpret_cast<const char*>(&mark), sizeof mark)) != 0)
    return -1;
  cache.reset(msg, field(mark.USER_ID));
  cache.commit();
  return 0;
}

int DeleteREAD_POINT(int32_t folder, int32_t msg) {
  const std::string path = msg_mark_path(folder, msg);
  DirLock lock(path.c_str());
  ReadCacheChange cache(folder);
  int removed = remove_records<READ_POINT>(
      path.c_str(), msg_mark_tmp_path(folder, msg).c_str(),
      [msg](const READ_POINT& r) { return r.MSG_NO == msg; }, true);
  if (removed < 0) return -1;
  // Records that name another number stay, and still count as marks.
  std::vector<READ_POINT> left;
  if (!load_records(path.c_str(), left)) return 0;
  cache.clear(msg);
  for (const READ_POINT& r : left) cache.mark(field(r.USER_ID), msg);
  cache.commit();
  return 0;
}

int MarkAllREAD_POINT(int32_t folder) {
  const READ_POINT mark = own_mark(0);
  const std::string me(field(mark.USER_ID));
  // One lock for the whole board: every mark below is checked and appended
  // under it, as MarkREAD_POINT does for one message.
  DirLock lock(msg_index_path(folder).c_str());
  std::vector<INDEX_DATA> recs;
  if (!load_index(folder, recs)) return -1;
  ReadCacheChange cache(folder);
  // The marks are read in batches first (where the derived read data is
  // current, only those of messages it does not know read); only the
  // messages found without the user's mark are opened again, created where
  // missing, checked once more and written.
  std::vector<int32_t> numbers;
  numbers.reserve(recs.size());
  for (const INDEX_DATA& r : recs)
    if (!cache.has_read(me, r.MSG_NO)) numbers.push_back(r.MSG_NO);
  std::vector<int> marked_before;
  {
    const std::vector<int> unknown = own_marks(folder, numbers);
    size_t k = 0;
    for (const INDEX_DATA& r : recs)
      marked_before.push_back(k < numbers.size() && numbers[k] == r.MSG_NO ? unknown[k++] : 1);
  }
  std::vector<char> buf(64 * 1024);
  int added = 0, failed = 0;
  for (size_t at = 0; at < recs.size(); at++) {
    if (marked_before[at] > 0) continue;
    const INDEX_DATA& r = recs[at];
    Fd fd(open(msg_mark_path(folder, r.MSG_NO).c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600));
    if (!fd.ok()) {
      failed++;
      continue;
    }
    size_t have = 0;
    bool ok = true;
    for (;;) {
      if (have == buf.size()) buf.resize(buf.size() * 2);
      ssize_t n = read(fd.get(), buf.data() + have, buf.size() - have);
      if (n < 0 && errno == EINTR) continue;
      if (n < 0) ok = false;
      if (n <= 0) break;
      have += static_cast<size_t>(n);
      // A regular file returns fewer bytes than asked only at its end.
      if (have < buf.size()) break;
    }
    if (!ok) {
      failed++;
      continue;
    }
    const size_t whole = have / sizeof(READ_POINT);
    bool marked = false;
    for (size_t i = 0; i < whole && !marked; i++) {
      READ_POINT m;
      std::memcpy(&m, buf.data() + i * sizeof m, sizeof m);
      marked = field(m.USER_ID) == me;
    }
    if (marked) continue;
    READ_POINT mine = mark;
    mine.MSG_NO = r.MSG_NO;
    // After the last whole record, over any partial tail.
    if (pwrite_all(fd.get(), &mine, sizeof mine, static_cast<long>(whole * sizeof mine)))
      added++;
    else
      failed++;
  }
  if (failed) return -1;  // the derived data stays marked stale
  cache.mark_all(me);
  cache.commit();
  return added;
}

std::vector<int> own_marks(int32_t folder, const std::vector<int32_t>& msgs) {
  const std::string me = current_user();
  std::vector<std::string> names;
  names.reserve(msgs.size());
  for (int32_t m : msgs) names.push_back(msg_mark_name(m));
  std::vector<int> out(msgs.size(), 0);
  read_small_files(msg_dir_path(folder), names, [&](size_t i, std::string_view bytes, int err) {
    if (err) {
      out[i] = err == ENOENT ? 0 : -1;
      return;
    }
    const size_t count = bytes.size() / sizeof(READ_POINT);
    for (size_t k = 0; k < count; k++) {
      READ_POINT m;
      std::memcpy(&m, bytes.data() + k * sizeof m, sizeof m);
      if (field(m.USER_ID) == me) out[i]++;
    }
  });
  return out;
}

int unread_count(int32_t folder) {
  std::string me = current_user();
  if (ChkUNREAD(folder, me.c_str()) > 0) return 0;
  // From the derived read data, built in one pass over the board where it
  // is missing or stale. A message counts once, whatever number of marks
  // of the user its file holds, as on the unread list.
  ReadView v;
  return read_view(folder, me, v) ? v.count : -1;
}

std::vector<bool> have_dirs(const std::vector<int32_t>& folders) {
  std::vector<bool> out(folders.size(), true);
  if (folders.size() <= 16) return out;  // asking costs less than listing
  DIR* d = opendir(msg_data_dir().c_str());
  if (!d) return out;
  std::vector<int32_t> seen;
  while (const dirent* e = readdir(d)) {
    if (e->d_type != DT_DIR && e->d_type != DT_UNKNOWN && e->d_type != DT_LNK) continue;
    // Only a number as the paths spell it names a board's directory.
    const std::string_view name(e->d_name);
    if (name.empty() || name.size() > 10 || (name[0] == '0' && name.size() > 1) ||
        name.find_first_not_of("0123456789") != std::string_view::npos)
      continue;
    const long long n = std::atoll(e->d_name);
    if (n <= INT32_MAX) seen.push_back(static_cast<int32_t>(n));
  }
  closedir(d);
  std::sort(seen.begin(), seen.end());
  for (size_t i = 0; i < folders.size(); i++)
    out[i] = std::binary_search(seen.begin(), seen.end(), folders[i]);
  return out;
}

std::vector<int> unread_counts(const std::vector<int32_t>& folders) {
  std::vector<int> out(folders.size(), 0);
  const std::string me = current_user();
  const std::vector<bool> dirs = have_dirs(folders);
  const std::vector<bool> off = ChkUNREAD_many(folders, me.c_str(), &dirs);
  for (size_t i = 0; i < folders.size(); i++) {
    if (!dirs[i] || off[i]) continue;
    ReadView v;
    out[i] = read_view(folders[i], me, v) ? v.count : -1;
  }
  return out;
}

std::vector<int32_t> unread_numbers(int32_t folder) {
  ReadView v;
  if (!read_view(folder, current_user(), v, true)) return {};
  return std::move(v.numbers);
}

std::vector<std::vector<int32_t>> unread_numbers_many(const std::vector<int32_t>& folders,
                                                      const std::vector<OpenedIndex>* opened) {
  std::vector<ReadView> views;
  std::vector<FileStamp> stamps;
  if (opened)
    for (const OpenedIndex& o : *opened) stamps.push_back(o.fd.ok() ? stamp_of(o.st) : FileStamp());
  const std::vector<bool> readable = read_views(folders, current_user(), views, true, opened ? &stamps : nullptr);
  std::vector<std::vector<int32_t>> out(folders.size());
  for (size_t i = 0; i < folders.size(); i++)
    if (readable[i]) out[i] = std::move(views[i].numbers);
  return out;
}

OpenedIndex open_index(int32_t folder) {
  OpenedIndex out;
  out.fd.reset(open(msg_index_path(folder).c_str(), O_RDONLY | O_CLOEXEC));
  if (out.fd.ok() && fstat(out.fd.get(), &out.st) != 0) out.fd.reset();
  return out;
}

std::vector<OpenedIndex> open_indexes(const std::vector<int32_t>& folders) {
  std::vector<OpenedIndex> out;
  out.reserve(folders.size());
  for (int32_t f : folders) out.push_back(open_index(f));
  return out;
}

int CountREAD_POINT(int32_t folder) {
  const int n = unread_count(folder);
  ReadINDEX_DATA_MAX(folder, 2);
  return n;
}

// ---- Attachment list -----------------------------------------------------

bool load_add_files(int32_t folder, std::vector<ADD_FILE>& out) {
  out.clear();
  return load_records(msg_add_list_path(folder).c_str(), out);
}

bool load_add_files(int32_t folder, int32_t msg, std::vector<ADD_FILE>& out) {
  out.clear();
  return scan_records<ADD_FILE>(msg_add_list_path(folder).c_str(), [&](const ADD_FILE& r) {
    if (r.MSG_NO == msg) out.push_back(r);
    return false;
  });
}

const ADD_FILE* find_add_file(const std::vector<ADD_FILE>& list, int32_t msg, int32_t slot) {
  for (const ADD_FILE& r : list)
    if (r.MSG_NO == msg && r.ADD_NO == slot) return &r;
  return nullptr;
}

int ReadADD_FILE(int32_t folder) {
  const int32_t msg = sADD_FILE.MSG_NO, slot = sADD_FILE.ADD_NO;
  bool found = false;
  scan_records<ADD_FILE>(msg_add_list_path(folder).c_str(), [&](const ADD_FILE& r) {
    if (r.MSG_NO != msg || r.ADD_NO != slot) return false;
    sADD_FILE = r;
    return found = true;
  });
  return found ? 0 : -1;
}

int WriteADD_FILE(int32_t folder) {
  ADD_FILE rec = sADD_FILE;
  clean(rec);
  DirLock lock(msg_add_list_path(folder).c_str());
  drop_attached_sizes(folder);
  return upsert_record(msg_add_list_path(folder).c_str(), rec, [&rec](const ADD_FILE& r) {
    return r.MSG_NO == rec.MSG_NO && r.ADD_NO == rec.ADD_NO;
  });
}

namespace {

// Removes the attachment records `drop` selects. The board's derived sizes
// go first, and only when a record does (an edit that keeps its files
// leaves them alone).
template <class Drop>
int remove_add_files(int32_t folder, Drop drop) {
  DirLock lock(msg_add_list_path(folder).c_str());
  bool dropped = false;
  const int removed = remove_records<ADD_FILE>(
      msg_add_list_path(folder).c_str(), msg_add_list_tmp_path(folder).c_str(), [&](const ADD_FILE& r) {
        if (!drop(r)) return false;
        if (!dropped) drop_attached_sizes(folder);
        return dropped = true;
      });
  return removed > 0 ? 0 : -1;
}

}  // namespace

int DeleteADD_FILE(int32_t folder, int32_t msg) {
  return remove_add_files(folder, [msg](const ADD_FILE& r) { return r.MSG_NO == msg; });
}

int DeleteADD_FILE2(int32_t folder, int32_t msg, int32_t slot) {
  return remove_add_files(folder, [msg, slot](const ADD_FILE& r) { return r.MSG_NO == msg && r.ADD_NO == slot; });
}

void remove_attached_files(int32_t folder, int32_t msg, int32_t slot, const char* keep) {
  DirLock lock(msg_index_path(folder).c_str());
  const std::string dir = msg_attach_slot_path(folder, msg, slot);
  bool dropped = false;  // the board's derived sizes go before the first file
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d)) {
      const std::string_view name = e->d_name;
      if (name == "." || name == ".." || (keep && name == keep)) continue;
      if (!dropped) drop_attached_sizes(folder), dropped = true;
      const std::string path = dir + "/" + e->d_name;
      struct stat st;
      if (lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) {
        DelDIR(path.c_str());
        rmdir(path.c_str());
      } else {
        unlink(path.c_str());
      }
    }
    closedir(d);
  }
  // Each fails, as it should, while something is left in the directory.
  rmdir(dir.c_str());
  rmdir(msg_attach_dir_path(folder, msg).c_str());
}
