// The folder menu (JOB=FRM21): the tree with one open branch, unread
// counts beside boards and directories, the function buttons and the
// log-off form.
//
// The menu is printed on every click in the left frame, and for members it
// counts unread messages of every visible board and of every board below a
// visible directory. So one request reads "b_title.mst" and the files the
// access decisions use once into memory, and asks each folder's access
// level and unread count at most once.
#include "pages/menu.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "text/filter.h"
#include "store/acl.h"
#include "store/folder.h"
#include "store/message.h"
#include "store/records.h"

namespace {

// One request's view of the folder tree. Positions count from 1.
struct Menu {
  std::vector<B_TITLE> folders;
  std::vector<int32_t> parents;  // by position - 1: the parent's position, or -1
  AclTables tables{true};
  std::map<int32_t, int> acl;     // folder number -> chk_ACL
  std::map<int32_t, int> unread;  // folder number -> unread count

  int32_t size() const { return static_cast<int32_t>(folders.size()); }
  const B_TITLE& at(int32_t position) const { return folders[static_cast<size_t>(position - 1)]; }

  int access(int32_t folder) {
    auto it = acl.find(folder);
    if (it != acl.end()) return it->second;
    return acl[folder] = chk_ACL(folder, tables);
  }
  // A count that cannot be made (an unreadable read-mark file) adds nothing.
  int unread_count(int32_t folder) {
    auto it = unread.find(folder);
    if (it != unread.end()) return it->second;
    int n = ::unread_count(folder);
    return unread[folder] = n > 0 ? n : 0;
  }
};

int32_t upper_folder(Menu& m, int32_t position) {
  if (position < 1 || position > m.size()) return -1;
  sB_TITLE = m.at(position);
  int32_t depth = sB_TITLE.DEPTH;
  if (depth == 0) return -1;
  for (int32_t p = position - 1; p >= 1; p--) {
    sB_TITLE = m.at(p);
    if (sB_TITLE.DEPTH < depth) return p;
  }
  return -1;
}

// The parent of every position at once, as upper_folder finds them one by
// one: the nearest folder before it that is less deep. Walking back from
// each folder would cost the square of the folders under one directory.
void find_parents(Menu& m) {
  m.parents.assign(m.folders.size(), -1);
  std::vector<int32_t> chain;  // positions of strictly rising depth
  for (int32_t p = 1; p <= m.size(); p++) {
    int32_t depth = m.at(p).DEPTH;
    while (!chain.empty() && m.at(chain.back()).DEPTH >= depth) chain.pop_back();
    if (depth > 0 && !chain.empty()) m.parents[static_cast<size_t>(p - 1)] = chain.back();
    chain.push_back(p);
  }
}

int32_t parent_of(const Menu& m, int32_t position) {
  if (position < 1 || position > m.size()) return -1;
  return m.parents[static_cast<size_t>(position - 1)];
}

// Only boards hold messages; directories and chat rooms below count nothing.
int noread(Menu& m, int32_t position) {
  if (position < 1 || position > m.size()) return 0;
  int32_t depth = m.at(position).DEPTH;
  long sum = 0;
  for (int32_t p = position + 1; p <= m.size() && m.at(p).DEPTH > depth; p++) {
    const B_TITLE& f = m.at(p);
    sB_TITLE = f;
    if (f.KIND != KIND_BOARD) continue;
    if (m.access(f.FOLDER_NO) > 0) sum += m.unread_count(f.FOLDER_NO);
  }
  return sum > INT32_MAX ? INT32_MAX : static_cast<int>(sum);
}

// Reads at once the counts the page prints: every shown board's, and
// every readable board's below a shown directory.
void read_counts(Menu& m, const std::vector<int32_t>& shown) {
  std::vector<int32_t> boards;
  int32_t walked_to = 0;  // subtrees nest: one below a walked one is walked
  for (int32_t p : shown) {
    const B_TITLE& f = m.at(p);
    if (f.KIND == KIND_BOARD && p > walked_to) boards.push_back(f.FOLDER_NO);
    if (f.KIND != KIND_DIR || p <= walked_to) continue;
    int32_t q = p + 1;
    for (; q <= m.size() && m.at(q).DEPTH > f.DEPTH; q++)
      if (m.at(q).KIND == KIND_BOARD && m.access(m.at(q).FOLDER_NO) > 0)
        boards.push_back(m.at(q).FOLDER_NO);
    walked_to = q - 1;
  }
  std::sort(boards.begin(), boards.end());
  boards.erase(std::unique(boards.begin(), boards.end()), boards.end());
  const std::vector<int> n = unread_counts(boards);
  for (size_t i = 0; i < boards.size(); i++) m.unread[boards[i]] = n[i] > 0 ? n[i] : 0;
}

std::string skey_url() { return url_esc(g_SKEY); }

// The query that the directory's link carries: the set of open directories
// the next menu is to have. One branch is open at a time, so a link keeps
// the directory's ancestors open, and opens the directory itself unless it
// is open already (then the link closes it).
std::string dir_params(Menu& m, int32_t position, bool open) {
  std::string q;
  char buf[32];
  if (!open) {
    snprintf(buf, sizeof buf, "&DISP_NO=%d", static_cast<int>(position));
    q += buf;
  }
  for (int32_t p = parent_of(m, position); p != -1; p = parent_of(m, p)) {
    snprintf(buf, sizeof buf, "&DISP_NO=%d", static_cast<int>(p));
    q += buf;
  }
  return q;
}

void folder_entry(Menu& m, int32_t position, const std::vector<long>& open, bool counts) {
  const B_TITLE& f = m.at(position);
  std::string icon = folder_icon(f, m.tables.icon(f.FOLDER_NO));

  std::string link;
  int count = 0;
  char buf[64];
  if (f.KIND == KIND_DIR) {
    bool is_open = false;
    for (long v : open) is_open = is_open || v == position;
    link = "<A HREF=\"" + std::string(JOB_EXE) + "?SKEY=" + skey_url() + "&JOB=FRM21" +
           dir_params(m, position, is_open) + "\">";
    if (counts) count = noread(m, position);
  } else if (f.KIND == KIND_BOARD || f.KIND == KIND_CHAT) {
    snprintf(buf, sizeof buf, "&JOB=%s&FOLDER_NO=%d&FAST_FLG=1\" TARGET=\"FRM22\">",
             f.KIND == KIND_BOARD ? "ROOM" : "CHAT", static_cast<int>(f.FOLDER_NO));
    link = "<A HREF=\"" + std::string(JOB_EXE) + "?SKEY=" + skey_url() + buf;
    if (counts && f.KIND == KIND_BOARD) count = m.unread_count(f.FOLDER_NO);
  }

  std::string_view name = field(f.NAME);
  pr("%s", link.c_str());
  if (!icon.empty())
    pr("<IMG SRC=\"%s%s\" ALT=\"%s\" BORDER=0>", SYSINFO.CG_FILE_WEB_PATH, esc(icon).c_str(),
       esc(name).c_str());
  if (count > 0) pr("(%d)", count);
  pr("%s%s<BR>", safe_html(name).c_str(), link.empty() ? "" : "</A>");
}

void print_link_html() {
  std::string path = std::string(SYSINFO.CG_FILE_PATH) + "link.html";
  FILE* f = fopen(path.c_str(), "r");
  if (!f) return;
  char line[1000];
  while (fgets(line, sizeof line, f)) pr("%s", line);
  fclose(f);
}

void button(const char* job, int label, bool named) {
  pr("<FORM ACTION=\"%s\" METHOD=GET TARGET=\"FRM22\">\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view(job));
  pr("<INPUT TYPE=\"submit\"%s VALUE=\"%s\">\n", named ? " NAME=\"SUB\"" : "", msg(label));
  pr("</FORM>\n");
}

}  // namespace

int32_t get_upper_folder(int32_t position) {
  Menu m;
  load_folders(m.folders);
  return upper_folder(m, position);
}

int get_noread(int32_t position) {
  Menu m;
  load_folders(m.folders);
  return noread(m, position);
}

void j_FRM21() {
  Menu m;
  load_folders(m.folders);
  find_parents(m);

  std::vector<long> open;
  for (int i = 0;; i++) {
    if (form_str("DISP_NO", i).empty()) break;
    open.push_back(form_int("DISP_NO", i));
  }
  const bool member = G_MST_USER.MODE == 1;
  const bool counts = member && G_MST_USER.NO_READ_MODE == 0;

  header_printf();
  body_tag();
  print_link_html();

  std::vector<int32_t> shown;
  for (int32_t p = 1; p <= m.size(); p++) {
    const B_TITLE& f = m.at(p);
    if (f.DEPTH > 0) {
      int32_t up = parent_of(m, p);
      bool in_open = false;
      for (long v : open) in_open = in_open || v == up;
      if (!in_open) continue;
    }
    if (m.access(f.FOLDER_NO) >= 1) shown.push_back(p);
  }
  if (counts) read_counts(m, shown);

  pr("<TABLE>\n");
  for (int32_t p : shown) {
    const B_TITLE& f = m.at(p);
    pr("<TR><TD NOWRAP>");
    for (int32_t d = 0; d < f.DEPTH; d++) pr("&nbsp;&nbsp;");
    folder_entry(m, p, open, counts);
    pr("</TD></TR>\n");
  }
  pr("</TABLE>\n");

  if (member) button("NRDETAILS", 102, true);
  button("BATCH_UPLOAD", 365, false);
  button("SEARCH", 103, true);
  if (G_MST_USER.USER_LEVEL > 99) button("ADMIN", 104, true);
  if (member && SYSINFO.MYDATA == 0) button("MYDATA", 105, true);
  if (member) button("SETNOREAD", 373, true);
  button("IDSINSEI", 106, true);
  button("IDSINSEIlist", 107, true);

  if (member) {
    pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST TARGET=\"_parent\">\n",
       JOB_EXE);
    hidden_skey();
    hidden("JOB", std::string_view("LOGOFF"));
    pr("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n", msg(13),
       msg(14));
    pr("</FORM>\n");
  }
  pr("</BODY>\n</HTML>\n");
}
