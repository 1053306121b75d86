// The board's message list (JOB=ROOM): 20 messages a page in thread order
// (1), by number ascending (2) or by number with each page descending (3).
//
// The index is read once per request: every order takes its page from that
// copy, and each author's name is looked up once per page.
#include "pages/room.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/folder.h"
#include "store/message.h"
#include "store/user.h"
#include "text/convert.h"
#include "text/filter.h"

namespace {

// "unread" in Shift_JIS, the ALT text of the new-message mark.
constexpr char kUnreadAlt[] = "\x96\xA2\x93\xC7";

// What the page shows and what its forms and links carry.
struct View {
  int32_t folder;
  int32_t order;  // 1, 2 or 3
  int32_t page;
  int32_t pages;
  int access;
};

// The messages of page `page` (from 1). Order 1 takes the index positions
// of the page. Orders 2 and 3 count existing message numbers from 1 up to
// the highest: each number once (its first record), numbers of removed
// messages passed over; order 3 shows the page's numbers from the top down.
std::vector<const INDEX_DATA*> page_rows(std::span<const INDEX_DATA> index, int32_t order,
                                         int32_t page) {
  std::vector<uint32_t> numbers;
  if (order != 1) numbers = number_order(index);
  const size_t total = order == 1 ? index.size() : numbers.size();
  std::vector<const INDEX_DATA*> rows;
  int64_t first = (static_cast<int64_t>(page) - 1) * kRoomRows;
  if (first < 0 || first >= static_cast<int64_t>(total)) return rows;
  size_t end = std::min(total, static_cast<size_t>(first) + kRoomRows);
  for (size_t k = static_cast<size_t>(first); k < end; k++)
    rows.push_back(order == 1 ? &index[k] : &index[numbers[k]]);
  if (order == 3) std::reverse(rows.begin(), rows.end());
  return rows;
}

void script_block() {
  pr("<SCRIPT Language=\"JavaScript\">\n");
  pr("<!--\n");
  pr("function f_Pjamp(){\n");
  pr("jidx=document.Pjamp.PPage.selectedIndex;\n");
  pr("jloc=document.Pjamp.PPage.options[jidx].value;\n");
  pr("location.href=jloc;\n");
  pr("}\n");
  if (G_MST_USER.WRITE_MODE == 2 && strcmp(g_JOB, "BORDWRITEWR") == 0)
    pr("window.open(\"%s?JOB=BORDWRITEFIN\",\"WBORDWRITE\")\n", JOB_EXE);
  pr("// -->\n");
  pr("</SCRIPT>\n");
}

void form_start(const char* extra = "") {
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST%s>\n", JOB_EXE, extra);
}

void view_fields(const View& v) {
  hidden("FOLDER_NO", static_cast<long>(v.folder));
  hidden("DISP_PAGE", static_cast<long>(v.page));
  hidden("USER_DISP_DEF", static_cast<long>(v.order));
}

void top_buttons(const View& v) {
  pr("<TABLE><TR>\n");
  if (v.access == ACL_ADMIN) {
    const std::pair<const char*, int> pages[] = {{"BORDCONFIG", 190}, {"BORDACCESS", 191}};
    for (const auto& [job, label] : pages) {
      pr("<TD>");
      form_start();
      hidden_skey();
      hidden("JOB", std::string_view(job));
      hidden("FROM", std::string_view("ROOM"));
      hidden("FOLDER_NO", static_cast<long>(v.folder));
      pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n", msg(label));
      pr("</FORM></TD>\n");
    }
  }
  if (G_MST_USER.MODE == 1) {
    pr("<TD>");
    form_start();
    hidden_skey();
    hidden("JOB", std::string_view("BORDALLFLG"));
    view_fields(v);
    pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n",
       msg(256), msg(257));
    pr("</FORM></TD>\n");
  }
  pr("</TR></TABLE>\n");
}

