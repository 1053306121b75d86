// Log-in, key check and log-off: key record, log line, browser binding, the
// guest account, keys not guessable from the clock, simultaneous log-ins.

#include "app/login.h"
#include "board.h"

namespace {

std::vector<MST_SKEY> key_records(const Site& s) { return s.records<MST_SKEY>("skey.mst"); }
bool is_frameset(const Response& r, const std::string& key) { return has(r.out, "?SKEY=" + key + "&JOB=FRM21\""); }
bool is_invalid_key_page(const Response& r) { return has(r.out, "<B>S6</B>"); }
bool is_login_page(const Response& r) { return has(r.out, "NAME=\"uid\""); }

TEST(LoginCgi, LoginThenLaterRequestsInTheUsersLanguage) {
  Site s;
  s.add_user("Taro", "pw");
  std::ofstream(s.data_file("user.mst"), std::ios::app) << "Hana,Hana,1,,pw,0,1,1,1,own.lng,,0,\n";
  write_file_bytes(s.cgi_dir + "/own.lng", "1,OWN-HEAD\n2,OWN-COMMENT\n");
  EXPECT_TRUE(is_login_page(s.post({{"uid", "Taro"}, {"upw", "PW"}})));
  EXPECT_TRUE(key_records(s).empty());  // a refused log-in stores no key
  // JOB=ROOM is overridden: a log-in always opens the top frameset.
  Response r = s.post({{"uid", "taro"}, {"upw", "pw"}, {"JOB", "ROOM"}});
  auto recs = key_records(s);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_STREQ(recs[0].USER_ID, "Taro");
  std::string taro = std::to_string(recs[0].SKEY);
  EXPECT_TRUE(is_frameset(r, taro));
  // A number beyond 32 bits must not wrap onto the key.
  std::string wrapped = std::to_string(std::stoll(taro) + (1LL << 32));
  EXPECT_TRUE(is_invalid_key_page(s.get({{"SKEY", wrapped}})));
  EXPECT_TRUE(has(s.get({{"SKEY", s.login("hana", "pw")}}).out, "<HEAD>\nOWN-HEAD</HEAD>\n<!--OWN-COMMENT-->"));

  // The key works only in its own browser, and a log-in elsewhere replaces it.
  EXPECT_TRUE(is_invalid_key_page(
      s.run("GET", "SKEY=" + taro, "", "", {{"HTTP_USER_AGENT", "OtherBrowser/2.0"}})));
  s.env["HTTP_USER_AGENT"] = "SecondBrowser/1.0";
  std::string second = s.login("Taro", "pw");
  EXPECT_TRUE(is_frameset(s.get({{"SKEY", second}}), second));
  s.env["HTTP_USER_AGENT"] = "TestBrowser/1.0";
  EXPECT_TRUE(is_invalid_key_page(s.get({{"SKEY", taro}})));
  EXPECT_EQ(key_records(s).size(), 2u);
}

TEST(LoginCgi, LogoffRemovesTheKeyButNotAGuests) {
  Site s;
  s.add_user("Taro", "pw");
  s.add_user("Guest", "g", 1, 2);
  std::string guest = s.login("Guest", "g"), taro = s.login("Taro", "pw");
  EXPECT_TRUE(is_login_page(s.get({{"SKEY", taro}, {"JOB", "LOGOFF"}})));
  auto recs = key_records(s);
  ASSERT_EQ(recs.size(), 1u);
  EXPECT_STREQ(recs[0].USER_ID, "Guest");
  EXPECT_TRUE(is_invalid_key_page(s.get({{"SKEY", taro}})));

  // A guest's log-off writes nothing; the key stays, in any browser; one log line.
  EXPECT_EQ(s.get({{"SKEY", guest}, {"JOB", "LOGOFF"}}).out, "");
  s.env["HTTP_USER_AGENT"] = "Elsewhere/3";
  EXPECT_EQ(s.login("guest", "g"), guest);
  EXPECT_TRUE(has(s.get({{"SKEY", guest}}).out, "ginfo.html\" NAME=\"FRM22\""));
  EXPECT_EQ(key_records(s).size(), 1u);
  std::string log = read_file_bytes(s.data_file("system.log"));
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), 2);

  s.write_settings("LOGOFF_URL,http://bye.example/,\n");
  EXPECT_TRUE(has(s.get({{"SKEY", s.login("Taro", "pw")}, {"JOB", "LOGOFF"}}).out, "URL=http://bye.example/\">"));
  EXPECT_EQ(key_records(s).size(), 1u);
}

