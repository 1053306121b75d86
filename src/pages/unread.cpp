// Unread tracking pages: the settings page and its store step, the unread
// list and its store step.
//
// Every request reads the folder tree, the access tables and each board's
// index once; the list then reads the read-mark files of a tracked board's
// messages in batches and shows the unread ones through the compact view.
#include "pages/unread.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "pages/common.h"
#include "pages/details.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/folder.h"
#include "store/message.h"
#include "store/unread.h"

namespace {

void form_start(const char* job, const char* name = "") {
  pr("<FORM%s ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST>\n", name, JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view(job));
}

std::vector<int32_t> numbers_of(const std::vector<B_TITLE>& folders) {
  std::vector<int32_t> numbers;
  numbers.reserve(folders.size());
  for (const B_TITLE& f : folders) numbers.push_back(f.FOLDER_NO);
  return numbers;
}

// The boards the settings page offers: every board the user may read by its
// own access. The store step acts on these alone, so that a forged number
// neither creates a directory nor pre-sets a folder made later.
std::vector<B_TITLE> offered_boards() {
  AclTables& tables = request_acl();
  std::vector<B_TITLE> all, out;
  load_folders(all);
  for (const B_TITLE& f : all)
    if (f.KIND == KIND_BOARD && chk_ACL(f.FOLDER_NO, tables) > 0) out.push_back(f);
  return out;
}

void board_list(const char* name, const std::vector<const B_TITLE*>& boards, const char* button,
                int caption) {
  pr("<TD BGCOLOR=\"#FFFFFF\">\n<SELECT NAME=\"%s\" SIZE=5 MULTIPLE>\n", name);
  for (const B_TITLE* b : boards)
    pr("<OPTION VALUE=\"%d\">%s\n", static_cast<int>(b->FOLDER_NO), esc(field(b->NAME)).c_str());
  pr("</SELECT><BR>\n<INPUT TYPE=\"submit\" NAME=\"%s\" VALUE=\"%s\">\n</TD>\n", button, msg(caption));
}

// The board's unread messages in the user's display order: the index's own
// order (1), or by number up (2) or down (3), each number once. Other orders
// show none.
// `bodies`: the bodies read ahead, by number.
void unread_messages(int32_t folder, const std::vector<int32_t>& unread,
                     const std::map<int32_t, std::string>& bodies) {
  if (unread.empty()) return;
  compact_preload(folder, unread);
  const std::vector<INDEX_DATA>& idx = compact_index(folder);
  std::vector<const INDEX_DATA*> seq;
  const int order = G_MST_USER.USER_DISP_DEF;
  if (order == 1) {
    for (const INDEX_DATA& r : idx) seq.push_back(&r);
  } else if (order == 2 || order == 3) {
    std::map<int32_t, const INDEX_DATA*> by_number;
    for (const INDEX_DATA& r : idx)
      if (r.MSG_NO >= 1) by_number.emplace(r.MSG_NO, &r);
    for (const auto& [no, r] : by_number) seq.push_back(r);
    if (order == 3) std::reverse(seq.begin(), seq.end());
  }
  for (const INDEX_DATA* m : seq)
    if (std::binary_search(unread.begin(), unread.end(), m->MSG_NO)) {
      auto body = bodies.find(m->MSG_NO);
      j_DETAILS_sub1(folder, m->MSG_NO, 1, body == bodies.end() ? nullptr : &body->second);
    }
  compact_release(folder);
}

}  // namespace