void board_head(const View& v) {
  if (sB_TITLE2.TITLEPIC[0])
    pr("<IMG SRC=\"%s%d/%s\"><BR>\n", SYSINFO.CG_FILE_WEB_PATH, static_cast<int>(v.folder),
       esc(field(sB_TITLE2.TITLEPIC)).c_str());
  if (sB_TITLE2.INFO[0]) {
    std::string info = safe_html(CrLf_to_BR(field(sB_TITLE2.INFO)));
    if (sB_TITLE2.FONTCOLOR[0])
      pr("<FONT COLOR=\"#%s\">%s</FONT>\n", esc(field(sB_TITLE2.FONTCOLOR)).c_str(),
         info.c_str());
    else
      pr("%s\n", info.c_str());
  }
}

// The write button; with WRITE_MODE 2 the posting page opens in a window of
// its own.
void write_form(const View& v) {
  if (v.access < ACL_WRITE) return;
  pr("<TD>");
  form_start(G_MST_USER.WRITE_MODE == 2 ? " TARGET=\"WBORDWRITE\"" : "");
  hidden_skey();
  hidden("JOB", std::string_view("BORDWRITE"));
  view_fields(v);
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n", msg(258));
  pr("</FORM></TD>\n");
}

// Back and forward; on the first and the last page the control only says
// that there is no page that way.
void move_controls(const View& v) {
  if (v.page <= 1)
    pr("<INPUT TYPE=\"button\" NAME=\"MOVE_REW\" VALUE=\"%s\" onClick=\"alert('%s')\">\n",
       msg(259), msg(260));
  else
    pr("<INPUT TYPE=\"submit\" NAME=\"MOVE_REW\" VALUE=\"%s\">\n", msg(259));
  if (v.page >= v.pages)
    pr("<INPUT TYPE=\"button\" NAME=\"MOVE_FF\" VALUE=\"%s\" onClick=\"alert('%s')\">\n",
       msg(261), msg(262));
  else
    pr("<INPUT TYPE=\"submit\" NAME=\"MOVE_FF\" VALUE=\"%s\">\n", msg(261));
}

void page_option(const View& v, int32_t page) {
  pr("<OPTION VALUE=\"%s?SKEY=%s&JOB=ROOM&FOLDER_NO=%d&DISP_PAGE=%d&USER_DISP_DEF=%d\">%d Page\n",
     JOB_EXE, url_esc(g_SKEY).c_str(), static_cast<int>(v.folder), static_cast<int>(page),
     static_cast<int>(v.order), static_cast<int>(page));
}

void paging_form(const View& v, bool selector) {
  pr("<TD>");
  if (selector)
    pr("<FORM NAME=\"Pjamp\" ACTION=\"%s\" METHOD=POST >\n", JOB_EXE);
  else
    pr("<FORM ACTION=\"%s\" METHOD=POST >\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view("ROOM"));
  view_fields(v);
  move_controls(v);
  if (selector) {
    pr("<SELECT NAME=\"PPage\" onChange=\"f_Pjamp()\">\n");
    page_option(v, v.page);
    for (int32_t p = v.pages; p >= 1; p--) page_option(v, p);
    pr("</SELECT>\n");
  }
  pr("</FORM></TD>\n");
}

void message_row(const View& v, const INDEX_DATA& r, UserCache& authors) {
  pr("<TR>\n");
  pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>");
  if (G_MST_USER.MODE == 1 && ReadREAD_POINT(v.folder, r.MSG_NO) == -1)
    pr("<IMG SRC=\"%snew.gif\" ALT=\"%s\">", SYSINFO.CG_FILE_WEB_PATH, kUnreadAlt);
  pr("<BR></TD>\n");

  pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>");
  if (r.WRITE_PRIORITY == 1) pr("%s", msg(268));
  if (r.WRITE_PRIORITY == 2) pr("%s", msg(269));
  pr("</TD>\n");

  pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>%d</TD>\n", static_cast<int>(r.MSG_NO));

  pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT>");
  if (v.order == 1)
    for (int32_t d = 0; d < r.RES_DEPTH; d++) pr("&nbsp;&nbsp;");
  pr("<A HREF=\"%s?SKEY=%s&JOB=DETAILS&FOLDER_NO=%d&SEL_NO=%d&USER_DISP_DEF=%d\">", JOB_EXE,
     url_esc(g_SKEY).c_str(), static_cast<int>(v.folder), static_cast<int>(r.MSG_NO),
     static_cast<int>(v.order));
  pr("%s</A></TD>\n", safe_html(list_title(r)).c_str());

  // Names are chosen by their users on the personal settings page, so they
  // are shown as text, never as mark-up.
  pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT>%s</TD>\n",
     esc(authors.name(field(r.USER_ID))).c_str());

  pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>%s</TD>\n", esc(shown_date(r)).c_str());
  pr("</TR>\n");
}

