// The request entry through the real program: the log-in page and page
// frame byte for byte, the invalid-key page, unknown pages, the settings
// file a first request creates, and the derivation of the settings path
// and program name.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstring>

#include "app/entry.h"
#include "app/frame.h"
#include "app/globals.h"
#include "capture.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "site.h"

namespace {

const char kFrame[] =
    "Content-type: text/html\n\n"
    "<HTML>\n<HEAD>\n"
    "S1</HEAD>\n"
    "<!--S2-->\n";

std::string login_page(const std::string& pic_web) {
  return std::string(kFrame) +
         "<TITLE>Welcome to Morvel Ver2.13 for FreeBSD R.001</TITLE>\n"
         "<BODY BACKGROUND=\"" + pic_web + "back.gif\" BGPROPERTIES=FIXED >\n"
         "Morvel Ver2.13 for FreeBSD R.001<BR>\n"
         "<CENTER>\n"
         "<IMG SRC=\"" + pic_web + "title.jpg\" >\n"
         "<FORM ACTION=\"bbs.cgi\" METHOD=POST>\n"
         "S100<P>\n"
         "<TABLE>\n"
         "<TR><TD>S130</TD><TD><INPUT TYPE=\"text\" NAME=\"uid\" SIZE=\"20\" MAXLENGTH=\"20\"></TD></TR>\n"
         "<TR><TD>S131</TD><TD><INPUT TYPE=\"password\" NAME=\"upw\" SIZE=\"20\" MAXLENGTH=\"20\"></TD></TR>\n"
         "</TABLE>\n"
         "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"TOP\">\n"
         "<INPUT TYPE=\"submit\" NAME=\"sub\" VALUE=\"S101\">\n"
         "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n";
}

TEST(Entry, RequestWithoutUserGetsLoginPageByteForByte) {
  Site site;
  // Whatever JOB says, without key or user ID the log-in page answers.
  for (const Fields& f : {Fields{}, Fields{{"JOB", "ROOM"}}, Fields{{"JOB", "NOSUCH"}}}) {
    Response r = site.get(f);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, login_page(site.pic_web));
  }
  EXPECT_EQ(site.post({{"JOB", "ADMIN"}}).out, login_page(site.pic_web));
  EXPECT_EQ(site.multipart({{"JOB", "ADMIN"}}).out, login_page(site.pic_web));
}

TEST(Entry, UnknownKeyGetsInvalidKeyPage) {
  Site site;
  Response r = site.get({{"SKEY", "12345"}, {"JOB", "ROOM"}});
  EXPECT_EQ(r.out, std::string(kFrame) +
                       "<BODY BACKGROUND=\"" + site.pic_web + "back.gif\" BGPROPERTIES=FIXED >\n"
                       "<CENTER>\n"
                       "<BR><FONT SIZE=\"5\"><B>S6</B></FONT>\n"
                       "<P><BR><HR><P><BR>\n"
                       "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"bbs.cgi\" METHOD=POST TARGET=\"_parent\">\n"
                       "<INPUT TYPE=\"submit\" VALUE=\"S4\">\n"
                       "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n");
}

TEST(Entry, WrongPasswordShowsLoginPageAgain) {
  Site site;
  site.add_user("Taro", "secret");
  EXPECT_EQ(site.post({{"uid", "Taro"}, {"upw", "wrong"}}).out, login_page(site.pic_web));
  EXPECT_EQ(site.post({{"uid", "Nobody"}, {"upw", "secret"}}).out, login_page(site.pic_web));
}

TEST(Entry, FirstRequestWritesDefaultSettingsFile) {
  Site site(false);
  Response r = site.get({});
  EXPECT_EQ(r.status, 0);
  EXPECT_EQ(read_file_bytes(site.ini),
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
            "FRAME_DIVIDE,20,\n");
  // The page used those values (and no language file: empty messages).
  EXPECT_NE(r.out.find("<IMG SRC=\"http://localhost/morvelpic/title.jpg\" >"), std::string::npos);
  EXPECT_NE(r.out.find("<TR><TD></TD><TD><INPUT TYPE=\"text\""), std::string::npos);
}

TEST(Entry, ProgramNameAndSettingsPathFollowTheProgramPath) {
  Site site;
  // Another name for the program reads another settings file.
  std::string other = site.cgi_dir + "/board.v2.cgi";
  write_file_bytes(other, read_file_bytes(site.program));
  chmod(other.c_str(), 0755);
  write_file_bytes(site.cgi_dir + "/board.v2.ini",
                   "LANGUAGE,test.lng,\nCG_FILE_WEB_PATH,http://other/,\nBACK_GIF,b2.gif,\n");
  Site& s = site;
  std::string saved = s.program;
  s.program = other;
  Response r = s.get({});
  s.program = saved;
  EXPECT_NE(r.out.find("<FORM ACTION=\"board.v2.cgi\" METHOD=POST>"), std::string::npos);
  EXPECT_NE(r.out.find("BACKGROUND=\"http://other/b2.gif\""), std::string::npos);
}