void j_SETNOREAD() {
  header_printf();
  // Guest accounts are shared by several people and track nothing.
  if (G_MST_USER.MODE == 2) {
    refusal_page();
    return;
  }
  system_body();
  pr("<FONT SIZE=\"5\"><B>%s</B></FONT>\n<HR>\n", msg(373));
  pr("%s:%s[%s]\n", msg(137), esc(field(G_MST_USER.USER_NAME)).c_str(),
     esc(field(G_MST_USER.USER_ID)).c_str());
  form_start("SETNOREAD_WR", " NAME=\"INPUT\"");

  std::vector<B_TITLE> boards = offered_boards();
  std::vector<bool> off = ChkUNREAD_many(numbers_of(boards), G_MST_USER.USER_ID);
  std::vector<const B_TITLE*> out, all;
  for (size_t i = 0; i < boards.size(); i++) {
    if (off[i]) out.push_back(&boards[i]);
    all.push_back(&boards[i]);
  }
  pr("<TABLE BORDER>\n<TR>");
  for (int slot : {374, 375})
    pr("<TD NOWRAP ALIGN=\"CENTER\" BGCOLOR=\"#E0FFFF\">%s</TD>", msg(slot));
  pr("</TR>\n<TR>\n");
  board_list("NOWNOREAD", out, "BOARD_OUT", 172);
  board_list("BOARDLIST", all, "BOARD_IN", 171);
  pr("</TR>\n</TABLE>\n</FORM>\n</BODY>\n</HTML>\n");
}

void j_SETNOREAD_WR() {
  if (G_MST_USER.MODE == 2) return;
  std::set<int32_t> offered;
  for (const B_TITLE& b : offered_boards()) offered.insert(b.FOLDER_NO);
  // The selected numbers end at the first that is not a folder number.
  auto apply = [&](const char* list, int (*change)(int32_t, const char*)) {
    for (const std::string& v : cgi_values(list)) {
      const int32_t no = form_number(v);
      if (no < 1) break;
      if (offered.count(no)) change(no, G_MST_USER.USER_ID);
    }
  };
  if (!form_str("BOARD_OUT").empty()) apply("NOWNOREAD", DeleteUNREAD);
  if (!form_str("BOARD_IN").empty()) apply("BOARDLIST", WriteUNREAD);
}

