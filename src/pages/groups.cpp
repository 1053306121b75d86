// Group administration: list, new group, rename and delete, with the store
// steps behind them. Deleting a group also removes its memberships, its
// access entries in every folder and its use as a primary group.
#include "pages/groups.h"

#include <cstring>
#include <string_view>

#include "app/globals.h"
#include "app/html.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "pages/admin.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "store/acl.h"
#include "store/group.h"
#include "store/records.h"
#include "store/textrec.h"
#include "store/user.h"

std::vector<GroupLine> read_group_lines(bool* opened) {
  std::vector<GroupLine> out;
  std::string text;
  bool ok = read_file(data_file("group.mst").c_str(), text);
  if (opened) *opened = ok;
  if (!ok) return out;
  for (std::string_view piece : line_pieces(text)) {
    std::string_view rest = piece, number, name;
    if (!next_token(rest, number)) continue;
    bool named = next_token(rest, name);
    out.push_back({parse_num(number), std::string(named ? name : ""), named});
  }
  return out;
}

namespace {

void group_form(const char* job, const char* name_attr = "") {
  pr("<FORM %sENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", name_attr, JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view(job));
}

void table_head() {
  pr("<TABLE BORDER=\"1\">\n<TR><TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">%s</TD>"
     "<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">%s</TD></TR>\n",
     msg(152), msg(153));
}

void plain_row(const GroupLine& g) {
  pr("<TR><TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">%d</TD><TD BGCOLOR=\"#FFFFFF\">%s</TD></TR>\n",
     static_cast<int>(g.number), esc(g.name).c_str());
}

void submit_and_back(int label, const char* check = "") {
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\"%s>\n", msg(label), check);
  pr("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n</FORM>\n", msg(4));
}

}  // namespace

void j_GROUPLIST() {
  admin_page_start();
  if (!is_admin()) return refusal_rest();
  admin_title(111);
  pr("<TABLE><TR><TD>\n");
  job_button("NEWGROUP", 150);
  pr("</TD><TD>\n");
  job_button("DELGROUP", 151);
  pr("</TD><TD>\n");
  job_button("ADMIN", 4);
  pr("</TD></TR></TABLE>\n");
  table_head();
  std::string link = std::string(JOB_EXE) + "?SKEY=" + url_esc(g_SKEY) + "&JOB=EDITGROUP";
  for (const GroupLine& g : read_group_lines())
    pr("<TR><TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">%d</TD><TD BGCOLOR=\"#FFFFFF\">"
       "<A HREF=\"%s&T02_GROUP_ID=%d\">%s</A></TD></TR>\n",
       static_cast<int>(g.number), link.c_str(), static_cast<int>(g.number), esc(g.name).c_str());
  pr("</TABLE>\n</BODY>\n</HTML>\n");
}

void j_NEWGROUP() {
  std::string script = std::string(
      "<SCRIPT LANGUAGE=\"JavaScript\">\n<!--\nfunction title_chk(){\n"
      " if(document.INPUT.T02_GROUP_ID.value==\"\"){alert(\"") + msg(156) +
      "\");return false;}\n if(document.INPUT.T02_GROUP_NAME.value==\"\"){alert(\"" + msg(157) +
      "\");return false;}\n return true;\n}\n//-->\n</SCRIPT>\n";
  admin_page_start(script.c_str());
  if (!is_admin()) return refusal_rest();
  admin_title(154);
  group_form("NEWGROUPWR", "NAME=\"INPUT\" ");
  table_head();
  int32_t last = 0;
  for (const GroupLine& g : read_group_lines()) {
    plain_row(g);
    last = g.number;
  }
  pr("<TR><TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><INPUT TYPE=\"text\" NAME=\"T02_GROUP_ID\" "
     "SIZE=\"3\" MAXLENGTH=\"3\" VALUE=\"%ld\"></TD><TD BGCOLOR=\"#FFFFFF\"><INPUT TYPE=\"text\" "
     "NAME=\"T02_GROUP_NAME\" SIZE=\"40\" MAXLENGTH=\"80\" VALUE=\"\"></TD></TR>\n</TABLE>\n",
     static_cast<long>(last) + 1);
  submit_and_back(155, " onClick=\"return title_chk()\"");
  pr("</BODY>\n</HTML>\n");
}

