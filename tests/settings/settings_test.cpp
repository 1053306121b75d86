// The settings file (reading, first-run creation, rewriting) and the
// language file loaded into the message table.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "cgi/sjis.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"

namespace {

class Settings : public ::testing::Test {
 protected:
  void SetUp() override {
    char tmpl[] = "/tmp/morvel-settings-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    dir_ = tmpl;
    // Language files are named relative to the working directory.
    char cwd[4096];
    ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
    old_cwd_ = cwd;
    ASSERT_EQ(chdir(dir_.c_str()), 0);
    ini_ = dir_ + "/morvel.ini";
    memset(STRDEF, 0, sizeof STRDEF);
  }
  void TearDown() override {
    if (!old_cwd_.empty()) (void)chdir(old_cwd_.c_str());
    std::string cmd = "rm -rf '" + dir_ + "'";
    (void)system(cmd.c_str());
  }
  void put(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
  }
  std::string get(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
  }
  void open_with(const std::string& bytes) {
    put(ini_, bytes);
    SysFileOpen(ini_.c_str());
  }
  void expect_numeric_defaults() {
    EXPECT_EQ(SYSINFO.DATETIME, 1);
    EXPECT_EQ(SYSINFO.IECOLS, 80);
    EXPECT_EQ(SYSINFO.NSCOLS, 60);
    EXPECT_EQ(SYSINFO.ROWS, 8);
    EXPECT_EQ(SYSINFO.MYDATA, 0);
    EXPECT_EQ(SYSINFO.MAX_CONTENTS, 4000);
    EXPECT_EQ(SYSINFO.FRAME_DIVIDE, 20);
  }

