// The request entry: the log-in page byte for byte, the settings file a
// first request creates, and the derivation of the settings path and
// program name.
#include <gtest/gtest.h>

#include <utility>

#include "app/entry.h"
#include "app/frame.h"
#include "site.h"

namespace {

std::string login_page(const std::string& pic_web) {
  return "Content-type: text/html\n\n<HTML>\n<HEAD>\nS1</HEAD>\n<!--S2-->\n"
         "<TITLE>Welcome to Morvel Ver2.13 for FreeBSD R.001</TITLE>\n"
         "<BODY BACKGROUND=\"" + pic_web + "back.gif\" BGPROPERTIES=FIXED >\n"
         "Morvel Ver2.13 for FreeBSD R.001<BR>\n<CENTER>\n<IMG SRC=\"" + pic_web + "title.jpg\" >\n"
         "<FORM ACTION=\"bbs.cgi\" METHOD=POST>\nS100<P>\n<TABLE>\n"
         "<TR><TD>S130</TD><TD><INPUT TYPE=\"text\" NAME=\"uid\" SIZE=\"20\" MAXLENGTH=\"20\"></TD></TR>\n"
         "<TR><TD>S131</TD><TD><INPUT TYPE=\"password\" NAME=\"upw\" SIZE=\"20\" MAXLENGTH=\"20\"></TD></TR>\n"
         "</TABLE>\n<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"TOP\">\n"
         "<INPUT TYPE=\"submit\" NAME=\"sub\" VALUE=\"S101\">\n</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
}

TEST(Entry, RequestWithoutUserGetsLoginPageByteForByte) {
  Site site;
  // Whatever JOB says, without key or user ID the log-in page answers.
  for (const Fields& f : {Fields{}, Fields{{"JOB", "ROOM"}}, Fields{{"JOB", "NOSUCH"}}}) {
    Response r = site.get(f);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, login_page(site.pic_web));
  }
  EXPECT_EQ(site.multipart({{"JOB", "ADMIN"}}).out, login_page(site.pic_web));
}

TEST(Entry, FirstRequestWritesDefaultSettingsFile) {
  Site site(false);
  Response r = site.get({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file_bytes(site.ini),
            "LANGUAGE,japan.lng,\nCG_FILE_PATH,/usr/local/www/data/morvelpic/,\n"
            "CG_FILE_WEB_PATH,http://localhost/morvelpic/,\nDATA_FILE_PATH,/usr/local/www/cgi-bin/morveldata/,\n"
            "ADD_FILE_PATH,/usr/local/www/data/morvelpic/,\nADD_FILE_WEB_PATH,http://localhost/morvelpic/,\n"
            "LOGIN_GIF,title.jpg,\nBACK_GIF,back.gif,\nLOG_DATE,365,\nDATETIME,1,\nIECOLS,80,\nNSCOLS,60,\n"
            "ROWS,8,\nMYDATA,0,\nMAX_CONTENTS,4000,\nFRAME_DIVIDE,20,\n");
  // The page used those values (and no language file: empty messages).
  EXPECT_NE(r.out.find("<IMG SRC=\"http://localhost/morvelpic/title.jpg\" >"), std::string::npos);
  EXPECT_NE(r.out.find("<TR><TD></TD><TD><INPUT TYPE=\"text\""), std::string::npos);
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
