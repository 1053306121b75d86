// Shared page pieces: refusal page, folder backgrounds, hidden and numeric
// form fields, message titles and dates as the lists show them, the edit
// right of authors, and the page's user look-ups.
#include "pages/common.h"

#include <cerrno>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "app/globals.h"
#include "app/html.h"
#include "app/login.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/group.h"

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
  // Read as atol reads a number, except that a value beyond 32 bits is no
  // number at all: wrapped, it would name another message or folder.
  std::string v = cgi_value(name, n);
  errno = 0;
  long long x = strtoll(v.c_str(), nullptr, 10);
  if (errno == ERANGE || x < INT32_MIN || x > INT32_MAX) return 0;
  return static_cast<int32_t>(x);
}

std::string form_str(const char* name, int n) { return cgi_value(name, n); }

bool is_msie() {
  const char* ua = getenv("HTTP_USER_AGENT");
  return ua && StrFind(ua, "MSIE") >= 0;
}

int text_cols() { return is_msie() ? SYSINFO.IECOLS : SYSINFO.NSCOLS; }

B_TITLE2 read_folder(int32_t folder) {
  std::memset(&sB_TITLE, 0, sizeof sB_TITLE);
  ReadB_TITLE(folder, 1);
  std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
  ReadB_TITLE2(folder);
  return sB_TITLE2;
}

namespace {
std::string reply_prefix(const INDEX_DATA& m) {
  return m.RES_DEPTH > 0 ? "Re:^" + std::to_string(m.RES_DEPTH) + ":" : std::string();
}
}  // namespace

std::string reply_title(const INDEX_DATA& m) {
  return reply_prefix(m) + std::string(field(m.WRITE_TITLE));
}

std::string list_title(const INDEX_DATA& m) {
  return m.DEL_FLG ? reply_prefix(m) + "--Delete--" : reply_title(m);
}

std::string_view shown_date(const INDEX_DATA& m) {
  std::string_view d = field(m.WRITE_DATE);
  if (SYSINFO.DATETIME == 2 && d.size() > 10) d = d.substr(0, 10);
  return d;
}

bool may_edit_own(const B_TITLE2& conf, const INDEX_DATA& m) {
  return conf.REWRITE_FLG == 2 && field(m.USER_ID) == field(G_MST_USER.USER_ID) &&
         G_MST_USER.MODE == 1;
}

const MST_USER* UserCache::find(std::string_view id) {
  if (auto it = found_.find(id); it != found_.end()) return &it->second;
  if (missing_.count(id)) return nullptr;
  char buf[sizeof(MST_USER::USER_ID) + 64];
  copy_text(buf, sizeof buf, id);
  if (!loaded_) {
    load_users(users_);
    loaded_ = true;
  }
  const MST_USER* u = id.empty() ? nullptr : find_user(users_, buf);
  if (!u) {
    missing_.emplace(std::string(id), true);
    return nullptr;
  }
  return &found_.emplace(std::string(id), *u).first->second;
}

std::string UserCache::name(std::string_view id) {
  const MST_USER* u = find(id);
  return u ? std::string(field(u->USER_NAME)) : std::string(id);
}

void remove_user(const char* user_id) {
  DeleteMST_USER(user_id);
  DeleteMST_SKEY(user_id);
  DeleteGROUP_USER2(user_id);
  DeleteB_U_ACL2(user_id);
}
