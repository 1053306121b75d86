// Log-in with user ID and password, session keys in "skey.mst", and the
// check of a key on every request.
//
// A key is a random number from the operating system's cryptographic source,
// so nobody can work it out from the time of a log-in. The check for a taken
// number and the writing of the new record happen under one lock, so two
// log-ins at the same moment never share a key or lose each other's record.
#include "app/login.h"

#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include <cerrno>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_set>
#include <vector>

#include "cgi/sjis.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/records.h"
#include "store/syslog.h"
#include "store/user.h"
#include "text/datetime.h"

static_assert(offsetof(MST_SKEY, SKEY) == 0);
static_assert(offsetof(MST_SKEY, USER_ID) == 4);
static_assert(offsetof(MST_SKEY, REMOTE_ADDR) == 26);
static_assert(offsetof(MST_SKEY, HTTP_USER_AGENT) == 278);
static_assert(offsetof(MST_SKEY, reserved) == 530);

MST_SKEY sMST_SKEY;

namespace {

// Longest client address and browser identification kept in a key record;
// the access-log record keeps one byte more.
constexpr size_t kKeyEnvMax = 250;
constexpr size_t kLogEnvMax = 251;

std::string skey_path() { return data_file("skey.mst"); }

// The first `max` bytes of a CGI variable (absent counts as empty), into a
// field cleared first.
template <size_t N>
void env_field(char (&dst)[N], const char* name, size_t max) {
  static_assert(N > 0);
  std::memset(dst, 0, N);
  const char* v = getenv(name);
  if (!v) return;
  size_t n = strnlen(v, max < N ? max : N - 1);
  std::memcpy(dst, v, n);
}

bool same_id(const char (&a)[22], const char* b) { return std::strncmp(a, b, sizeof a) == 0; }

// Fills `buf` from the kernel's random source; /dev/urandom stands in on a
// kernel without getrandom. False when neither gives the bytes.
bool random_bytes(unsigned char* buf, size_t len) {
  size_t got = 0;
  while (got < len) {
    ssize_t n = getrandom(buf + got, len - got, 0);
    if (n < 0) {
      if (errno == EINTR) continue;
      break;
    }
    got += static_cast<size_t>(n);
  }
  if (got == len) return true;
  Fd fd(open("/dev/urandom", O_RDONLY | O_CLOEXEC));
  while (fd.ok() && got < len) {
    ssize_t n = read(fd.get(), buf + got, len - got);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    got += static_cast<size_t>(n);
  }
  return got == len;
}

// A number 0 to 2^31 - 1, uniform (31 of 32 random bits); -1 without a
// random source, when a key could be guessed and none is issued.
int32_t draw_key() {
  unsigned char b[4];
  if (!random_bytes(b, sizeof b)) return -1;
  uint32_t v = uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24;
  return static_cast<int32_t>(v & 0x7FFFFFFFu);
}

// The key text read as a decimal number; false when it holds no digits or
// lies outside the range of keys.
bool key_number(const char* text, int32_t& out) {
  errno = 0;
  char* end = nullptr;
  long long v = strtoll(text, &end, 10);
  if (end == text || errno == ERANGE || v < 0 || v > INT32_MAX) return false;
  out = static_cast<int32_t>(v);
  return true;
}

}  // namespace

int32_t G_LoginChk(char* uid, const char* upw) {
  if (ReadMST_USER(uid) != 0) return -1;
  // Passwords are compared exactly, letter case included.
  if (field(sMST_USER.USER_PASS) != std::string_view(upw)) return -1;

  int32_t key;
  {
    // Held across the look-up of a free number and the write, so that
    // simultaneous log-ins see each other's keys.
    std::string path = skey_path();
    DirLock lock(path.c_str());

    // A guest account is shared: every log-in gets the key already issued.
    if (sMST_USER.MODE == 2) {
      int32_t existing = ReadMST_SKEY2(sMST_USER.USER_ID);
      if (existing >= 0) return existing;
    }

    std::unordered_set<int32_t> taken;
    scan_records<MST_SKEY>(path.c_str(), [&taken](const MST_SKEY& r) {
      taken.insert(r.SKEY);
      return false;
    });
    do {
      key = draw_key();
      if (key < 0) return -1;  // refused: the log-in page shows again
    } while (taken.count(key));

    std::memset(&sMST_SKEY, 0, sizeof sMST_SKEY);
    sMST_SKEY.SKEY = key;
    set_field(sMST_SKEY.USER_ID, field(sMST_USER.USER_ID));
    WriteMST_SKEY();
  }

  env_field(sSYSTEM_LOG.REMOTE_ADDR, "REMOTE_ADDR", kLogEnvMax);
  env_field(sSYSTEM_LOG.HTTP_USER_AGENT, "HTTP_USER_AGENT", kLogEnvMax);
  if (log_enabled()) {
    set_field(sSYSTEM_LOG.USER_ID, field(sMST_USER.USER_ID));
    set_date(sSYSTEM_LOG.LOG_TIME);
    sSYSTEM_LOG.LOG_KIND = LOG_KIND_LOGIN;
    sSYSTEM_LOG.FOLDER_NO = 0;
    WriteSYSTEM_LOG(&sSYSTEM_LOG);
  }
  return key;
}

