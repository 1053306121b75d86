// The message store: numbering and threading of the index, bodies, read
// marks, the attachment list, and the unread count of a board.
//
// Every change runs under the board directory's lock, so that numbering,
// inserts and rewrites of simultaneous requests never overlap; whole-file
// rewrites go through a temporary file renamed into place, so readers (which
// take no lock) see either the old or the new file.
#include "store/message.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <string_view>

#include "app/globals.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/fileio.h"
#include "store/records.h"
#include "store/unread.h"

INDEX_DATA sINDEX_DATA;
READ_POINT sREAD_POINT;
ADD_FILE sADD_FILE;

namespace {

__attribute__((format(printf, 1, 2))) std::string path_fmt(const char* fmt, ...) {
  char buf[PATH_SIZE];
  va_list ap;
  va_start(ap, fmt);
  vsnprintf(buf, sizeof buf, fmt, ap);
  va_end(ap);
  return buf;
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

// Inserts `rec` (MSG_NO: the message answered) into the index in thread
// order as message `n`: directly after the last message of the parent's
// subtree, or at the end heading a thread of its own when the parent is not
// in the index.
std::vector<INDEX_DATA> thread_in(const std::vector<INDEX_DATA>& recs, INDEX_DATA& rec,
                                  int32_t n) {
  std::vector<INDEX_DATA> out;
  out.reserve(recs.size() + 1);
  int32_t parent = rec.MSG_NO;
  rec.THREAD_NO = parent;
  bool seen = false, written = false;
  int32_t depth = 0;
  for (const INDEX_DATA& r : recs) {
    if (seen && !written && r.RES_DEPTH <= depth) {
      rec.MSG_NO = n;
      rec.RES_DEPTH = depth + 1;
      out.push_back(rec);
      written = true;
    }
    // Until it is written, the new record still carries the parent's number;
    // a later record of the same number takes over as parent.
    if (!written && r.MSG_NO == parent) {
      seen = true;
      rec.THREAD_NO = r.THREAD_NO;
      depth = r.RES_DEPTH;
    }
    out.push_back(r);
  }
  if (!written) {
    rec.MSG_NO = n;
    if (seen) {
      rec.RES_DEPTH = depth + 1;
    } else {
      rec.RES_DEPTH = 0;
      rec.THREAD_NO = parent;
    }
    out.push_back(rec);
  }
  return out;
}

}  // namespace

// ---- Paths ---------------------------------------------------------------

std::string msg_dir_path(int32_t folder) { return path_fmt("%s%d", data_path(), folder); }
std::string msg_index_path(int32_t folder) {
  return path_fmt("%s%d/%s", data_path(), folder, "index.dat");
}
std::string msg_index_tmp_path(int32_t folder) {
  return path_fmt("%s%d/%s.tmp", data_path(), folder, "index.dat");
}
std::string msg_body_path(int32_t folder, int32_t msg) {
  return path_fmt("%s%d/x%d.dat", data_path(), folder, msg);
}
std::string msg_mark_path(int32_t folder, int32_t msg) {
  return path_fmt("%s%d/r%d.dat", data_path(), folder, msg);
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
std::string msg_attach_dir_path(int32_t folder, int32_t msg) {
  return path_fmt("%s%d/x%d", SYSINFO.ADD_FILE_PATH, folder, msg);
}
std::string msg_attach_slot_path(int32_t folder, int32_t msg, int32_t slot) {
  return path_fmt("%s%d/x%d/%d", SYSINFO.ADD_FILE_PATH, folder, msg, slot);
}
std::string msg_attach_file_path(int32_t folder, int32_t msg, int32_t slot, const char* name) {
  return path_fmt("%s%d/x%d/%d/%s", SYSINFO.ADD_FILE_PATH, folder, msg, slot, name);
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

int WriteINDEX_DATA() {
  INDEX_DATA rec = sINDEX_DATA;
  clean(rec);
  int32_t folder = rec.FOLDER_NO;
  int32_t parent = rec.MSG_NO;
  if (parent < 0) return -1;

  make_dir(msg_dir_path(folder).c_str());
  std::string path = msg_index_path(folder);
  // Numbering and insert form one step: nobody else may read the index
  // between them, or two messages would share a number.
  DirLock lock(path.c_str());
  Fd fd;
  std::vector<INDEX_DATA> recs;
  if (!open_records(path.c_str(), fd, recs)) return -1;

  int32_t n = 1;
  for (const INDEX_DATA& r : recs) {
    if (r.MSG_NO == INT32_MAX) return -1;  // no number left
    if (r.MSG_NO >= n) n = r.MSG_NO + 1;
  }
  rec.DEL_FLG = 0;
  rec.RES_DEPTH = 0;

  if (parent == 0) {
    rec.MSG_NO = n;
    rec.THREAD_NO = n;
    // Appended after the last whole record, over any partial tail.
    long off = static_cast<long>(recs.size() * sizeof rec);
    if (!pwrite_all(fd.get(), &rec, sizeof rec, off)) return -1;
  } else {
    std::vector<INDEX_DATA> out = thread_in(recs, rec, n);
    fd.reset();
    if (save_records(path.c_str(), msg_index_tmp_path(folder).c_str(), out) != 0) return -1;
  }
  sINDEX_DATA = rec;

  // The number may have been used by a removed message: its body must not
  // show through, and its readers start afresh with the author alone.
  unlink(msg_body_path(folder, n).c_str());
  ResetREAD_POINT(folder, n);
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
  int done = 0;
  for (size_t i = 0; i < recs.size(); i++) {
    if (recs[i].MSG_NO != rec.MSG_NO) continue;
    if (!pwrite_all(fd.get(), &rec, sizeof rec, static_cast<long>(i * sizeof rec))) return -1;
    done++;
  }
  return done > 0 ? 0 : -1;
}

int DeleteINDEX_DATA(int32_t folder, int32_t msg) {
  int removed = remove_records<INDEX_DATA>(
      msg_index_path(folder).c_str(), msg_index_tmp_path(folder).c_str(),
      [msg](const INDEX_DATA& r) { return r.MSG_NO == msg; });
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
  return upsert_record(msg_mark_path(folder, rec.MSG_NO).c_str(), rec,
                [&id](const READ_POINT& r) { return field(r.USER_ID) == id; });
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
  // After the last whole record, over any partial tail.
  if (!pwrite_all(fd.get(), &mark, sizeof mark, static_cast<long>(recs.size() * sizeof mark)))
    return -1;
  sREAD_POINT = mark;
  return 0;
}

int ResetREAD_POINT(int32_t folder, int32_t msg) {
  READ_POINT mark = own_mark(msg);
  sREAD_POINT = mark;
  std::string path = msg_mark_path(folder, msg);
  DirLock lock(path.c_str());
  return replace_file(path.c_str(), msg_mark_tmp_path(folder, msg).c_str(),
                      std::string_view(reinterpret_cast<const char*>(&mark), sizeof mark));
}

int DeleteREAD_POINT(int32_t folder, int32_t msg) {
  int removed = remove_records<READ_POINT>(
      msg_mark_path(folder, msg).c_str(), msg_mark_tmp_path(folder, msg).c_str(),
      [msg](const READ_POINT& r) { return r.MSG_NO == msg; }, true);
  return removed < 0 ? -1 : 0;
}

int MarkAllREAD_POINT(int32_t folder) {
  const READ_POINT mark = own_mark(0);
  const std::string me(field(mark.USER_ID));
  // One lock for the whole board: every mark below is checked and appended
  // under it, as MarkREAD_POINT does for one message.
  DirLock lock(msg_index_path(folder).c_str());
  std::vector<INDEX_DATA> recs;
  if (!load_index(folder, recs)) return -1;
  std::vector<char> buf(64 * 1024);
  int added = 0, failed = 0;
  for (const INDEX_DATA& r : recs) {
    // Open (creating the file where it is missing), read, close; a write
    // only where the user has no mark yet.
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
  return failed ? -1 : added;
}

int CountREAD_POINT(int32_t folder) {
  std::string me = current_user();
  if (ChkUNREAD(folder, me.c_str()) > 0) return 0;
  std::vector<INDEX_DATA> recs;
  if (!load_index(folder, recs)) return 0;
  // One read of the index, then one read per read-mark file. A message
  // without a read-mark file simply has no readers; nothing is created.
  long unread = 0;
  std::string bytes;
  for (const INDEX_DATA& r : recs) {
    unread++;
    if (!read_file(msg_mark_path(folder, r.MSG_NO).c_str(), bytes)) {
      if (errno == ENOENT) continue;
      sINDEX_DATA = r;
      return -1;
    }
    size_t count = bytes.size() / sizeof(READ_POINT);
    for (size_t i = 0; i < count; i++) {
      READ_POINT m;
      std::memcpy(&m, bytes.data() + i * sizeof m, sizeof m);
      if (field(m.USER_ID) == me) unread--;
    }
  }
  if (!recs.empty()) sINDEX_DATA = recs.back();
  return static_cast<int>(unread);
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
  return upsert_record(msg_add_list_path(folder).c_str(), rec, [&rec](const ADD_FILE& r) {
    return r.MSG_NO == rec.MSG_NO && r.ADD_NO == rec.ADD_NO;
  });
}

int DeleteADD_FILE(int32_t folder, int32_t msg) {
  int removed = remove_records<ADD_FILE>(
      msg_add_list_path(folder).c_str(), msg_add_list_tmp_path(folder).c_str(),
      [msg](const ADD_FILE& r) { return r.MSG_NO == msg; });
  return removed > 0 ? 0 : -1;
}

int DeleteADD_FILE2(int32_t folder, int32_t msg, int32_t slot) {
  int removed = remove_records<ADD_FILE>(
      msg_add_list_path(folder).c_str(), msg_add_list_tmp_path(folder).c_str(),
      [msg, slot](const ADD_FILE& r) { return r.MSG_NO == msg && r.ADD_NO == slot; });
  return removed > 0 ? 0 : -1;
}
