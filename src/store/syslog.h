// The access log "system.log": one text line per log-in or posting, read
// back as a per-user statistic and pruned by date.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <unordered_map>

struct SYSTEM_LOG {
  char USER_ID[22];
  char LOG_TIME[20];
  int32_t LOG_KIND;   // 1 log-in, 2 writing; after a read: log-ins found
  int32_t FOLDER_NO;  // folder written to; after a read: writings found
  char REMOTE_ADDR[252];
  char HTTP_USER_AGENT[252];
};
static_assert(offsetof(SYSTEM_LOG, USER_ID) == 0);
static_assert(offsetof(SYSTEM_LOG, LOG_TIME) == 22);
static_assert(offsetof(SYSTEM_LOG, LOG_KIND) == 44);
static_assert(offsetof(SYSTEM_LOG, FOLDER_NO) == 48);
static_assert(offsetof(SYSTEM_LOG, REMOTE_ADDR) == 52);
static_assert(offsetof(SYSTEM_LOG, HTTP_USER_AGENT) == 304);
static_assert(sizeof(SYSTEM_LOG) == 556);

extern SYSTEM_LOG sSYSTEM_LOG;

constexpr int LOG_KIND_LOGIN = 1;
constexpr int LOG_KIND_WRITE = 2;

// Appends the event's line "time,id,login|write,folder,address,agent\n".
// 0, or -1 when the log cannot be written (or the kind is unknown).
int WriteSYSTEM_LOG(const SYSTEM_LOG* rec);
// Counts `user_id`'s log-ins into sSYSTEM_LOG.LOG_KIND and writings into
// FOLDER_NO, and leaves the time of the latest log-in in LOG_TIME. A missing
// log leaves sSYSTEM_LOG as it was.
void ReadSYSTEM_LOG(const char* user_id);
// One user's statistic as ReadSYSTEM_LOG gathers it, in 64 bits.
struct LogStat {
  std::string last_login;  // time of the latest log-in, empty when none
  int64_t logins = 0;
  int64_t writings = 0;
};
struct LogIdHash {
  using is_transparent = void;
  size_t operator()(std::string_view s) const { return std::hash<std::string_view>{}(s); }
};
using LogStats = std::unordered_map<std::string, LogStat, LogIdHash, std::equal_to<>>;
// Every user's statistic from one read of the log, keyed by the ID as the
// lines hold it (ReadSYSTEM_LOG compares it exactly). Empty when the log is
// missing.
LogStats ReadSYSTEM_LOG_all();
// Removes the lines dated on or before the date in the first 10 characters
// of `cutoff` ("YYYY/MM/DD").
void DeleteSYSTEM_LOG(const char* cutoff);
// True when the setting LOG_DATE, read as a decimal number, is 1 or more.
bool log_enabled();
