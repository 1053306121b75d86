// Shared page pieces.
#include "pages/common.h"

#include <cstdlib>

#include "app/globals.h"
#include "app/html.h"
#include "cgi/cgilib.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"

void refusal_page() {
  pr("\t\t<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n", SYSINFO.CG_FILE_WEB_PATH,
     SYSINFO.BACK_GIF);
  pr("%s\n", msg(3));
  pr("<FORM>\n<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n</FORM>\n", msg(4));
  pr("</BODY>\n</HTML>\n");
}

void folder_body(int32_t folder, const char* backpic) {
  if (backpic && backpic[0])
    pr("\t\t<BODY BACKGROUND=\"%s%d/%s\" BGPROPERTIES=FIXED >\n", SYSINFO.CG_FILE_WEB_PATH,
       static_cast<int>(folder), esc(backpic).c_str());
  else if (SYSINFO.BACK_GIF[0])
    pr("\t\t<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n", SYSINFO.CG_FILE_WEB_PATH,
       SYSINFO.BACK_GIF);
}

void hidden(const char* name, std::string_view value) {
  pr("<INPUT TYPE=\"hidden\" NAME=\"%s\" VALUE=\"%s\">\n", name, esc(value).c_str());
}

void hidden(const char* name, long value) {
  pr("<INPUT TYPE=\"hidden\" NAME=\"%s\" VALUE=\"%ld\">\n", name, value);
}

void hidden_skey() { hidden("SKEY", std::string_view(g_SKEY)); }

int32_t form_int(const char* name, int n) {
  return static_cast<int32_t>(atol(cgi_value(name, n).c_str()));
}

std::string form_str(const char* name, int n) { return cgi_value(name, n); }

bool is_msie() {
  const char* ua = getenv("HTTP_USER_AGENT");
  return ua && StrFind(ua, "MSIE") >= 0;
}

int text_cols() { return is_msie() ? SYSINFO.IECOLS : SYSINFO.NSCOLS; }