TEST(Entry, IniPathDerivation) {
  char out[300];
  make_ini_path("/usr/local/www/cgi-bin/bbs.cgi", out, sizeof out);
  EXPECT_STREQ(out, "/usr/local/www/cgi-bin/bbs.ini");
  make_ini_path("/cgi-bin/bbs", out, sizeof out);
  EXPECT_STREQ(out, "/cgi-bin/bbs.ini");
  make_ini_path("/a.b/bbs", out, sizeof out);  // a dot in a directory counts
  EXPECT_STREQ(out, "/a.ini");
  make_ini_path("x.y", out, sizeof out);  // too short to examine
  EXPECT_STREQ(out, "x.y.ini");
  std::string longpath = "/" + std::string(400, 'd') + "/bbs.cgi";
  make_ini_path(longpath.c_str(), out, sizeof out);
  EXPECT_EQ(strlen(out), 299u);
  EXPECT_STREQ(out + 295, ".ini");
}

TEST(Entry, CutNameKeepsTwoByteCharacters) {
  char a[] = "C:\\web\\bbs.exe";
  cut_name(a, '\\');
  EXPECT_STREQ(a, "bbs.exe");
  char b[] = "/a/public_html/x.cgi";
  cut_name(b, '/');
  EXPECT_STREQ(b, "x.cgi");
  // 0x95 0x5C is one character whose second byte is a backslash.
  char c[] = "dir\\\x95\x5C.cgi";
  cut_name(c, '\\');
  EXPECT_STREQ(c, "\x95\x5C.cgi");
  char d[] = "plain";
  cut_name(d, '/');
  EXPECT_STREQ(d, "plain");
}

TEST(Frame, ErrorPageByteForByte) {
  strcpy(SYSINFO.CG_FILE_WEB_PATH, "http://p/");
  strcpy(SYSINFO.BACK_GIF, "b.gif");
  strcpy(JOB_EXE, "bbs.cgi");
  strcpy(STRDEF[1], "H");
  strcpy(STRDEF[2], "C");
  std::string out = capture_stdout([] { j_ERROR2("Title", "Message"); });
  EXPECT_EQ(out,
            "Content-type: text/html\n\n<HTML>\n<HEAD>\nH</HEAD>\n<!--C-->\n"
            "<BODY BACKGROUND=\"http://p/b.gif\" BGPROPERTIES=FIXED >\n"
            "<CENTER>\n"
            "<BR><FONT SIZE=\"5\"><B>Title</B></FONT>\n"
            "<P><BR><HR><P><BR>\n"
            "<FONT COLOR=\"RED\"><B>Message</B></FONT>\n"
            "<FORM ACTION=\"bbs.cgi\" METHOD=POST>\n"
            "<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n"
            "</FORM>\n</CENTER>\n</BODY>\n</HTML>\n");
}

TEST(Frame, TopFramesetAndLogoffRedirect) {
  strcpy(SYSINFO.CG_FILE_WEB_PATH, "http://p/");
  strcpy(JOB_EXE, "bbs.cgi");
  strcpy(STRDEF[1], "H");
  strcpy(STRDEF[2], "C");
  SYSINFO.FRAME_DIVIDE = 25;
  const std::string head = "Content-type: text/html\n\n<HTML>\n<HEAD>\nH</HEAD>\n<!--C-->\n";
  G_MST_USER.MODE = 1;
  EXPECT_EQ(capture_stdout([] { j_TOP("42"); }),
            head + "<FRAMESET COLS=\"25%,*\" >\n"
                   "<FRAME SRC = \"bbs.cgi?SKEY=42&JOB=FRM21\" NAME=\"FRM21\">\n"
                   "<FRAME SRC = \"http://p/info.html\" NAME=\"FRM22\">\n"
                   "</FRAMESET>\n</HTML>\n");
  G_MST_USER.MODE = 2;
  EXPECT_NE(capture_stdout([] { j_TOP("42"); }).find("\"http://p/ginfo.html\" NAME=\"FRM22\""),
            std::string::npos);
  strcpy(SYSINFO.LOGOFF_URL, "http://bye/");
  EXPECT_EQ(capture_stdout([] { j_LOGOFF(); }),
            head + "<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=http://bye/\">\n</HTML>\n");
}

}  // namespace
