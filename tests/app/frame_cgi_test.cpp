// The request entry: the log-in page, the first request's settings file,
// the settings path and program name.

#include "app/entry.h"
#include "app/frame.h"
#include "board.h"

namespace {

TEST(Entry, RequestsWithoutUserGetTheLoginPageAndAFirstRequestWritesSettings) {
  Site site;
  // Whatever JOB says, without key or user ID the log-in page answers.
  const std::string login = site.get({}).out;
  EXPECT_TRUE(has(login, "NAME=\"upw\"")) << login;
  for (const Fields& f : {Fields{{"JOB", "ROOM"}}, Fields{{"JOB", "NOSUCH"}}}) EXPECT_EQ(site.get(f).out, login);
  EXPECT_EQ(site.multipart({{"JOB", "ADMIN"}}).out, login);

  // Without a settings file the defaults are written and used.
  Site first(false);
  Response r = first.get({});
  EXPECT_EQ(r.status, 0);
  const std::string ini = read_file_bytes(first.ini);
  for (const char* line : {"LANGUAGE,japan.lng,\n", "DATA_FILE_PATH,/usr/local/www/cgi-bin/morveldata/,\n",
                           "LOG_DATE,365,\n", "FRAME_DIVIDE,20,\n"})
    EXPECT_TRUE(has(ini, line)) << line << "\n" << ini;
  EXPECT_TRUE(has(r.out, "http://localhost/morvelpic/title.jpg")) << r.out;
}

TEST(Entry, SettingsPathAndProgramName) {
  // The extension is replaced; a long path is cut before ".ini" is added.
  const std::pair<std::string, std::string> paths[] = {
      {"/usr/local/www/cgi-bin/bbs.cgi", "/usr/local/www/cgi-bin/bbs.ini"},
      {"/a.b/bbs", "/a.ini"},  // a dot in a directory counts
      {"/" + std::string(400, 'd') + "/bbs.cgi", "/" + std::string(294, 'd') + ".ini"}};
  for (const auto& [program, ini] : paths) {
    char out[300];
    make_ini_path(program.c_str(), out, sizeof out);
    EXPECT_EQ(out, ini);
  }
  // A two-byte character whose second byte is "\" stays in the name.
  char name[] = "dir\\\x95\x5C.cgi";
  cut_name(name, '\\');
  EXPECT_STREQ(name, "\x95\x5C.cgi");
}

}  // namespace
