// The chat store: a room's lines in "chat.dat" and its members' entries in
// "chat.idx". Writers hold the room directory's lock from their read to
// their write, so that simultaneous lines and first entries are all kept.
#include "store/chat.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string>
#include <string_view>

#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/fileio.h"
#include "store/folder.h"
#include "store/records.h"

CHAT_DATA sCHAT_DATA;
CHAT_IDX sCHAT_IDX;

namespace {

std::string room_dir(int32_t folder) { return folder_dir_path(SYSINFO.DATA_FILE_PATH, folder); }
std::string idx_path(int32_t folder) { return room_dir(folder) + "/chat.idx"; }
std::string dat_path(int32_t folder) { return room_dir(folder) + "/chat.dat"; }

// Every field cut to its width and zero after its text, whatever the caller
// left in the buffer.
void clean(CHAT_DATA& r) {
  refit(r.USER_NAME);
  refit(r.COLOR);
  refit(r.MTALK);
  refit(r.TALK_DATE);
  refit(r.REMOTE_ADDR);
  refit(r.HTTP_USER_AGENT);
}

void clean(CHAT_IDX& r) {
  refit(r.USER_ID);
  refit(r.COLOR);
  refit(r.LAST_DATE);
  std::memset(r.reserved, 0, sizeof r.reserved);
}

// The ID as the entry's field holds it.
std::string id_key(const char* user_id) {
  std::string_view id(user_id ? user_id : "");
  return std::string(id.substr(0, sjis_fit(id, sizeof(CHAT_IDX::USER_ID) - 1)));
}

// Reads the first `max` whole lines of "chat.dat" (opened with b_open)
// straight into `out` after `front` slots left for the caller. The display
// frame is the most frequent request there is, so nothing is read or copied
// twice.
bool read_lines(const std::string& path, std::vector<CHAT_DATA>& out, size_t front, size_t max) {
  out.assign(front, CHAT_DATA{});
  Fd fd(b_open(path.c_str()));
  struct stat st;
  if (!fd.ok() || fstat(fd.get(), &st) != 0) return false;
  out.resize(front + std::min(static_cast<size_t>(st.st_size) / sizeof(CHAT_DATA), max));
  size_t got = 0, want = (out.size() - front) * sizeof(CHAT_DATA);
  char* dst = reinterpret_cast<char*>(out.data() + front);
  while (got < want) {
    ssize_t n = pread(fd.get(), dst + got, want - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    got += static_cast<size_t>(n);
  }
  out.resize(front + got / sizeof(CHAT_DATA));
  return true;
}

}  // namespace

int ReadCHAT_IDX(int32_t folder, const char* user_id) {
  std::memset(&sCHAT_IDX, 0, sizeof sCHAT_IDX);
  make_dir(room_dir(folder).c_str());
  std::vector<CHAT_IDX> recs;
  if (!load_records(idx_path(folder).c_str(), recs)) return -1;
  std::string id = id_key(user_id);
  for (const CHAT_IDX& r : recs) {
    if (field(r.USER_ID) != id) continue;
    sCHAT_IDX = r;
    return 0;
  }
  return -1;
}

int WriteCHAT_IDX(int32_t folder) {
  CHAT_IDX rec = sCHAT_IDX;
  clean(rec);
  std::string_view id = field(rec.USER_ID);
  make_dir(room_dir(folder).c_str());
  return upsert_record(idx_path(folder).c_str(), rec,
                       [id](const CHAT_IDX& r) { return field(r.USER_ID) == id; });
}

int MarkCHAT_IDX(int32_t folder, const char* user_id, const char* date, bool present_only) {
  make_dir(room_dir(folder).c_str());
  std::string path = idx_path(folder), id = id_key(user_id);
  DirLock lock(path.c_str());
  Fd fd;
  std::string bytes;
  if (!load_bytes_b_open(path.c_str(), bytes, fd)) return -1;
  std::vector<CHAT_IDX> recs;
  split_records(bytes, recs);
  for (size_t i = 0; i < recs.size(); i++) {
    CHAT_IDX& r = recs[i];
    if (field(r.USER_ID) != id) continue;
    if (present_only && field(r.LAST_DATE) <= std::string_view(CHAT_LEFT_DATE)) return -1;
    // Reloads within the same minute find the date already in place.
    if (field(r.LAST_DATE) == std::string_view(date)) return 0;
    set_field(r.LAST_DATE, date);
    clean(r);
    return pwrite_all(fd.get(), &r, sizeof r, static_cast<long>(i * sizeof r)) ? 0 : -1;
  }
  return -1;
}

bool load_chat_lines(int32_t folder, std::vector<CHAT_DATA>& out, size_t max) {
  make_dir(room_dir(folder).c_str());
  return read_lines(dat_path(folder), out, 0, max);
}

int ReadCHAT_DATA(int32_t folder, int n) {
  std::memset(&sCHAT_DATA, 0, sizeof sCHAT_DATA);
  std::vector<CHAT_DATA> lines;
  if (n < 0 || !load_chat_lines(folder, lines, static_cast<size_t>(n) + 1) ||
      static_cast<size_t>(n) >= lines.size())
    return -1;
  sCHAT_DATA = lines.back();
  return 0;
}

int WriteCHAT_DATA(int32_t folder) {
  CHAT_DATA rec = sCHAT_DATA;
  clean(rec);
  make_dir(room_dir(folder).c_str());
  std::string path = dat_path(folder), tmp = path + ".tmp";
  DirLock lock(path.c_str());
  // The new line first, then the newest of the others; a partial record at
  // the end goes with the rewrite.
  std::vector<CHAT_DATA> lines;
  if (!read_lines(path, lines, 1, CHAT_LINES_KEPT - 1)) return -1;
  lines[0] = rec;
  return save_records(path.c_str(), tmp.c_str(), lines);
}
