// The access log "system.log" in the data directory.
//
// Lines are appended with a single write on a descriptor opened for
// appending, so simultaneous events never overwrite each other, and under
// the data directory's lock, so a pruning that is copying the log cannot
// drop a line appended meanwhile.
#include "store/syslog.h"

#include <cstdlib>
#include <cstring>
#include <algorithm>
#include <string>
#include <string_view>

#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/records.h"
#include "store/textrec.h"

SYSTEM_LOG sSYSTEM_LOG;

namespace {

std::string log_path() { return data_file("system.log"); }

// The first 10 bytes of the cut-off against the line's, as unsigned bytes,
// stopping at a terminator (the end of the line counts as one).
int compare_date(const char* cutoff, std::string_view line) {
  for (size_t i = 0; i < 10; i++) {
    unsigned char a = static_cast<unsigned char>(cutoff[i]);
    unsigned char b = i < line.size() ? static_cast<unsigned char>(line[i]) : 0;
    if (a != b) return a < b ? -1 : 1;
    if (a == 0) return 0;
  }
  return 0;
}

}  // namespace

bool log_enabled() { return atol(SYSINFO.LOG_DATE) >= 1; }

int WriteSYSTEM_LOG(const SYSTEM_LOG* rec) {
  const char* kind;
  if (rec->LOG_KIND == LOG_KIND_LOGIN)
    kind = "login";
  else if (rec->LOG_KIND == LOG_KIND_WRITE)
    kind = "write";
  else
    return -1;
  std::string line;
  line += field(rec->LOG_TIME);
  line += ',';
  line += field_text(field(rec->USER_ID));
  line += ',';
  line += kind;
  line += ',';
  line += std::to_string(rec->FOLDER_NO);
  line += ',';
  // The client's texts may hold commas (readers use only the first three
  // fields) but never a line end, which would forge a line of its own.
  auto one_line = [](std::string_view v) {
    return v.substr(0, std::min(v.size(), v.find_first_of("\r\n")));
  };
  line += one_line(field(rec->REMOTE_ADDR));
  line += ',';
  line += one_line(field(rec->HTTP_USER_AGENT));
  line += '\n';
  std::string path = log_path();
  DirLock lock(path.c_str());
  return append_file(path.c_str(), line);
}

void ReadSYSTEM_LOG(const char* user_id) {
  std::string text;
  if (!read_file(log_path().c_str(), text)) return;
  std::memset(sSYSTEM_LOG.LOG_TIME, 0, sizeof sSYSTEM_LOG.LOG_TIME);
  int32_t logins = 0, writings = 0;
  std::string_view want(user_id);
  for (std::string_view rest : line_pieces(text)) {
    std::string_view time, id, kind;
    if (!next_field(rest, time) || !next_field(rest, id)) continue;
    if (id != want) continue;
    if (!next_field(rest, kind)) continue;
    if (kind == "login") {
      logins++;
      set_field(sSYSTEM_LOG.LOG_TIME, time);
    } else if (kind == "write") {
      writings++;
    }
  }
  sSYSTEM_LOG.LOG_KIND = logins;
  sSYSTEM_LOG.FOLDER_NO = writings;
}

LogStats ReadSYSTEM_LOG_all() {
  LogStats out;
  std::string text;
  if (!read_file(log_path().c_str(), text)) return out;
  // Lines of one user tend to come in runs (a log-in, then postings), so
  // the entry found last is tried first.
  LogStat* last = nullptr;
  std::string_view last_id;
  for (std::string_view rest : line_pieces(text)) {
    std::string_view time, id, kind;
    if (!next_field(rest, time) || !next_field(rest, id) || !next_field(rest, kind)) continue;
    if (kind != "login" && kind != "write") continue;
    if (!last || id != last_id) {
      auto it = out.find(id);
      if (it == out.end()) it = out.emplace(std::string(id), LogStat{}).first;
      last = &it->second;
      last_id = it->first;
    }
    if (kind == "login") {
      last->logins++;
      last->last_login.assign(time.substr(0, sjis_fit(time, sizeof sSYSTEM_LOG.LOG_TIME - 1)));
    } else {
      last->writings++;
    }
  }
  return out;
}

void DeleteSYSTEM_LOG(const char* cutoff) {
  std::string path = log_path();
  DirLock lock(path.c_str());
  std::string text;
  if (!read_file(path.c_str(), text)) return;
  std::string out;
  out.reserve(text.size());
  for (std::string_view line : line_pieces(text))
    if (compare_date(cutoff, line) < 0) out += line;
  replace_file(path.c_str(), (path + ".tmp").c_str(), out);
}
