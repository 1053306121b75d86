// Shared page pieces: refusal page, folder backgrounds, hidden and numeric
// form fields, message titles and dates as the lists show them, the edit
// right of authors, and the page's user look-ups.
#include "pages/common.h"

#include <algorithm>
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
#include "store/records.h"

void system_body() {
  pr("\t\t<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n", SYSINFO.CG_FILE_WEB_PATH,
     SYSINFO.BACK_GIF);
}

void refusal_page() {
  system_body();
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

int32_t form_int(const char* name, int n) { return form_number(cgi_value(name, n)); }

int32_t form_number(const std::string& v) {
  // Read as atol reads a number, except that a value beyond 32 bits is no
  // number at all: wrapped, it would name another message or folder.
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

B_TITLE2 read_folder(int32_t folder, bool* in_tree) {
  std::memset(&sB_TITLE, 0, sizeof sB_TITLE);
  const bool found = ReadB_TITLE(folder, 1) == 0;
  if (in_tree) *in_tree = found;
  std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
  ReadB_TITLE2(folder);
  return sB_TITLE2;
}

std::vector<uint32_t> number_order(std::span<const INDEX_DATA> index) {
  std::vector<uint32_t> out;
  const size_t n = index.size();
  int32_t last = 0, highest = 0;
  bool ascending = true;
  for (const INDEX_DATA& r : index) {
    if (r.MSG_NO < 1) continue;
    if (r.MSG_NO <= last) ascending = false;
    last = r.MSG_NO;
    highest = std::max(highest, r.MSG_NO);
  }
  out.reserve(n);
  if (ascending) {
    // Strictly rising numbers: file order is number order, each number once.
    for (size_t i = 0; i < n; i++)
      if (index[i].MSG_NO >= 1) out.push_back(static_cast<uint32_t>(i));
    return out;
  }
  if (static_cast<size_t>(highest) <= 4 * n + 1024) {
    // Numbers are handed out densely: a table by number finds each one's
    // first record.
    std::vector<int32_t> first(static_cast<size_t>(highest) + 1, -1);
    for (size_t i = 0; i < n; i++) {
      int32_t no = index[i].MSG_NO;
      if (no >= 1 && first[static_cast<size_t>(no)] < 0) first[static_cast<size_t>(no)] = static_cast<int32_t>(i);
    }
    for (int32_t pos : first)
      if (pos >= 0) out.push_back(static_cast<uint32_t>(pos));
    return out;
  }
  for (size_t i = 0; i < n; i++)
    if (index[i].MSG_NO >= 1) out.push_back(static_cast<uint32_t>(i));
  std::stable_sort(out.begin(), out.end(), [&index](uint32_t a, uint32_t b) {
    return index[a].MSG_NO < index[b].MSG_NO;
  });
  out.erase(std::unique(out.begin(), out.end(),
                        [&index](uint32_t a, uint32_t b) { return index[a].MSG_NO == index[b].MSG_NO; }),
            out.end());
  return out;
}

std::string folder_icon(const B_TITLE& f, std::string_view dirpic) {
  if (!dirpic.empty()) return std::to_string(f.FOLDER_NO) + "/" + std::string(dirpic);
  switch (f.KIND) {
    case KIND_DIR: return "folderclose.gif";
    case KIND_BOARD: return "folderbook.gif";
    case KIND_CHAT: return "folderchat.gif";
    default: return std::string();
  }
}

std::vector<B_TITLE> readable_folders(AclTables& tables) {
  std::vector<B_TITLE> all, out;
  load_folders(all);
  int32_t prune = -1;  // depth below which folders are skipped; -1: none
  for (const B_TITLE& f : all) {
    if (prune >= 0 && f.DEPTH > prune) continue;
    if (chk_ACL(f.FOLDER_NO, tables) < 1) {
      prune = f.DEPTH;
      continue;
    }
    prune = -1;
    out.push_back(f);
  }
  return out;
}

namespace {
void put_reply_prefix(std::string& out, const INDEX_DATA& m) {
  if (m.RES_DEPTH > 0) out.append("Re:^").append(std::to_string(m.RES_DEPTH)).append(":");
}
}  // namespace

std::string reply_title(const INDEX_DATA& m) {
  std::string out;
  put_reply_prefix(out, m);
  return out.append(field(m.WRITE_TITLE));
}

std::string list_title(const INDEX_DATA& m) {
  std::string out;
  list_title_into(out, m);
  return out;
}

void list_title_into(std::string& out, const INDEX_DATA& m) {
  put_reply_prefix(out, m);
  out.append(m.DEL_FLG ? std::string_view("--Delete--") : field(m.WRITE_TITLE));
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
  if (auto it = seen_.find(id); it != seen_.end()) return it->second;
  char buf[sizeof(MST_USER::USER_ID) + 64];
  copy_text(buf, sizeof buf, id);
  if (!index_) {
    if (!load_text_store(data_file("user.mst").c_str(), master_)) master_.clear();
    index_ = std::make_unique<UserLines>(master_);
  }
  MST_USER u;
  const MST_USER* found = nullptr;
  if (!id.empty() && index_->find(buf, u)) found = &found_.emplace_back(u);
  seen_.emplace(std::string(id), found);
  return found;
}

std::string_view UserCache::name(std::string_view id) {
  const MST_USER* u = find(id);
  return u ? field(u->USER_NAME) : id;
}

UserCache& request_users() {
  static UserCache users;
  return users;
}

AclTables& request_acl() {
  // One per data directory, so that nothing is taken from another site's
  // files when one process serves several (as the tests do).
  static std::map<std::string, AclTables, std::less<>> tables;
  return tables.try_emplace(SYSINFO.DATA_FILE_PATH, true).first->second;
}

void remove_user(const char* user_id) {
  // What hangs on the user goes first and his own line last, so that a
  // deletion cut short leaves him in place, to be deleted again, and never
  // leaves rights for whoever next takes the ID.
  DeleteMST_SKEY(user_id);
  DeleteB_U_ACL2(user_id);
  DeleteGROUP_USER2(user_id);
  DeleteMST_USER(user_id);
}
