// The access log: line format and the per-user statistic.
#include "store/syslog.h"

#include "data_dir.h"

namespace {

using SysLog = DataDir;

// Log-ins, writings and the time of the latest log-in found for `id`.
std::tuple<int, int, std::string> statistic(const char* id) {
  ReadSYSTEM_LOG(id);
  return {sSYSTEM_LOG.LOG_KIND, sSYSTEM_LOG.FOLDER_NO, sSYSTEM_LOG.LOG_TIME};
}

TEST_F(SysLog, LineFormatsAndPerUserStatistic) {
  sSYSTEM_LOG.LOG_KIND = 42;
  EXPECT_EQ(std::get<0>(statistic("Taro")), 42);  // a missing log leaves the buffer alone
  SYSTEM_LOG e{"Taro", "2001/03/03 09:07", LOG_KIND_LOGIN, 0, "10.0.0.1", "Br, with comma"};
  EXPECT_EQ(WriteSYSTEM_LOG(&e), 0);
  e = SYSTEM_LOG{"Taro", "2001/03/04 09:08", LOG_KIND_WRITE, 17, {}, {}};
  EXPECT_EQ(WriteSYSTEM_LOG(&e), 0);
  e.LOG_KIND = 3;
  EXPECT_EQ(WriteSYSTEM_LOG(&e), -1);
  // Neither a comma in the ID nor a line end anywhere shifts or forges a line.
  e = SYSTEM_LOG{"Ji,ro", "2001/03/04 09:09", LOG_KIND_LOGIN, 0, "1.2\nforged", "Br\r\n"};
  EXPECT_EQ(WriteSYSTEM_LOG(&e), 0);
  std::string text = get("system.log");
  EXPECT_EQ(text,
            "2001/03/03 09:07,Taro,login,0,10.0.0.1,Br, with comma\n"
            "2001/03/04 09:08,Taro,write,17,,\n"
            "2001/03/04 09:09,Ji,login,0,1.2,Br\n");

  put("system.log", "2001/03/01 10:00,Taro,login,0,a,b\n" + text + text +
                        "2001/03/09 12:00,TARO,login,0,a,b\n"  // another user by case
                        "no comma at all\n2001/03/09 12:00,Taro\n2001/03/09 12:00,Taro,login\n");
  EXPECT_EQ(statistic("Taro"), std::tuple(3, 2, "2001/03/03 09:07"));
  // The one-pass table of all users agrees with the per-user reading.
  auto all = ReadSYSTEM_LOG_all();
  EXPECT_EQ(std::tuple(all["Taro"].logins, all["Taro"].writings, all["Taro"].last_login),
            std::tuple(3, 2, "2001/03/03 09:07"));
  EXPECT_EQ(all["TARO"].logins, 1);
}

}  // namespace