  std::string dir_, old_cwd_, ini_;
};

const char kFresh[] =
    "LANGUAGE,japan.lng,\n"
    "CG_FILE_PATH,/usr/local/www/data/morvelpic/,\n"
    "CG_FILE_WEB_PATH,http://localhost/morvelpic/,\n"
    "DATA_FILE_PATH,/usr/local/www/cgi-bin/morveldata/,\n"
    "ADD_FILE_PATH,/usr/local/www/data/morvelpic/,\n"
    "ADD_FILE_WEB_PATH,http://localhost/morvelpic/,\n"
    "LOGIN_GIF,title.jpg,\n"
    "BACK_GIF,back.gif,\n"
    "LOG_DATE,365,\n"
    "DATETIME,1,\n"
    "IECOLS,80,\n"
    "NSCOLS,60,\n"
    "ROWS,8,\n"
    "MYDATA,0,\n"
    "MAX_CONTENTS,4000,\n"
    "FRAME_DIVIDE,20,\n";

TEST_F(Settings, FreshInstallationCreatesTheFile) {
  put("japan.lng", "1,Title\n");
  SysFileOpen(ini_.c_str());
  EXPECT_EQ(get(ini_), kFresh);
  EXPECT_STREQ(SYSINFO.LANGUAGE, "japan.lng");
  EXPECT_STREQ(SYSINFO.CG_FILE_WEB_PATH, "http://localhost/morvelpic/");
  EXPECT_STREQ(SYSINFO.LOG_DATE, "365");
  EXPECT_STREQ(SYSINFO.LOGOFF_URL, "");
  expect_numeric_defaults();
  EXPECT_STREQ(msg(1), "Title");
  // No temporary file is left behind.
  EXPECT_NE(access((ini_ + ".tmp").c_str(), F_OK), 0);
}

TEST_F(Settings, UncreatableFileStillGivesDefaults) {
  std::string ini = dir_ + "/missing/morvel.ini";
  SysFileOpen(ini.c_str());
  EXPECT_STREQ(SYSINFO.BACK_GIF, "back.gif");
  expect_numeric_defaults();
}

TEST_F(Settings, UnreadableFileIsNotOverwritten) {
  if (geteuid() == 0) GTEST_SKIP() << "root reads every file";
  open_with("LANGUAGE,x.lng,\n");
  ASSERT_EQ(chmod(ini_.c_str(), 0), 0);
  SysFileOpen(ini_.c_str());
  ASSERT_EQ(chmod(ini_.c_str(), 0600), 0);
  EXPECT_EQ(get(ini_), "LANGUAGE,x.lng,\n");
}

TEST_F(Settings, SilentFileKeepsDefaults) {
  open_with("LANGUAGE,other.lng,\n");
  EXPECT_STREQ(SYSINFO.LANGUAGE, "other.lng");
  EXPECT_STREQ(SYSINFO.CG_FILE_PATH, "");
  EXPECT_STREQ(SYSINFO.BACK_GIF, "");
  EXPECT_STREQ(SYSINFO.LOG_DATE, "");
  expect_numeric_defaults();
  // The file itself is left as it was.
  EXPECT_EQ(get(ini_), "LANGUAGE,other.lng,\n");
}

TEST_F(Settings, LineForms) {
  open_with(
      "ROWS,12\n"
      "LOGIN_GIF,top.gif\r\n"
      "BACK_GIF,,\n"
      "IECOLS,abc,\n"
      "NSCOLS, 72x,\n"
      "MYDATA,-1,extra,fields,\n"
      "datetime,2,\n"
      "x\n"
      "\n"
      "MAX_CONTENTS,100,\n"
      "MAX_CONTENTS,200,\n"
      "FRAME_DIVIDE,99999999999,\n"
      "DATA_FILE_PATH,/data/");  // no line feed at the end
  EXPECT_EQ(SYSINFO.ROWS, 12);
  EXPECT_STREQ(SYSINFO.LOGIN_GIF, "top.gif\r");
  EXPECT_STREQ(SYSINFO.BACK_GIF, "");
  EXPECT_EQ(SYSINFO.IECOLS, 0);
  EXPECT_EQ(SYSINFO.NSCOLS, 72);
  EXPECT_EQ(SYSINFO.MYDATA, -1);
  EXPECT_EQ(SYSINFO.DATETIME, 1);
  EXPECT_EQ(SYSINFO.MAX_CONTENTS, 200);
  EXPECT_EQ(SYSINFO.FRAME_DIVIDE, 2147483647);
  EXPECT_STREQ(SYSINFO.DATA_FILE_PATH, "/data/");
}

TEST_F(Settings, LongValuesAreCutToTheirField) {
  std::string sjis_name(250, 'a');
  sjis_name += "\x82\xA0zz";  // a two-byte character across the limit
  open_with("LOG_DATE," + std::string(30, '7') + ",\n" +
            "BACK_GIF," + sjis_name + ",\n" +
            "LOGOFF_URL," + std::string(900, 'u') + ",\n");
  EXPECT_STREQ(SYSINFO.LOG_DATE, "777777777");
  EXPECT_EQ(strlen(SYSINFO.BACK_GIF), 250u);  // 251 would split the pair
  EXPECT_EQ(SYSINFO.BACK_GIF[249], 'a');
  EXPECT_EQ(strlen(SYSINFO.LOGOFF_URL), 900u);
  EXPECT_EQ(SYSINFO.FRAME_DIVIDE, 20);  // the neighbouring field is intact
}

TEST_F(Settings, WriteRoundTrips) {
  open_with(kFresh);
  set_field(SYSINFO.DATA_FILE_PATH, "/srv/data/");
  set_field(SYSINFO.LOG_DATE, "30");
  SYSINFO.DATETIME = 2;
  SYSINFO.MAX_CONTENTS = 8000;
  SysFileWrite(ini_.c_str());
  std::string written = get(ini_);
  EXPECT_EQ(written.find("LOGOFF_URL"), std::string::npos);
  EXPECT_NE(written.find("DATA_FILE_PATH,/srv/data/,\n"), std::string::npos);
  EXPECT_NE(written.find("MAX_CONTENTS,8000,\nFRAME_DIVIDE,20,\n"),
            std::string::npos);

  SYSINFO_REC before;
  memcpy(&before, &SYSINFO, sizeof before);
  memset(&SYSINFO, 0x55, sizeof SYSINFO);
  SysFileOpen(ini_.c_str());
  EXPECT_EQ(memcmp(&before, &SYSINFO, sizeof SYSINFO), 0);
  EXPECT_STREQ(SYSINFO.LOGOFF_URL, "");

  set_field(SYSINFO.LOGOFF_URL, "http://example.org/");
  SysFileWrite(ini_.c_str());
  EXPECT_NE(get(ini_).find("MAX_CONTENTS,8000,\n"
                           "LOGOFF_URL,http://example.org/,\n"
                           "FRAME_DIVIDE,20,\n"),
            std::string::npos);
  SysFileOpen(ini_.c_str());
  EXPECT_STREQ(SYSINFO.LOGOFF_URL, "http://example.org/");
  EXPECT_NE(access((ini_ + ".tmp").c_str(), F_OK), 0);
}

TEST_F(Settings, SystemLanguageIsReloaded) {
  put("a.lng", "5,from a\n");
  put("b.lng", "6,from b\n");
  open_with("LANGUAGE,a.lng,\n");
  EXPECT_STREQ(msg(5), "from a");
  open_with("LANGUAGE,b.lng,\n");
  EXPECT_STREQ(msg(5), "");
  EXPECT_STREQ(msg(6), "from b");
  // A missing system language file leaves every message empty.
  open_with("LANGUAGE,none.lng,\n");
  EXPECT_STREQ(msg(6), "");
}

TEST_F(Settings, LanguageFileLines) {
  std::string long_text(98, 'm');
  long_text += "\x83\x41";  // a two-byte character at bytes 99-100
  put("x.lng",
      "154,Board list\n"
      "0,zero\n"
      "just text\n"
      "# comment,with comma\n"
      "7,one,two\n"
      "8\n"
      "9,first\n"
      "9,second\n"
      "10," + long_text + "\n"
      "11," + std::string(150, 'n') + "\n"
      "399,last\n"
      "400,beyond\n"
      "99999999999999,beyond\n"
      "-3,negative\n"
      ",,12,,skipped separators\r\n");
  StrdefFileOpen("x.lng");
  EXPECT_STREQ(msg(154), "Board list");
  EXPECT_STREQ(msg(0), "");
  EXPECT_STREQ(msg(7), "one");
  EXPECT_STREQ(msg(8), "");
  EXPECT_STREQ(msg(9), "second");
  EXPECT_EQ(std::string(msg(10)), std::string(98, 'm'));
  EXPECT_EQ(std::string(msg(11)), std::string(99, 'n'));
  EXPECT_STREQ(msg(12), "skipped separators\r");
  EXPECT_STREQ(msg(399), "last");
  EXPECT_STREQ(msg(400), "");
  EXPECT_STREQ(msg(-1), "");
  EXPECT_STREQ(msg(100000), "");
}

TEST_F(Settings, MissingLanguageFileKeepsTable) {
  put("x.lng", "3,kept\n");
  StrdefFileOpen("x.lng");
  StrdefFileOpen("nothere.lng");
  StrdefFileOpen("");
  EXPECT_STREQ(msg(3), "kept");
  // An existing file replaces the whole table, even when it is empty.
  put("empty.lng", "");
  StrdefFileOpen("empty.lng");
  EXPECT_STREQ(msg(3), "");
}

}  // namespace
