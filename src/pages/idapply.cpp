// ID applications. An applied ID becomes a line of the user master and a
// directory name for the user's picture, so it is checked as strictly as
// an ID an administrator types. Each check-then-write (the duplicate checks
// and the append of an application; a decision and the user it creates)
// holds the data directory's lock throughout, so two requests cannot both
// pass a check before either writes.
#include "pages/idapply.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "pages/admin.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/guest_user.h"
#include "store/records.h"
#include "store/user.h"
#include "text/datetime.h"

namespace {

// A form field cut to a record field's width on a character boundary.
std::string field_value(const char* name, size_t max) {
  std::string v = form_str(name);
  v.resize(sjis_fit(v, max));
  return v;
}

bool has_comma(std::string_view s) { return StrFind(s, ",") >= 0; }
bool has_comma_or_blank(std::string_view s) { return has_comma(s) || StrFind(s, " ") >= 0; }

// Whether `id` may become a user ID.
bool valid_id(std::string_view id) { return safe_user_id(id) && !has_comma_or_blank(id); }

// Whether a user of this ID exists; the look-up upper-cases its argument,
// so it gets a copy.
bool user_exists(std::string_view id) {
  char copy[sizeof(MST_USER::USER_ID) + 2];
  copy_text(copy, sizeof copy, id);
  return ReadMST_USER(copy) == 0;
}

std::string data_lock_path() { return data_file("g_user.dat"); }

void page_start(int title) {
  header_printf();
  body_tag();
  pr("<CENTER>\n<FONT SIZE=\"5\"><B>%s</B></FONT><P>\n", msg(title));
}

void header_cells(std::initializer_list<int> slots) {
  pr("<TR>");
  for (int s : slots) pr("<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\" NOWRAP>%s</TD>", msg(s));
  pr("</TR>\n");
}

void cell(std::string_view text) { pr("<TD BGCOLOR=\"#FFFFFF\">%s<BR></TD>", esc(text).c_str()); }

void input_row(int label, const char* name, int size, int max, const char* type = "text") {
  pr("<TR><TD NOWRAP BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\"><INPUT TYPE=\"%s\" "
     "NAME=\"%s\" SIZE=\"%d\" MAXLENGTH=\"%d\"></TD></TR>\n",
     msg(label), type, name, size, max);
}

// Decides the first pending application of `id`: refused when the ID has
// meanwhile become a user's (or is unfit for one), else `decision` with
// `reply`; acceptance creates the user first and records the decision only
// once he exists.
void decide(const std::string& id, int32_t decision, const std::string& reply) {
  DirLock lock(data_lock_path().c_str());
  int64_t k = 0;
  for (;; k++) {
    if (ReadGUEST_USER2(k, id.c_str()) != 0) return;
    if (sGUEST_USER.OK_NG == GUEST_PENDING) break;
  }
  GUEST_USER g = sGUEST_USER;
  const std::string_view applied = field(g.USER_ID);
  int taken = valid_id(applied) ? 0 : 1;
  if (!taken && decision == GUEST_ACCEPTED) {
    MST_USER u{};
    set_field(u.USER_ID, applied);
    set_field(u.USER_NAME, field(g.USER_NAME));
    set_field(u.E_MAIL_ADDR, field(g.E_MAIL_ADDR));
    set_field(u.USER_PASS, field(g.USER_PASS));
    u.USER_LEVEL = 10;
    u.P_GROUP = 0;
    u.USER_DISP_DEF = 1;
    u.MODE = 1;
    u.WRITE_MODE = 1;
    set_field(u.LANGUAGE, field(SYSINFO.LANGUAGE));
    sMST_USER = u;
    taken = InsertMST_USER_IF_FREE();
    if (taken < 0) return;  // the master cannot be written: stays pending
  } else if (!taken && user_exists(applied)) {
    taken = 1;
  }
  if (taken) {
    g.OK_NG = GUEST_REFUSED;
  } else {
    g.OK_NG = decision;
    set_field(g.MESSAGE, reply);
  }
  sGUEST_USER = g;
  WriteGUEST_USER2(k, id.c_str());
}

}  // namespace