void order_forms(const View& v) {
  pr("<TABLE><TR>\n");
  for (int32_t order = 1; order <= 3; order++) {
    pr("<TD>");
    form_start();
    hidden_skey();
    hidden("JOB", std::string_view("ROOM"));
    hidden("FOLDER_NO", static_cast<long>(v.folder));
    hidden("DISP_PAGE", static_cast<long>(v.page));
    hidden("USER_DISP_DEF", static_cast<long>(order));
    pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n", msg(174 + order));
    pr("</FORM></TD>\n");
  }
  pr("</TR></TABLE>\n");
}

}  // namespace

void j_ROOM() {
  View v{};
  v.folder = form_int("FOLDER_NO");
  v.access = chk_ACL(v.folder);
  header_printf();
  bool in_tree = false;
  if (v.access >= ACL_READ) read_folder(v.folder, &in_tree);
  if (!in_tree) {
    refusal_page();
    return;
  }

  v.order = form_int("USER_DISP_DEF");
  if (v.order == 0) v.order = G_MST_USER.USER_DISP_DEF;
  if (v.order < 1 || v.order > 3) v.order = 1;

  const IndexMap map(v.folder);
  const std::span<const INDEX_DATA> index = map.records();
  const int64_t count = static_cast<int64_t>(index.size());
  v.pages = static_cast<int32_t>((count - 1) / kRoomRows + 1);
  v.page = form_int("DISP_PAGE");
  if (v.page < 1) v.page = v.pages;
  if (!form_str("MOVE_REW").empty() && v.page >= 2) v.page--;
  if (!form_str("MOVE_FF").empty() && v.page < v.pages) v.page++;

  script_block();
  folder_body(v.folder, sB_TITLE2.BACKPIC);
  pr("<TABLE><TR><TD BGCOLOR=\"#FFFFFF\"><FONT SIZE=\"5\"><B>[%d]%s</B></FONT></TD></TR>"
     "</TABLE>\n",
     static_cast<int>(v.folder), safe_html(field(sB_TITLE.NAME)).c_str());
  top_buttons(v);
  if (form_int("FAST_FLG") >= 1) board_head(v);

  pr("<HR>\n<TABLE><TR>\n");
  write_form(v);
  paging_form(v, true);
  pr("</TR></TABLE>\n");

  pr("<P>\n");
  if (sB_TITLE2.FONTCOLOR[0])
    pr("<FONT COLOR=\"#%s\"> Page[%d/%d]<BR></FONT>\n", esc(field(sB_TITLE2.FONTCOLOR)).c_str(),
       static_cast<int>(v.page), static_cast<int>(v.pages));
  else
    pr(" Page[%d/%d]<BR>\n", static_cast<int>(v.page), static_cast<int>(v.pages));

  pr("<TABLE BORDER>\n<TR>\n");
  for (const char* head : {msg(263), msg(264), "SEL", msg(265), msg(266), msg(267)})
    pr("<TD BGCOLOR=\"#E0FFFF\" ALIGN=CENTER>%s</TD>\n", head);
  pr("</TR>\n");
  UserCache authors;
  for (const INDEX_DATA* r : page_rows(index, v.order, v.page)) message_row(v, *r, authors);
  pr("</TABLE>\n<P>\n");

  pr("<TABLE><TR>\n");
  write_form(v);
  paging_form(v, false);
  pr("</TR></TABLE>\n");
  order_forms(v);
  pr("</BODY>\n</HTML>\n");
}
