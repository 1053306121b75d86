// The access log: line format of log-ins and postings, the per-user
// statistic, pruning by date, and appends from many processes at once.
#include "store/syslog.h"

#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "settings/sysinfo.h"
#include "site.h"

namespace {

class SysLog : public ::testing::Test {
 protected:
  void SetUp() override {
    snprintf(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, "%s/", dir.path().c_str());
  }
  static SYSTEM_LOG event(const char* id, const char* time, int kind, int folder,
                          const char* addr = "", const char* agent = "") {
    SYSTEM_LOG e;
    memset(&e, 0, sizeof e);
    strcpy(e.USER_ID, id);
    strcpy(e.LOG_TIME, time);
    e.LOG_KIND = kind;
    e.FOLDER_NO = folder;
    strcpy(e.REMOTE_ADDR, addr);
    strcpy(e.HTTP_USER_AGENT, agent);
    return e;
  }
  std::string log() { return read_file_bytes(dir / "system.log"); }
  TempDir dir;
};

TEST_F(SysLog, LineFormats) {
  SYSTEM_LOG in = event("Taro", "2001/03/05 09:07", 1, 0, "10.0.0.1", "Br, with comma");
  SYSTEM_LOG wr = event("Hana", "2001/03/05 09:08", 2, 17);
  EXPECT_EQ(WriteSYSTEM_LOG(&in), 0);
  EXPECT_EQ(WriteSYSTEM_LOG(&wr), 0);
  SYSTEM_LOG odd = event("X", "2001/03/05 09:09", 3, 0);
  EXPECT_EQ(WriteSYSTEM_LOG(&odd), -1);
  EXPECT_EQ(log(),
            "2001/03/05 09:07,Taro,login,0,10.0.0.1,Br, with comma\n"
            "2001/03/05 09:08,Hana,write,17,,\n");
}

TEST_F(SysLog, PerUserStatistic) {
  std::string text;
  for (int i = 1; i <= 3; i++) text += "2001/03/0" + std::to_string(i) + " 10:00,Taro,login,0,a,b\n";
  for (int i = 0; i < 5; i++) text += "2001/03/04 11:00,Taro,write,3,,\n";
  text += "2001/03/09 12:00,TARO,login,0,a,b\n";  // another user by case
  text += "no comma at all\n2001/03/09 12:00,Taro\n2001/03/09 12:00,Taro,login\n";
  text += "2001/03/09 13:00,Hana,write,1,,\n";
  write_file_bytes(dir / "system.log", text);

  ReadSYSTEM_LOG("Taro");
  EXPECT_EQ(sSYSTEM_LOG.LOG_KIND, 3);
  EXPECT_EQ(sSYSTEM_LOG.FOLDER_NO, 5);
  EXPECT_STREQ(sSYSTEM_LOG.LOG_TIME, "2001/03/03 10:00");

  ReadSYSTEM_LOG("Hana");  // writings but no log-in left
  EXPECT_EQ(sSYSTEM_LOG.LOG_KIND, 0);
  EXPECT_EQ(sSYSTEM_LOG.FOLDER_NO, 1);
  EXPECT_STREQ(sSYSTEM_LOG.LOG_TIME, "");
}

TEST_F(SysLog, MissingLogIsNeitherReadNorCreated) {
  sSYSTEM_LOG.LOG_KIND = 42;
  ReadSYSTEM_LOG("Taro");
  EXPECT_EQ(sSYSTEM_LOG.LOG_KIND, 42);
  DeleteSYSTEM_LOG("2001/03/05");
  EXPECT_FALSE(file_exists(dir / "system.log"));
}

TEST_F(SysLog, PruneRemovesCutoffDayAndBefore) {
  write_file_bytes(dir / "system.log",
                   "2000/12/31 23:59,A,login,0,,\n"
                   "2001/03/05 00:00,B,login,0,,\n"
                   "2001/03/05 23:59,C,write,1,,\n"
                   "2001/03/06 00:00,D,login,0,,\n"
                   "2002/01/01 00:00,E,login,0,,\n");
  DeleteSYSTEM_LOG("2001/03/05 12:00");
  EXPECT_EQ(log(), "2001/03/06 00:00,D,login,0,,\n2002/01/01 00:00,E,login,0,,\n");
  EXPECT_FALSE(file_exists(dir / "system.log.tmp"));
}

TEST_F(SysLog, SimultaneousAppendsKeepEveryLine) {
  constexpr int kProcs = 8, kLines = 200;
  std::string agent(240, 'u');
  for (int p = 0; p < kProcs; p++) {
    if (fork() == 0) {
      std::string id = "user" + std::to_string(p);
      SYSTEM_LOG e = event(id.c_str(), "2001/03/05 09:07", 1, 0, "1.2.3.4", agent.c_str());
      for (int i = 0; i < kLines; i++) WriteSYSTEM_LOG(&e);
      _exit(0);
    }
  }
  for (int p = 0; p < kProcs; p++) wait(nullptr);
  std::string text = log();
  std::string tail = ",login,0,1.2.3.4," + agent + "\n";
  EXPECT_EQ(text.size(), kProcs * kLines * (std::string("2001/03/05 09:07,user0").size() + tail.size()));
  for (int p = 0; p < kProcs; p++) {
    ReadSYSTEM_LOG(("user" + std::to_string(p)).c_str());
    EXPECT_EQ(sSYSTEM_LOG.LOG_KIND, kLines);
  }
}

}  // namespace
