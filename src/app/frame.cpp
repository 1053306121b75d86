// The page frame shared by every HTML page, the error and invalid-key
// pages, and the log-in, top and log-off pages.
#include "app/frame.h"

#include <cstring>
#include <string>

#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"

namespace {
constexpr const char* kVersion = "Ver2.13";
constexpr const char* kPlatform = "FreeBSD R.001";
}  // namespace

void header_printf() {
  pr("Content-type: text/html\n\n");
  pr("<HTML>\n<HEAD>\n");
  pr("%s", msg(1));
  pr("</HEAD>\n");
  pr("<!--%s-->\n", msg(2));
}

void j_ERROR2(const char* title, const char* message) {
  header_printf();
  body_tag();
  pr("<CENTER>\n");
  pr("<BR><FONT SIZE=\"5\"><B>%s</B></FONT>\n", title);
  pr("<P><BR><HR><P><BR>\n");
  pr("<FONT COLOR=\"RED\"><B>%s</B></FONT>\n", message);
  pr("<FORM ACTION=\"%s\" METHOD=POST>\n", JOB_EXE);
  pr("<INPUT TYPE=\"button\" VALUE=\" OK \" onClick=\"history.back()\">\n");
  pr("</FORM>\n</CENTER>\n</BODY>\n</HTML>\n");
}

void j_IDerr() {
  header_printf();
  body_tag();
  pr("<CENTER>\n");
  pr("<BR><FONT SIZE=\"5\"><B>%s</B></FONT>\n", msg(6));
  pr("<P><BR><HR><P><BR>\n");
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST TARGET=\"_parent\">\n",
     JOB_EXE);
  pr("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n", msg(4));
  pr("</FORM>\n</CENTER>\n</BODY>\n</HTML>\n");
}

void j_login() {
  header_printf();
  pr("<TITLE>Welcome to Morvel %s for %s</TITLE>\n", kVersion, kPlatform);
  body_tag();
  pr("Morvel %s for %s<BR>\n", kVersion, kPlatform);
  pr("<CENTER>\n");
  pr("<IMG SRC=\"%s%s\" >\n", SYSINFO.CG_FILE_WEB_PATH, SYSINFO.LOGIN_GIF);
  pr("<FORM ACTION=\"%s\" METHOD=POST>\n", JOB_EXE);
  pr("%s<P>\n", msg(100));
  pr("<TABLE>\n");
  pr("<TR><TD>%s</TD><TD><INPUT TYPE=\"text\" NAME=\"uid\" SIZE=\"20\" MAXLENGTH=\"20\"></TD></TR>\n",
     msg(130));
  pr("<TR><TD>%s</TD><TD><INPUT TYPE=\"password\" NAME=\"upw\" SIZE=\"20\" MAXLENGTH=\"20\"></TD></TR>\n",
     msg(131));
  pr("</TABLE>\n");
  pr("<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"TOP\">\n");
  pr("<INPUT TYPE=\"submit\" NAME=\"sub\" VALUE=\"%s\">\n", msg(101));
  pr("</FORM>\n</CENTER>\n</BODY>\n</HTML>\n");
}

void j_TOP(const char* skey) {
  header_printf();
  pr("<FRAMESET COLS=\"%d%%,*\" >\n", SYSINFO.FRAME_DIVIDE);
  pr("<FRAME SRC = \"%s?SKEY=%s&JOB=FRM21\" NAME=\"FRM21\">\n", JOB_EXE, url_esc(skey).c_str());
  if (G_MST_USER.MODE == 1)
    pr("<FRAME SRC = \"%sinfo.html\" NAME=\"FRM22\">\n", SYSINFO.CG_FILE_WEB_PATH);
  else
    pr("<FRAME SRC = \"%sginfo.html\" NAME=\"FRM22\">\n", SYSINFO.CG_FILE_WEB_PATH);
  pr("</FRAMESET>\n</HTML>\n");
}

void j_LOGOFF() {
  header_printf();
  pr("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=%s\">\n", SYSINFO.LOGOFF_URL);
  pr("</HTML>\n");
}

void cut_name(char* text, char sep) {
  size_t len = strlen(text);
  size_t at = sjis_rfind(std::string_view(text, len), std::string_view(&sep, 1));
  if (at != std::string_view::npos) memmove(text, text + at + 1, len - at);
}