void j_NRDETAILS() {
  header_printf();
  system_body();
  pr("<FONT SIZE=\"5\"><B>%s</B></FONT><P>\n", msg(102));
  if (G_MST_USER.MODE == 2) {
    pr("%s\n<FORM>\n<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n</FORM>\n",
       msg(3), msg(4));
    pr("</BODY>\n</HTML>\n");
    return;
  }
  form_start("NRDETAILSWR");
  AclTables& tables = request_acl();
  const std::vector<B_TITLE> folders = readable_folders(tables);
  // One listing of the data directory tells which boards have files at all.
  const std::vector<int32_t> numbers = numbers_of(folders);
  const std::vector<bool> dirs = have_dirs(numbers);
  const std::vector<bool> off = ChkUNREAD_many(numbers, G_MST_USER.USER_ID, &dirs);
  // Every listed board's unread numbers first, so that their bodies are
  // read in batches over all boards (up to a bound of memory; the rest are
  // read when shown).
  std::vector<std::vector<int32_t>> unread(folders.size());
  std::vector<std::pair<int32_t, int32_t>> wanted;
  auto looked_at = [&](size_t i) { return !off[i] && dirs[i] && folders[i].KIND == KIND_BOARD; };
  std::vector<int32_t> boards;
  for (size_t i = 0; i < folders.size(); i++)
    if (looked_at(i)) boards.push_back(numbers[i]);
  // Their indexes are opened once: the unread numbers are told by the
  // derived read data current for them, and the messages shown come from
  // them. (Not for a great many boards: each holds a descriptor.)
  std::vector<OpenedIndex> opened = boards.size() <= 200 ? open_indexes(boards) : std::vector<OpenedIndex>();
  std::vector<std::vector<int32_t>> found = unread_numbers_many(boards, opened.empty() ? nullptr : &opened);
  for (size_t i = 0, k = 0; i < folders.size(); i++) {
    if (!looked_at(i)) continue;
    unread[i] = std::move(found[k++]);
    for (int32_t n : unread[i]) wanted.emplace_back(numbers[i], n);
  }
  // The boards are looked at ahead, while the messages asked for stay few,
  // so that what their compact views read goes in one batch with the
  // bodies; the rest is read board by board.
  std::vector<int32_t> ahead;
  std::vector<std::vector<int32_t>> ahead_wanted;
  std::vector<OpenedIndex> ahead_opened;
  size_t looked = 0;
  for (size_t i = 0, k = 0; i < folders.size(); i++) {
    if (!looked_at(i)) continue;
    const size_t board = k++;
    if (unread[i].empty() || looked + unread[i].size() > 1000) continue;
    looked += unread[i].size();
    ahead.push_back(numbers[i]);
    ahead_wanted.push_back(unread[i]);
    if (!opened.empty()) ahead_opened.push_back(std::move(opened[board]));
  }
  compact_preload_many(ahead, ahead_wanted, opened.empty() ? nullptr : &ahead_opened);
  opened.clear();
  ahead_opened.clear();
  std::vector<std::string> names;
  names.reserve(wanted.size());
  for (const auto& [folder, msg] : wanted) names.push_back(std::to_string(folder) + "/" + msg_body_name(msg));
  std::map<int32_t, std::map<int32_t, std::string>> bodies;
  size_t held = 0;
  compact_read_ahead(ahead, std::move(names), [&](size_t k, std::string_view bytes) {
    if (held + bytes.size() > 1024 * 1024) return;
    held += bytes.size();
    bodies[wanted[k].first].emplace(wanted[k].second, body_text(bytes));
  });
  static const std::map<int32_t, std::string> none;
  for (size_t i = 0; i < folders.size(); i++) {
    const B_TITLE& f = folders[i];
    if (off[i]) continue;
    pr("<IMG SRC=\"%s%s\"><B>[%d]%s</B><BR>\n", SYSINFO.CG_FILE_WEB_PATH,
       esc(folder_icon(f, tables.icon(f.FOLDER_NO))).c_str(), static_cast<int>(f.FOLDER_NO),
       esc(field(f.NAME)).c_str());
    auto b = bodies.find(f.FOLDER_NO);
    unread_messages(f.FOLDER_NO, unread[i], b == bodies.end() ? none : b->second);
  }
  pr("<CENTER><TABLE><TR><TD>\n");
  pr("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n</FORM>\n", msg(332),
     msg(333));
  pr("</TD><TD>\n");
  form_start("NRDETAILS");
  pr("<INPUT TYPE=\"hidden\" name=\"CHK_ALL\" value=\"1\">\n");
  pr("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n</FORM>\n", msg(361));
  pr("</TD></TR></TABLE></CENTER>\n</BODY>\n</HTML>\n");
}

void j_NRDETAILSWR() {
  if (G_MST_USER.MODE == 2) return;
  // Marks go only to messages that exist, in boards the user may read: a
  // forged pair must neither create files in other folders nor mark a
  // message number before it is written.
  AclTables& tables = request_acl();
  std::vector<B_TITLE> all;
  load_folders(all);
  std::set<int32_t> boards;
  for (const B_TITLE& f : all)
    if (f.KIND == KIND_BOARD) boards.insert(f.FOLDER_NO);
  std::map<int32_t, std::set<int32_t>> messages;  // readable board -> its numbers
  for (const std::string& v : cgi_values("FOLSEL")) {
    if (v.empty()) break;
    const size_t comma = v.find(',');
    if (comma == std::string::npos) continue;
    const int32_t folder = form_number(v.substr(0, comma));
    const int32_t no = form_number(v.substr(comma + 1));
    if (!boards.count(folder) || no < 1) continue;
    auto it = messages.find(folder);
    if (it == messages.end()) {
      it = messages.emplace(folder, std::set<int32_t>()).first;
      if (chk_ACL(folder, tables) > 0)
        for (const INDEX_DATA& r : compact_index(folder)) it->second.insert(r.MSG_NO);
    }
    if (it->second.count(no)) MarkREAD_POINT(folder, no);
  }
}
