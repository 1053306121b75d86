// Access log pages: administrators only, statistics, pruning by LOG_DATE, deleting users.
#include "board_site.h"
#include "text/datetime.h"

namespace {

std::string line(long long days_ago, const std::string& id, const char* kind) {
  return date_days_back(days_ago) + " 10:00," + id + "," + kind + ",1,,\n";
}

TEST(AccessLogCgi, StatisticsPruningDeletionAndAdministratorsOnly) {
  BoardSite s;
  std::string log = line(3, "Taro", "login") + line(2, "Hanako", "write") + line(1, "Bad", "login");
  for (int i = 0; i < 3; i++) log += line(1, "Taro", "login");
  for (int i = 0; i < 10; i++) log += line(1, "Taro", "write");
  for (int i = 0; i < 100000; i++) log += line(0, "Jiro", "write");
  log += line(0, "Jiro", "login");
  const std::string taro = s.key("Taro"), admin = s.key("Admin");
  write_file_bytes(s.data_file("system.log"), log);

  for (const char* job : {"AccessLogDISP", "AccessLogLastLogin", "AccessLogDOWNLOAD"})
    EXPECT_TRUE(refused(s.page(taro, {{"JOB", job}}))) << job;
  s.page(taro, {{"JOB", "AccessLogDeleteUser"}, {"USER_ID", "Hanako"}});
  EXPECT_TRUE(has(read_file_bytes(s.data_file("user.mst")), "\nHanako,"));

  // Per user: ID, name, last log-in, log-ins, writings, writings per 100 log-ins.
  const std::string day = date_days_back(1) + " 10:00", rows = std::regex_replace(
      joined(s.page(admin, {{"JOB", "AccessLogLastLogin"}}), "\"></TD>(.*)</TR>"), std::regex("(<[^>]*>)+"), "|");
  for (const std::string& row : Names{"|Taro|Taro Y|" + day + "|4|10|250| ", "|Bad|&lt;B&gt;Bad&lt;/B&gt;|" + day + "|1| ",
                                      "|Jiro|Jiro|" + date_days_back(0) + " 10:00|1|100000|10000000| "})
    EXPECT_TRUE(has(rows, row)) << row << "\n" << rows;
  EXPECT_TRUE(has(s.page(admin, {{"JOB", "AccessLogDOWNLOAD"}}),
                  "Content-Disposition: attachment; filename=system.log\n\n" + log.substr(0, 200)));

  // The entry page prunes the log to LOG_DATE days.
  log.clear();
  for (int d = 39; d >= 0; d--) log += line(d, "Taro", "login");
  write_file_bytes(s.data_file("system.log"), log);
  s.write_settings("LOG_DATE,999999999,\n");
  EXPECT_TRUE(has(s.page(admin, {{"JOB", "AccessLogDISP"}}), "<B>S112</B>"));
  EXPECT_EQ(read_file_bytes(s.data_file("system.log")), log);
  s.write_settings("LOG_DATE,30,\n");
  s.page(admin, {{"JOB", "AccessLogDISP"}});
  EXPECT_EQ(read_file_bytes(s.data_file("system.log")), log.substr(log.find(line(29, "Taro", "login"))));
  s.write_settings("LOG_DATE,0,\n");
  s.page(admin, {{"JOB", "AccessLogDISP"}});
  EXPECT_EQ(read_file_bytes(s.data_file("system.log")), "");

  // Deleting users removes them everywhere but from the log.
  s.folder(1, KIND_BOARD, 0, "Board");
  std::vector<B_U_ACL> acl = {{1, "Taro", 2}, {1, "Jiro", 1}, {1, "Hanako", 2}};
  write_file_bytes(s.data_file("b_u_acl.mst"), std::string(record_bytes(acl)));
  write_file_bytes(s.data_file("system.log"), line(0, "Taro", "login"));
  write_file_bytes(s.data_file("g_user.mst"), "1,Taro,\n2,Jiro,\n");
  std::string p = s.page(admin, {{"JOB", "AccessLogDeleteUser"}, {"USER_ID", "Taro"}, {"USER_ID", "Hanako"}, {"USER_ID", ""},
                     {"USER_ID", "Jiro"}});
  EXPECT_TRUE(has(p, "<B>S112 S247</B>") && !has(p, "VALUE=\"Taro\"") && has(p, "VALUE=\"Jiro\""));
  std::string users = read_file_bytes(s.data_file("user.mst"));
  EXPECT_FALSE(has(users, "Taro,") || has(users, "Hanako,"));
  EXPECT_EQ(read_file_bytes(s.data_file("b_u_acl.mst")), bytes_of(acl[1]));
  EXPECT_EQ(read_file_bytes(s.data_file("g_user.mst")), "2,Jiro,\n");
  EXPECT_TRUE(has(s.page(taro, {{"JOB", "FRM21"}}), "S6"));  // his session is gone
  EXPECT_EQ(read_file_bytes(s.data_file("system.log")), line(0, "Taro", "login"));
}

}  // namespace