TEST(LoginCgi, LongBrowserIdentificationAndSilentLogDate) {
  Site s;
  s.add_user("Taro", "pw");
  s.env["HTTP_USER_AGENT"] = std::string(300, 'x');
  std::string key = s.login("Taro", "pw");
  // The key record keeps 250 bytes, the log line 251; later requests cut it alike.
  std::string rec = read_file_bytes(s.data_file("skey.mst"));
  ASSERT_EQ(rec.size(), sizeof(MST_SKEY));
  EXPECT_EQ(rec.substr(278), std::string(250, 'x') + std::string(4, '\0'));
  EXPECT_EQ(read_file_bytes(s.data_file("system.log")).substr(16),
            ",Taro,login,0,127.0.0.1," + std::string(251, 'x') + "\n");
  EXPECT_TRUE(is_frameset(s.get({{"SKEY", key}}), key));

  // LOG_DATE 0 or empty: no log line.
  std::remove(s.data_file("system.log").c_str());
  for (std::string days : {"0", ""}) {
    write_file_bytes(s.ini, std::regex_replace(read_file_bytes(s.ini), std::regex("LOG_DATE,\\d*,"),
                                               "LOG_DATE," + days + ","));
    EXPECT_NE(s.login("Taro", "pw"), "");
  }
  EXPECT_FALSE(file_exists(s.data_file("system.log")));
}

TEST(LoginCgi, ADozenSimultaneousLoginsKeepEveryKeyAndLogLine) {
  constexpr size_t kUsers = 12;
  Site s;
  for (size_t i = 0; i < kUsers; i++) s.add_user("user" + std::to_string(i), "pw");
  time_t start = time(nullptr);
  EXPECT_TRUE(run_together(kUsers, [&](int i) {
    return s.login("USER" + std::to_string(i), "pw").empty() ? 1 : 0;
  }));

  std::set<std::string> ids;
  std::set<int32_t> keys;
  for (const MST_SKEY& r : key_records(s)) ids.insert(r.USER_ID), keys.insert(r.SKEY);
  EXPECT_EQ(read_file_bytes(s.data_file("skey.mst")).size(), kUsers * sizeof(MST_SKEY));
  EXPECT_EQ(ids.size() + keys.size(), 2 * kUsers);
  // None is the first number of the C generator seeded with the time.
  for (time_t t = start - 1; t <= time(nullptr) + 1; t++) {
    srand(static_cast<unsigned>(t));
    EXPECT_EQ(keys.count(rand()), 0u);
  }

  // Every line whole, in the access log's format, one per user.
  std::string log = read_file_bytes(s.data_file("system.log"));
  std::regex line(R"(\d{4}/\d\d/\d\d \d\d:\d\d,(user\d+),login,0,127\.0\.0\.1,TestBrowser/1\.0\n)");
  std::set<std::string> logged;
  for (std::sregex_iterator it(log.begin(), log.end(), line), end; it != end; ++it) logged.insert((*it)[1]);
  EXPECT_EQ(logged.size(), kUsers);
  EXPECT_EQ(std::count(log.begin(), log.end(), '\n'), kUsers);
}

TEST(LoginCgi, KeysFoundFarIntoALongKeyFile) {
  Site s;
  std::vector<MST_SKEY> keys(400);
  for (int i = 0; i < 400; i++) {
    s.add_user("user" + std::to_string(i), "pw");
    keys[i].SKEY = 5000 + i;
    set_field(keys[i].USER_ID, "user" + std::to_string(i));
    set_field(keys[i].HTTP_USER_AGENT, "TestBrowser/1.0");
  }
  write_file_bytes(s.data_file("skey.mst"), std::string(record_bytes(keys)) + "partial");
  EXPECT_TRUE(is_frameset(s.get({{"SKEY", "5399"}, {"JOB", "TOP"}}), "5399"));
  EXPECT_TRUE(is_invalid_key_page(s.get({{"SKEY", "5400"}})));
  // A new key avoids every number taken, and the user's old record is replaced.
  std::string key = s.login("user399", "pw");
  auto recs = key_records(s);
  EXPECT_EQ(recs.size(), 400u);
  EXPECT_EQ(std::count_if(recs.begin(), recs.end(), [&](auto& r) { return std::to_string(r.SKEY) == key; }), 1);
}

}  // namespace
