// Log-in and session keys in-process: the key record's bytes, the log-in
// line, browser binding, refusals, key removal, keys that cannot be worked
// out from the clock, and many log-ins at once.
#include "app/login.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "settings/sysinfo.h"
#include "site.h"
#include "store/user.h"

namespace {

class Login : public ::testing::Test {
 protected:
  void SetUp() override {
    snprintf(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, "%s/", dir.path().c_str());
    strcpy(SYSINFO.LOG_DATE, "30");
    SYSINFO.LANGUAGE[0] = '\0';
    setenv("REMOTE_ADDR", "10.1.2.3", 1);
    setenv("HTTP_USER_AGENT", "Browser/1", 1);
  }
  void user(const std::string& id, const std::string& pw, int mode = 1) {
    std::string line = id + "," + id + ",1,," + pw + ",0,1," + std::to_string(mode) + ",1,,,0,\n";
    write_file_bytes(dir / "user.mst", read_file_bytes(dir / "user.mst") + line);
  }
  int32_t login(const char* id, const char* pw) {
    char buf[24];
    strcpy(buf, id);
    return G_LoginChk(buf, pw);
  }
  static int check(int32_t key) { return G_SkeyChk(std::to_string(key).c_str()); }
  std::string keys() { return read_file_bytes(dir / "skey.mst"); }
  std::string log() { return read_file_bytes(dir / "system.log"); }
  TempDir dir;
};

TEST_F(Login, KeyRecordAndLogLineUnderStoredSpelling) {
  user("Taro", "pw");
  std::string agent(300, 'x');
  setenv("HTTP_USER_AGENT", agent.c_str(), 1);
  char uid[24] = "TARO";
  int32_t key = G_LoginChk(uid, "pw");
  ASSERT_GE(key, 0);
  EXPECT_STREQ(uid, "Taro");

  std::string rec = keys();
  ASSERT_EQ(rec.size(), 532u);
  uint32_t k = static_cast<unsigned char>(rec[0]) | static_cast<unsigned char>(rec[1]) << 8 |
               static_cast<unsigned char>(rec[2]) << 16 | static_cast<uint32_t>(static_cast<unsigned char>(rec[3])) << 24;
  EXPECT_EQ(k, static_cast<uint32_t>(key));
  EXPECT_EQ(rec.substr(4, 22), std::string("Taro") + std::string(18, '\0'));
  EXPECT_EQ(rec.substr(26, 252), std::string("10.1.2.3") + std::string(244, '\0'));
  EXPECT_EQ(rec.substr(278, 252), std::string(250, 'x') + std::string(2, '\0'));
  EXPECT_EQ(rec.substr(530), std::string(2, '\0'));

  // The log keeps one byte more of the browser identification.
  std::string line = log();
  ASSERT_EQ(line.size(), 16 + std::string(",Taro,login,0,10.1.2.3,").size() + 251 + 1);
  EXPECT_EQ(line.substr(16), ",Taro,login,0,10.1.2.3," + std::string(251, 'x') + "\n");
  EXPECT_EQ(line[4], '/');

  // Later requests present the full identification, which is cut the same way.
  EXPECT_EQ(check(key), 1);
  EXPECT_STREQ(sMST_USER.USER_ID, "Taro");
  setenv("HTTP_USER_AGENT", "Browser/2", 1);
  EXPECT_EQ(check(key), 0);
}

TEST_F(Login, RefusedLoginWritesNothing) {
  user("Taro", "pw");
  user("Nopass", "");
  EXPECT_EQ(login("Taro", "PW"), -1);
  EXPECT_EQ(login("Taro", ""), -1);
  EXPECT_EQ(login("Jiro", "pw"), -1);
  EXPECT_EQ(keys(), "");
  EXPECT_FALSE(file_exists(dir / "system.log"));
  EXPECT_GE(login("nopass", ""), 0);  // an empty stored password takes an empty one
}

TEST_F(Login, NoLogLineWhileLogDateBelowOne) {
  user("Taro", "pw");
  for (const char* v : {"0", "", "-3"}) {
    strcpy(SYSINFO.LOG_DATE, v);
    EXPECT_GE(login("Taro", "pw"), 0) << v;
  }
  EXPECT_FALSE(file_exists(dir / "system.log"));
}

TEST_F(Login, KeyTextsThatNameNoValidKey) {
  user("Taro", "pw");
  int32_t key = login("Taro", "pw");
  for (const char* t : {"abc", "-1", "99999999999999999999", ""})
    EXPECT_EQ(G_SkeyChk(t), 0) << t;
  // A key whose number lies beyond 32 bits must not wrap onto a real key.
  EXPECT_EQ(G_SkeyChk(std::to_string(key + 4294967296LL).c_str()), 0);
  DeleteMST_USER("Taro");
  EXPECT_EQ(check(key), 0);
  char id[24] = "junk";
  EXPECT_EQ(ReadMST_SKEY(key, id), -1);
  EXPECT_STREQ(id, "");
}

TEST_F(Login, KeysDoNotFollowTheClock) {
  std::set<int32_t> seen;
  time_t start = time(nullptr);
  for (int i = 0; i < 20; i++) {
    std::string id = "u" + std::to_string(i);
    user(id, "pw");
    seen.insert(login(id.c_str(), "pw"));
  }
  time_t end = time(nullptr);
  EXPECT_EQ(seen.size(), 20u);
  // None is the first number of the C generator seeded with the time.
  for (time_t t = start - 1; t <= end + 1; t++) {
    srand(static_cast<unsigned>(t));
    EXPECT_EQ(seen.count(rand()), 0u);
  }
}

TEST_F(Login, ManyProcessesLoggingInKeepEveryRecord) {
  constexpr int kProcs = 8, kEach = 30;
  for (int p = 0; p < kProcs; p++)
    for (int i = 0; i < kEach; i++) user("p" + std::to_string(p) + "u" + std::to_string(i), "pw");
  for (int p = 0; p < kProcs; p++) {
    if (fork() == 0) {
      for (int i = 0; i < kEach; i++)
        if (login(("p" + std::to_string(p) + "u" + std::to_string(i)).c_str(), "pw") < 0) _exit(1);
      _exit(0);
    }
  }
  for (int p = 0; p < kProcs; p++) {
    int status = 0;
    wait(&status);
    EXPECT_EQ(status, 0);
  }
  std::string bytes = keys();
  ASSERT_EQ(bytes.size(), kProcs * kEach * sizeof(MST_SKEY));
  std::set<int32_t> distinct;
  std::set<std::string> ids;
  for (size_t off = 0; off < bytes.size(); off += sizeof(MST_SKEY)) {
    MST_SKEY r;
    memcpy(&r, bytes.data() + off, sizeof r);
    distinct.insert(r.SKEY);
    ids.insert(r.USER_ID);
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kProcs * kEach));
  EXPECT_EQ(ids.size(), static_cast<size_t>(kProcs * kEach));
}

}  // namespace