void j_EDITGROUP() {
  admin_page_start();
  if (!is_admin()) return refusal_rest();
  int32_t chosen = form_int("T02_GROUP_ID");
  admin_title(159);
  group_form("NEWGROUPWR");
  hidden("T02_GROUP_ID", static_cast<long>(chosen));
  table_head();
  for (const GroupLine& g : read_group_lines()) {
    if (g.number != chosen) {
      plain_row(g);
      continue;
    }
    pr("<TR><TD BGCOLOR=\"#FFB6C1\" ALIGN=\"CENTER\">%d</TD><TD BGCOLOR=\"#FFFFFF\">"
       "<INPUT TYPE=\"text\" NAME=\"T02_GROUP_NAME\" SIZE=\"40\" MAXLENGTH=\"80\" VALUE=\"%s\">"
       "</TD></TR>\n",
       static_cast<int>(g.number), esc(g.name).c_str());
  }
  pr("</TABLE>\n");
  submit_and_back(155);
  pr("</BODY>\n</HTML>\n");
}

void j_DELGROUP() {
  admin_page_start();
  if (!is_admin()) return refusal_rest();
  admin_title(161);
  group_form("DELGROUPWR");
  table_head();
  bool opened = false;
  std::vector<GroupLine> groups = read_group_lines(&opened);
  for (const GroupLine& g : groups) plain_row(g);
  pr("</TABLE>\n");
  if (opened) {
    pr("<TABLE BORDER=\"1\"><TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">"
       "<SELECT NAME=\"T02_GROUP_ID\">\n",
       msg(160));
    for (const GroupLine& g : groups)
      pr("<OPTION VALUE=\"%d\">%d:%s\n", static_cast<int>(g.number), static_cast<int>(g.number),
         esc(g.name).c_str());
    pr("</SELECT></TD></TR></TABLE>\n");
  }
  submit_and_back(151);
  pr("</BODY>\n</HTML>\n");
}

int j_NEWGROUPWR() {
  if (!is_admin()) return -1;
  std::string number = form_str("T02_GROUP_ID");
  std::string name = form_str("T02_GROUP_NAME");
  // What is checked is what is stored: the name as its field holds it.
  name.resize(sjis_fit(name, sizeof sMST_GROUP.T02_GROUP_NAME - 1));
  if (number.empty()) return 2;
  if (name.empty()) return 3;
  int32_t n = parse_num(number);
  if (n < 1) return 4;
  // A comma or line break would split the group's line.
  if (StrFind(name, ",") >= 0 || StrFind(name, "\r") >= 0 || StrFind(name, "\n") >= 0) return 5;
  std::memset(&sMST_GROUP, 0, sizeof sMST_GROUP);
  sMST_GROUP.T02_GROUP_ID = n;
  set_field(sMST_GROUP.T02_GROUP_NAME, name);
  ReWriteMST_GROUP();
  return 0;
}

int j_DELGROUPWR() {
  if (!is_admin()) return -1;
  std::string number = form_str("T02_GROUP_ID");
  if (number.empty()) return 2;
  int32_t n = parse_num(number);
  if (n < 1) return 4;
  // One lock over the data directory for the whole cascade, so that no
  // membership or primary group of the group is added half-way through.
  // Its rights, memberships and primary groups go first and its own line
  // last: a deletion cut short leaves the group in place, to be deleted
  // again, and never rights that a later group of the number would take.
  DirLock lock(data_file("group.mst").c_str());
  DeleteB_G_ACL(0, n);
  std::memset(&sGROUP_USER, 0, sizeof sGROUP_USER);
  sGROUP_USER.T02_GROUP_ID = n;
  DeleteGROUP_USER(2);
  ClearMST_USER_PGROUP(n);
  std::memset(&sMST_GROUP, 0, sizeof sMST_GROUP);
  sMST_GROUP.T02_GROUP_ID = n;
  DeleteMST_GROUP();
  return 0;
}