void j_IDSINSEI() {
  header_printf();
  pr("<SCRIPT Language=\"JavaScript\">\n<!--\nfunction title_chk(){\n");
  pr("if ( document.INPUT.USER_ID.value==\"\" ) {\nwindow.alert( \"%s\" );\nreturn false }\n",
     msg(181));
  pr("if ( document.INPUT.USER_NAME.value==\"\" ) {\nwindow.alert( \"%s\" );\nreturn false }\n",
     msg(182));
  pr("}\n// -->\n</SCRIPT>\n");
  body_tag();
  pr("<CENTER>\n<FONT SIZE=\"5\"><B>%s</B></FONT><P>\n", msg(311));
  pr("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST>\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view("IDSINSEIWR"));
  pr("<TABLE BORDER>\n");
  input_row(136, "USER_ID", 20, 20);
  input_row(131, "USER_PASS", 20, 20);
  input_row(137, "USER_NAME", 40, 80);
  input_row(169, "E_MAIL_ADDR", 40, 250);
  pr("</TABLE>\n<P>\n");
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\">\n", msg(171));
  pr("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n", msg(4));
  pr("</FORM>\n</CENTER>\n</BODY>\n</HTML>\n");
}

int j_IDSINSEIWR() {
  const std::string id = field_value("USER_ID", sizeof(GUEST_USER::USER_ID) - 1);
  const std::string name = field_value("USER_NAME", sizeof(GUEST_USER::USER_NAME) - 1);
  const std::string pass = field_value("USER_PASS", sizeof(GUEST_USER::USER_PASS) - 1);
  const std::string mail = field_value("E_MAIL_ADDR", sizeof(GUEST_USER::E_MAIL_ADDR) - 1);
  if (id.empty()) return -1;
  if (name.empty()) return -2;

  DirLock lock(data_lock_path().c_str());
  if (user_exists(id)) return -3;
  for (int64_t k = 0; ReadGUEST_USER2(k, id.c_str()) == 0; k++)
    if (sGUEST_USER.OK_NG != GUEST_REFUSED) return -4;
  if (!valid_id(id)) return -5;
  if (has_comma(name)) return -6;
  if (has_comma_or_blank(pass)) return -7;
  if (has_comma_or_blank(mail)) return -8;

  GUEST_USER g{};
  set_field(g.USER_ID, id);
  set_field(g.USER_NAME, name);
  set_field(g.E_MAIL_ADDR, mail);
  set_field(g.USER_PASS, pass);
  set_date(g.APPLY_DATE);
  const char* addr = getenv("REMOTE_ADDR");
  const char* agent = getenv("HTTP_USER_AGENT");
  set_field(g.REMOTE_ADDR, addr ? addr : "");
  set_field(g.HTTP_USER_AGENT, agent ? agent : "");
  g.OK_NG = GUEST_PENDING;
  sGUEST_USER = g;
  return WriteGUEST_USER() == 0 ? 0 : -9;
}