int G_SkeyChk(const char* skey) {
  int32_t key;
  char user_id[sizeof(MST_USER::USER_ID)];
  if (!key_number(skey, key) || ReadMST_SKEY(key, user_id) != 0) return 0;
  // The user's record is in sMST_USER; a language of his own replaces the
  // system's message table.
  if (sMST_USER.LANGUAGE[0] && field(sMST_USER.LANGUAGE) != field(SYSINFO.LANGUAGE) &&
      language_file_name(sMST_USER.LANGUAGE))
    StrdefFileOpen(sMST_USER.LANGUAGE);
  return 1;
}

void WriteMST_SKEY() {
  env_field(sMST_SKEY.REMOTE_ADDR, "REMOTE_ADDR", kKeyEnvMax);
  env_field(sMST_SKEY.HTTP_USER_AGENT, "HTTP_USER_AGENT", kKeyEnvMax);
  std::memset(sMST_SKEY.reserved, 0, sizeof sMST_SKEY.reserved);
  // Over the user's record, or after the last whole record: the file is
  // read a chunk at a time up to that place, never held whole.
  std::string path = skey_path();
  DirLock lock(path.c_str());
  size_t at = 0;
  scan_records<MST_SKEY>(path.c_str(), [&at](const MST_SKEY& r) {
    if (same_id(r.USER_ID, sMST_SKEY.USER_ID)) return true;
    at++;
    return false;
  });
  put_record(path.c_str(), at, &sMST_SKEY, sizeof sMST_SKEY);
}

int ReadMST_SKEY(int32_t key, char* user_id) {
  user_id[0] = '\0';
  // Read a chunk at a time up to the key's record, which is all that is kept.
  MST_SKEY rec;
  bool hit = false;
  scan_records<MST_SKEY>(skey_path().c_str(), [&](const MST_SKEY& r) {
    if (r.SKEY != key) return false;
    rec = r;
    return hit = true;
  });
  if (!hit) return -1;
  const MST_SKEY* found = &rec;

  char id[sizeof found->USER_ID + 1] = {0};
  std::memcpy(id, found->USER_ID, sizeof found->USER_ID);
  if (ReadMST_USER(id) != 0) return -1;
  if (sMST_USER.MODE == 1) {
    // A member's key only works in the browser it was issued to.
    char agent[sizeof found->HTTP_USER_AGENT];
    env_field(agent, "HTTP_USER_AGENT", kKeyEnvMax);
    if (std::strncmp(agent, found->HTTP_USER_AGENT, sizeof agent) != 0) return -1;
  }
  std::strcpy(user_id, sMST_USER.USER_ID);
  return 0;
}

int32_t ReadMST_SKEY2(const char* user_id) {
  int32_t key = -1;
  scan_records<MST_SKEY>(skey_path().c_str(), [&](const MST_SKEY& r) {
    if (!same_id(r.USER_ID, user_id)) return false;
    key = r.SKEY;
    return true;
  });
  return key;
}

int DeleteMST_SKEY(const char* user_id) {
  // The file is rewritten even when the user held no key.
  std::string path = skey_path(), tmp = path + ".TMP";
  auto drop = [user_id](const MST_SKEY& r) { return same_id(r.USER_ID, user_id); };
  int removed = remove_records<MST_SKEY>(path.c_str(), tmp.c_str(), drop, true);
  return removed < 0 ? -1 : 0;
}
