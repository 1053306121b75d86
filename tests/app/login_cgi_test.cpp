// Log-in, key check and log-off through the real program, and a dozen
// members logging in at the same moment.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "app/login.h"
#include "site.h"

namespace {

std::vector<MST_SKEY> key_records(const Site& s) {
  std::string bytes = read_file_bytes(s.data_file("skey.mst"));
  std::vector<MST_SKEY> v(bytes.size() / sizeof(MST_SKEY));
  if (!v.empty()) memcpy(static_cast<void*>(v.data()), bytes.data(), v.size() * sizeof(MST_SKEY));
  return v;
}

bool is_frameset(const Response& r, const std::string& key) {
  return r.out.find("<FRAME SRC = \"bbs.cgi?SKEY=" + key + "&JOB=FRM21\" NAME=\"FRM21\">") !=
         std::string::npos;
}

TEST(LoginCgi, LoginThenLaterRequestsInTheUsersLanguage) {
  Site s;
  s.add_user("Taro", "pw");
  std::ofstream(s.data_file("user.mst"), std::ios::app) << "Hana,Hana,1,,pw,0,1,1,1,own.lng,,0,\n";
  write_file_bytes(s.cgi_dir + "/own.lng", "1,OWN-HEAD\n2,OWN-COMMENT\n");
  // JOB=ROOM is overridden: a log-in always opens the top frameset.
  Response r = s.post({{"uid", "taro"}, {"upw", "pw"}, {"JOB", "ROOM"}});
  auto recs = key_records(s);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_STREQ(recs[0].USER_ID, "Taro");
  std::string taro = std::to_string(recs[0].SKEY);
  EXPECT_TRUE(is_frameset(r, taro)) << r.out;

  std::string hana = s.login("hana", "pw");
  Response t = s.get({{"SKEY", taro}, {"JOB", "TOP"}});
  EXPECT_TRUE(is_frameset(t, taro));
  EXPECT_NE(t.out.find("<HEAD>\nS1</HEAD>"), std::string::npos);
  Response h = s.get({{"SKEY", hana}});
  EXPECT_TRUE(is_frameset(h, hana));
  EXPECT_NE(h.out.find("<HEAD>\nOWN-HEAD</HEAD>\n<!--OWN-COMMENT-->"), std::string::npos);

  // A page name that names no page: nothing at all.
  Response none = s.get({{"SKEY", taro}, {"JOB", "NOSUCH"}});
  EXPECT_EQ(none.out, "");
  EXPECT_EQ(none.status, 0);
}

TEST(LoginCgi, KeyFromAnotherBrowserOrReplacedIsTurnedAway) {
  Site s;
  s.add_user("Taro", "pw");
  std::string first = s.login("Taro", "pw");
  Response other = s.run("GET", "SKEY=" + first + "&JOB=TOP", "", "",
                         {{"HTTP_USER_AGENT", "OtherBrowser/2.0"}});
  EXPECT_NE(other.out.find("<B>S6</B>"), std::string::npos);
  EXPECT_TRUE(is_frameset(s.get({{"SKEY", first}}), first));  // still fine in its own

  s.env["HTTP_USER_AGENT"] = "SecondBrowser/1.0";
  std::string second = s.login("Taro", "pw");
  EXPECT_TRUE(is_frameset(s.get({{"SKEY", second}}), second));
  s.env["HTTP_USER_AGENT"] = "TestBrowser/1.0";
  Response old = s.get({{"SKEY", first}});
  EXPECT_NE(old.out.find("<B>S6</B>"), std::string::npos);
  EXPECT_FALSE(is_frameset(old, first));
  EXPECT_EQ(key_records(s).size(), 1u);
}

TEST(LoginCgi, LogoffRemovesTheKey) {
  Site s;
  s.add_user("Taro", "pw");
  s.add_user("Hana", "pw");
  std::string hana = s.login("Hana", "pw");
  std::string taro = s.login("Taro", "pw");
  Response r = s.get({{"SKEY", taro}, {"JOB", "LOGOFF"}});
  EXPECT_NE(r.out.find("NAME=\"uid\""), std::string::npos);  // the log-in page
  auto recs = key_records(s);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_STREQ(recs[0].USER_ID, "Hana");
  EXPECT_NE(s.get({{"SKEY", taro}}).out.find("<B>S6</B>"), std::string::npos);

  s.write_settings("LOGOFF_URL,http://bye.example/,\n");
  Response bye = s.get({{"SKEY", hana}, {"JOB", "LOGOFF"}});
  EXPECT_NE(bye.out.find("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=http://bye.example/\">"),
            std::string::npos);
  EXPECT_EQ(key_records(s).size(), 0u);
}

TEST(LoginCgi, GuestSharesOneKeyAndCannotLogOff) {
  Site s;
  s.add_user("Guest", "g", 1, 2);
  std::string key = s.login("Guest", "g");
  std::string before = read_file_bytes(s.data_file("skey.mst"));
  Response r = s.get({{"SKEY", key}, {"JOB", "LOGOFF"}});
  EXPECT_EQ(r.out, "");
  EXPECT_EQ(read_file_bytes(s.data_file("skey.mst")), before);
  s.env["HTTP_USER_AGENT"] = "Elsewhere/3";  // a guest's key is not bound to a browser
  EXPECT_EQ(s.login("guest", "g"), key);
  EXPECT_TRUE(is_frameset(s.get({{"SKEY", key}}), key));
  // Only the first of the guest's log-ins is in the access log.
  std::string log = read_file_bytes(s.data_file("system.log"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 1);
}

TEST(LoginCgi, ADozenSimultaneousLoginsKeepEveryKeyAndLogLine) {
  constexpr int kUsers = 12;
  Site s;
  for (int i = 0; i < kUsers; i++) s.add_user("user" + std::to_string(i), "pw");
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> kids;
  for (int i = 0; i < kUsers; i++) {
    pid_t pid = fork();
    if (pid == 0) {
      close(go[1]);
      char c;
      (void)!read(go[0], &c, 1);  // wait until every child is ready
      std::string key = s.login("USER" + std::to_string(i), "pw");
      write_file_bytes(s.dir / ("key" + std::to_string(i)), key);
      _exit(key.empty() ? 1 : 0);
    }
    kids.push_back(pid);
  }
  close(go[0]);
  close(go[1]);  // releases them all at once
  for (pid_t pid : kids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  EXPECT_EQ(read_file_bytes(s.data_file("skey.mst")).size(), kUsers * sizeof(MST_SKEY));
  std::map<std::string, int32_t> by_user;
  std::set<int32_t> distinct;
  for (const MST_SKEY& r : key_records(s)) {
    by_user[r.USER_ID] = r.SKEY;
    distinct.insert(r.SKEY);
  }
  EXPECT_EQ(distinct.size(), static_cast<size_t>(kUsers));
  for (int i = 0; i < kUsers; i++) {
    std::string id = "user" + std::to_string(i);
    ASSERT_TRUE(by_user.count(id)) << id;
    EXPECT_EQ(read_file_bytes(s.dir / ("key" + std::to_string(i))), std::to_string(by_user[id]));
  }

  std::string log = read_file_bytes(s.data_file("system.log"));
  std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d,(user\d+),login,0,127\.0\.0\.1,TestBrowser/1\.0\n)");
  std::set<std::string> logged;
  int lines = 0;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) {
    logged.insert((*it)[1]);
    lines++;
  }
  EXPECT_EQ(lines, kUsers);
  EXPECT_EQ(logged.size(), static_cast<size_t>(kUsers));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), kUsers);
}

}  // namespace