void j_IDSINSEIlist() {
  page_start(107);
  pr("%s<P>\n", msg(314));
  // Decided applications go 14 days after they were made; the purge hands
  // back what stays, so the file is read once.
  std::vector<GUEST_USER> apps;
  if (PurgeGUEST_USER(date_days_back(14).c_str(), &apps) < 0)
    load_records(data_file("g_user.dat").c_str(), apps);
  pr("<TABLE BORDER>\n");
  header_cells({315, 136, 137, 316, 317});
  for (const GUEST_USER& g : apps) {
    pr("<TR><TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">%s</TD>", esc(field(g.APPLY_DATE)).c_str());
    cell(field(g.USER_ID));
    cell(field(g.USER_NAME));
    if (g.OK_NG == GUEST_ACCEPTED)
      pr("<TD BGCOLOR=\"#B0E0E6\">%s</TD>", msg(319));
    else if (g.OK_NG == GUEST_REFUSED)
      pr("<TD BGCOLOR=\"#FFB6C1\">%s</TD>", msg(320));
    else
      pr("<TD BGCOLOR=\"#FFFFFF\">%s</TD>", msg(318));
    cell(field(g.MESSAGE));
    pr("</TR>\n");
  }
  pr("</TABLE>\n</CENTER>\n</BODY>\n</HTML>\n");
}

void j_IDSINSEIlist2() {
  if (!is_admin()) {
    header_printf();
    refusal_page();
    return;
  }
  page_start(311);
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST>\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view("IDSINSEIsysopWR"));
  std::vector<GUEST_USER> apps;
  load_records(data_file("g_user.dat").c_str(), apps);
  pr("<TABLE BORDER>\n<TR><TD BGCOLOR=\"#E0FFFF\"><BR></TD>");
  for (int s : {315, 136, 137, 321, 322})
    pr("<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\" NOWRAP>%s</TD>", msg(s));
  pr("</TR>\n");
  for (const GUEST_USER& g : apps) {
    if (g.OK_NG != GUEST_PENDING) continue;
    pr("<TR><TD BGCOLOR=\"#FFFFFF\"><INPUT TYPE=\"checkbox\" NAME=\"USER_ID\" VALUE=\"%s\"></TD>",
       esc(field(g.USER_ID)).c_str());
    for (std::string_view v : {field(g.APPLY_DATE), field(g.USER_ID), field(g.USER_NAME),
                               field(g.REMOTE_ADDR), field(g.HTTP_USER_AGENT)})
      cell(v);
    pr("</TR>\n");
  }
  pr("</TABLE>\n<P>\n<TABLE BORDER>\n");
  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">"
     "<INPUT TYPE=\"radio\" NAME=\"OK_NG\" VALUE=\"1\" CHECKED>%s "
     "<INPUT TYPE=\"radio\" NAME=\"OK_NG\" VALUE=\"2\">%s</TD></TR>\n",
     msg(323), msg(324), msg(325));
  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">"
     "<INPUT TYPE=\"radio\" NAME=\"MES\" VALUE=\"1\" CHECKED>%s<BR>\n"
     "<INPUT TYPE=\"radio\" NAME=\"MES\" VALUE=\"2\">%s<BR>\n"
     "<INPUT TYPE=\"radio\" NAME=\"MES\" VALUE=\"3\">%s<BR>\n"
     "<INPUT TYPE=\"radio\" NAME=\"MES\" VALUE=\"4\">%s "
     "<INPUT TYPE=\"text\" NAME=\"MESSAGE\" SIZE=\"40\" MAXLENGTH=\"250\"></TD></TR>\n",
     msg(317), msg(326), msg(327), msg(328), msg(329));
  pr("</TABLE>\n<P>\n");
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n", msg(171));
  pr("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n", msg(4));
  pr("</FORM>\n</CENTER>\n</BODY>\n</HTML>\n");
}

void j_IDSINSEIsysopWR() {
  if (!is_admin()) return;
  // Only the two decisions exist; any other value would leave the
  // application in a state that blocks every later application for its ID.
  const int32_t decision = form_int("OK_NG");
  if (decision != GUEST_ACCEPTED && decision != GUEST_REFUSED) return;
  const int32_t mes = form_int("MES");
  std::string reply;
  if (mes >= 1 && mes <= 3)
    reply = msg(325 + mes);
  else if (mes == 4)
    reply = form_str("MESSAGE");
  for (int i = 0;; i++) {
    const std::string id = form_str("USER_ID", i);
    if (id.empty()) break;
    decide(id, decision, reply);
  }
}
