// User administration (list, edit page, new user, delete, memberships) and
// the personal settings page, with the one store step the three forms
// share (JOB=USERWR, NEWUSERWR, MYDATAWR).
//
// A save looks the user up and writes him under one lock of the data
// directory, so two administrators never add the same ID twice and a
// personal save never undoes an administrator's change made meanwhile.
#include "pages/users.h"

#include <unistd.h>

#include <cstring>
#include <initializer_list>
#include <iterator>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/globals.h"
#include "app/html.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "cgi/upload.h"
#include "pages/admin.h"
#include "pages/common.h"
#include "pages/groups.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/fileio.h"
#include "store/group.h"
#include "store/records.h"
#include "store/textrec.h"
#include "store/user.h"
#include "text/convert.h"

namespace {

std::string check_script(bool with_id) {
  std::string s = "<SCRIPT LANGUAGE=\"JavaScript\">\n<!--\nfunction title_chk(){\n";
  if (with_id)
    s += std::string(" if(document.INPUT.USER_ID.value==\"\"){alert(\"") + msg(181) +
         "\");return false;}\n";
  s += std::string(" if(document.INPUT.USER_NAME.value==\"\"){alert(\"") + msg(182) +
       "\");return false;}\n return true;\n}\n//-->\n</SCRIPT>\n";
  return s;
}

void user_form(const char* job) {
  pr("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n",
     JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view(job));
  pr("<TABLE BORDER=\"1\">\n");
}

void label_cell(int slot) {
  pr("<TR><TD BGCOLOR=\"#E0FFFF\" ALIGN=\"LEFT\" NOWRAP>%s</TD>"
     "<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"LEFT\" NOWRAP>",
     msg(slot));
}

void input_row(int slot, const char* type, const char* name, std::string_view value, int size,
               int max) {
  label_cell(slot);
  pr("<INPUT TYPE=\"%s\" NAME=\"%s\" SIZE=\"%d\" MAXLENGTH=\"%d\" VALUE=\"%s\"></TD></TR>\n", type,
     name, size, max, esc(value).c_str());
}

void option(long value, std::string_view label) {
  pr("<OPTION VALUE=\"%ld\">%s\n", value, esc(label).c_str());
}

// A select of numbered choices with the current value first; a value that
// is not one of the choices counts as the first (the default), so that
// saving the form unchanged never stores a value nobody chose.
void choice_row(int slot, const char* name, long current,
                std::initializer_list<std::pair<long, int>> choices, bool repeat_current) {
  label_cell(slot);
  pr("<SELECT NAME=\"%s\">\n", name);
  const std::pair<long, int>* first = choices.begin();
  for (const auto& c : choices)
    if (c.first == current) first = &c;
  option(first->first, msg(first->second));
  for (const auto& c : choices)
    if (repeat_current || &c != first) option(c.first, msg(c.second));
  pr("</SELECT></TD></TR>\n");
}

void language_row(std::string_view current) {
  label_cell(115);
  pr("<SELECT NAME=\"LANGUAGE\">\n");
  if (!current.empty()) pr("<OPTION VALUE=\"%s\">%s\n", esc(current).c_str(), esc(current).c_str());
  char found[PATH_SIZE] = "*.lng";
  filefind(found);
  std::string_view rest = found, name;
  while (next_token(rest, name))
    pr("<OPTION VALUE=\"%s\">%s\n", esc(name).c_str(), esc(name).c_str());
  pr("</SELECT></TD></TR>\n");
}

void picture_row(std::string_view current) {
  label_cell(224);
  pr("<INPUT TYPE=\"text\" NAME=\"PICFILE\" SIZE=\"40\" MAXLENGTH=\"250\" VALUE=\"%s\">"
     "<BR>%s<INPUT TYPE=\"file\" NAME=\"FILE1\"></TD></TR>\n",
     esc(current).c_str(), msg(7));
}

// Rows the edit page and the personal settings page share: the display
// order, and the posting window, language and picture.
void display_order_row(const MST_USER& u) {
  choice_row(174, "USER_DISP_DEF", u.USER_DISP_DEF, {{1, 175}, {2, 176}, {3, 177}}, true);
}
void window_language_picture_rows(const MST_USER& u) {
  choice_row(291, "WRITE_MODE", u.WRITE_MODE, {{1, 292}, {2, 293}}, false);
  language_row(field(u.LANGUAGE));
  picture_row(field(u.PICFILE));
}

// The groups with a name, in file order, and their names by number.
struct Groups {
  std::vector<GroupLine> lines;
  std::map<int32_t, std::string> names;
  Groups() {
    for (GroupLine& g : read_group_lines())
      if (g.named) names.emplace(g.number, g.name), lines.push_back(std::move(g));
  }
  void options() const {
    for (const GroupLine& g : lines) option(g.number, g.name);
  }
};

// The n-th comma-ended field of a user line of any of the four files.
bool user_fields(std::string_view line, std::string_view (&f)[8]) {
  for (std::string_view& x : f)
    if (!next_field(line, x)) return false;
  return true;
}

// Whether `text` holds one of the bytes of `bad` (Shift_JIS aware).
bool holds(std::string_view text, std::string_view bad) {
  for (char c : bad)
    if (StrFind(text, std::string_view(&c, 1)) >= 0) return true;
  return false;
}

// A form text as its field of `width` bytes holds it, trailing blanks
// removed when `trim`.
std::string form_field(const char* name, size_t width, bool trim) {
  std::string v = form_str(name);
  v.resize(sjis_fit(v, width - 1));
  return trim ? TrimRight(v) : v;
}

// A language a user may choose: a plain "*.lng" name beside the program.
bool usable_language(const std::string& name) {
  return language_file_name(name.c_str()) && access(name.c_str(), R_OK) == 0;
}

// A picture name typed into PICFILE: empty (no picture) or one component
// that a comma-separated line can hold.
bool usable_picture_name(std::string_view name) {
  return name.empty() || (safe_upload_name(name) == name && !holds(name, ","));
}

// Moves the request's FILE1 upload into the user's picture directory; the
// picture name changes only once the file is in place.
void take_picture(MST_USER& u) {
  TakenUpload up;
  std::string_view id = field(u.USER_ID);
  if (take_upload("FILE1", 0, up, sizeof u.PICFILE - 1) && is_picture_name(up.name) &&
      safe_user_id(id)) {
    std::string dir = std::string(SYSINFO.CG_FILE_PATH) + "userpic";
    make_dir(dir.c_str());
    dir += "/" + std::string(id);
    make_dir(dir.c_str());
    if (place_upload(up, dir + "/" + up.name) == 0) set_field(u.PICFILE, up.name);
  }
  discard_upload(up.tmp);
}

bool pressed(const char* button) { return !form_str(button).empty(); }

}  // namespace

void j_USERLIST() {
  admin_page_start();
  if (!is_admin()) return refusal_rest();
  admin_title(109);
  static constexpr struct {
    const char* sjob;
    int label;
  } kOrders[] = {{"NON_ORDER", 163}, {"ORDER_ID", 133}, {"ORDER_LEVEL", 134}, {"ORDER_PGROUP", 164}};
  pr("<TABLE><TR><TD>\n");
  job_button("USERMENT", 132);
  for (const auto& o : kOrders) {
    pr("</TD><TD>\n");
    std::string extra = "<INPUT TYPE=\"hidden\" NAME=\"SJOB\" VALUE=\"" + std::string(o.sjob) + "\">\n";
    job_button("USERLIST", o.label, extra.c_str());
  }
  pr("</TD></TR>\n<TR><TD COLSPAN=\"5\">\n");
  job_button("ADMIN", 4);
  pr("</TD></TR></TABLE>\n");

  std::string sjob = form_str("SJOB");
  if (!sjob.empty()) {
    int order = 0;
    for (size_t i = 0; i < std::size(kOrders); i++) {
      if (sjob != kOrders[i].sjob) continue;
      order = static_cast<int>(i) + 1;
      pr("<B>%s</B>\n", msg(kOrders[i].label));
    }
    pr("<TABLE BORDER=\"1\">\n<TR>");
    for (int slot : {136, 137, 138, 162, 139})
      pr("<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">%s</TD>", msg(slot));
    pr("</TR>\n");
    if (order) j_USERLIST_sub1(order);
    pr("</TABLE>\n");
  }
  pr("</BODY>\n</HTML>\n");
}

void j_USERLIST_sub1(int order) {
  static const char* const kFiles[] = {"user.mst", "user2.mst", "user3.mst", "user4.mst"};
  if (order < 1 || order > 4) return;
  MakeOderUpTo(order - 1);
  const char* file = kFiles[order - 1];
  std::string text;
  if (!read_file(data_file(file).c_str(), text)) return;
  const std::map<int32_t, std::string> groups = Groups().names;  // read once for all rows
  std::string link = std::string(JOB_EXE) + "?SKEY=" + url_esc(g_SKEY) + "&JOB=USERMENT&USER_ID=";
  // The rows are put together a few at a time and written in pieces that
  // stay in the same small buffer.
  std::string rows;
  rows.reserve(16384);
  for (std::string_view line : line_pieces(text)) {
    std::string_view f[8];
    if (!user_fields(line, f)) continue;
    auto g = groups.find(parse_num(f[5]));
    rows += "<TR><TD BGCOLOR=\"#FFFFFF\"><A HREF=\"";
    rows += link;
    rows += url_esc(f[0]);
    rows += "\">";
    esc_into(rows, f[0]);
    rows += "</A></TD><TD BGCOLOR=\"#FFFFFF\">";
    esc_into(rows, f[1]);
    rows += "</TD><TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">";
    rows += std::to_string(parse_num(f[2]));
    rows += "</TD><TD BGCOLOR=\"#FFFFFF\">";
    if (g != groups.end()) esc_into(rows, g->second);
    rows += "<BR></TD><TD BGCOLOR=\"#FFFFFF\">";
    if (parse_num(f[7]) == 2) rows += msg(168);
    rows += "<BR></TD></TR>\n";
    if (rows.size() > 15000) {
      pr_text(rows);
      rows.clear();
    }
  }
  pr_text(rows);
}

void j_USERMENT_sub1() { Groups().options(); }

void j_USERMENT() {
  std::string typed = form_field("USER_ID", sizeof(MST_USER::USER_ID), false);
  const bool editing = !form_str("USER_ID").empty();
  admin_page_start(check_script(true).c_str());
  admin_title(editing ? 166 : 165);
  if (!is_admin()) return refusal_rest();

  MST_USER u{};
  if (editing) {
    // The look-up works on a copy: a user not on file keeps the ID as typed.
    std::string users;
    load_text_store(data_file("user.mst").c_str(), users);
    char id[sizeof u.USER_ID];
    copy_text(id, sizeof id, typed);
    if (!find_user_in(users, id, u)) {
      // Not on file yet (the new-user page's membership buttons lead
      // here): the page shows what its form sent, so that a save from
      // here stores what was typed.
      u = {};
      set_field(u.USER_ID, typed);
      set_field(u.USER_NAME, form_field("USER_NAME", sizeof u.USER_NAME, false));
      set_field(u.USER_PASS, form_field("USER_PASS", sizeof u.USER_PASS, false));
      set_field(u.E_MAIL_ADDR, form_field("E_MAIL_ADDR", sizeof u.E_MAIL_ADDR, false));
      set_field(u.LANGUAGE, form_field("LANGUAGE", sizeof u.LANGUAGE, false));
      set_field(u.PICFILE, form_field("PICFILE", sizeof u.PICFILE, false));
      u.USER_LEVEL = parse_num(TrimRight(form_str("USER_LEVEL")));
      u.P_GROUP = form_int("P_GROUP");
      u.USER_DISP_DEF = form_int("USER_DISP_DEF");
      u.MODE = form_int("MODE");
      u.WRITE_MODE = form_int("WRITE_MODE");
    }
  }
  std::string_view id = field(u.USER_ID);
  const Groups all;
  const std::map<int32_t, std::string>& groups = all.names;

  user_form(editing ? "USERWR" : "NEWUSERWR");
  label_cell(136);
  if (editing) {
    pr("%s", esc(id).c_str());
    hidden("USER_ID", id);
    pr("</TD></TR>\n");
  } else {
    pr("<INPUT TYPE=\"text\" NAME=\"USER_ID\" SIZE=\"20\" MAXLENGTH=\"20\"></TD></TR>\n");
  }
  input_row(131, "password", "USER_PASS", field(u.USER_PASS), 20, 20);
  input_row(137, "text", "USER_NAME", field(u.USER_NAME), 40, 80);
  input_row(138, "text", "USER_LEVEL", std::to_string(u.USER_LEVEL), 3, 3);
  input_row(169, "text", "E_MAIL_ADDR", field(u.E_MAIL_ADDR), 40, 250);

  label_cell(162);
  pr("<SELECT NAME=\"P_GROUP\">\n");
  if (u.P_GROUP > 0) {
    auto g = groups.find(u.P_GROUP);
    option(u.P_GROUP, g == groups.end() ? std::string() : g->second);
  } else {
    option(0, msg(170));
  }
  all.options();
  option(0, msg(170));
  pr("</SELECT></TD></TR>\n");

  display_order_row(u);
  choice_row(139, "MODE", u.MODE, {{1, 167}, {2, 168}}, false);
  window_language_picture_rows(u);
  pr("</TABLE>\n");

  pr("<INPUT TYPE=\"submit\" NAME=\"SUB1\" VALUE=\"%s\" onClick=\"return title_chk()\">\n", msg(171));
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB2\" VALUE=\"%s\">\n", msg(4));
  if (editing)
    pr("<INPUT TYPE=\"submit\" NAME=\"SUB3\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n",
       msg(172), msg(173));

  pr("<TABLE BORDER=\"1\">\n<TR><TD ROWSPAN=\"2\" BGCOLOR=\"#E0FFFF\">%s</TD>"
     "<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">%s</TD><TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">%s</TD>"
     "</TR>\n<TR><TD BGCOLOR=\"#FFFFFF\"><SELECT NAME=\"NOWGROUP\" SIZE=5 MULTIPLE>\n",
     msg(178), msg(179), msg(180));
  if (!id.empty()) {
    // Left uninitialised: only the entries the look-up writes are touched.
    std::unique_ptr<int32_t[]> mine(new int32_t[GROUP_LIST_SIZE]);
    if (ReadGROUP_USER1(std::string(id).c_str(), mine.get()) >= 0)
      for (size_t i = 0; mine[i] != 0; i++) {
        auto g = groups.find(mine[i]);
        if (g != groups.end()) option(g->first, g->second);
      }
  }
  pr("</SELECT><BR><INPUT TYPE=\"submit\" NAME=\"GROUP_OUT\" VALUE=\"%s\"></TD>\n"
     "<TD BGCOLOR=\"#FFFFFF\"><SELECT NAME=\"GROUPLIST\" SIZE=5 MULTIPLE>\n",
     msg(172));
  all.options();
  pr("</SELECT><BR><INPUT TYPE=\"submit\" NAME=\"GROUP_IN\" VALUE=\"%s\"></TD></TR>\n</TABLE>\n"
     "</FORM>\n</BODY>\n</HTML>\n",
     msg(171));
}

void j_MYDATA() {
  admin_page_start(check_script(false).c_str());
  // A guest account is shared: its settings, password above all, are no
  // one's to change.
  if (G_MST_USER.MODE == 2 || SYSINFO.MYDATA != 0) return refusal_rest();
  const MST_USER& u = G_MST_USER;
  pr("<FONT SIZE=\"5\"><B>%s</B></FONT><P><HR><P>\n", msg(183));
  user_form("MYDATAWR");
  label_cell(136);
  pr("%s</TD></TR>\n", esc(field(u.USER_ID)).c_str());
  input_row(131, "password", "USER_PASS", field(u.USER_PASS), 20, 20);
  input_row(137, "text", "USER_NAME", field(u.USER_NAME), 40, 80);
  input_row(169, "text", "E_MAIL_ADDR", field(u.E_MAIL_ADDR), 40, 250);
  display_order_row(u);
  window_language_picture_rows(u);
  choice_row(370, "NO_READ_MODE", u.NO_READ_MODE, {{0, 371}, {1, 372}}, false);
  pr("</TABLE>\n<INPUT TYPE=\"submit\" NAME=\"SUB1\" VALUE=\"%s\" onClick=\"return title_chk()\">\n"
     "</FORM>\n</BODY>\n</HTML>\n",
     msg(171));
}

int j_USERWR() {
  const std::string_view job = g_JOB;
  const bool mine = job == "MYDATAWR";
  std::string id = mine ? std::string(field(G_MST_USER.USER_ID))
                        : form_field("USER_ID", sizeof(MST_USER::USER_ID), true);
  std::string name = form_field("USER_NAME", sizeof(MST_USER::USER_NAME), true);
  std::string mail = form_field("E_MAIL_ADDR", sizeof(MST_USER::E_MAIL_ADDR), true);
  std::string pass = form_field("USER_PASS", sizeof(MST_USER::USER_PASS), false);
  std::string lang = form_field("LANGUAGE", sizeof(MST_USER::LANGUAGE), false);
  std::string pic = form_field("PICFILE", sizeof(MST_USER::PICFILE), false);
  const int32_t level = parse_num(TrimRight(form_str("USER_LEVEL")));

  if (pressed("SUB2")) return 2;
  if (!mine && !is_admin()) return -1;
  // Personal settings are off, or the account is a shared guest account.
  if (mine && (SYSINFO.MYDATA != 0 || G_MST_USER.MODE == 2)) return -1;

  if (id.empty()) return -2;
  if (name.empty()) return -3;
  // Each text goes into a comma-separated line: a comma or line break
  // would split it.
  if (holds(id, ", \r\n")) return -5;
  if (holds(name, ",\r\n")) return -6;
  if (holds(pass, ", \r\n")) return -7;
  if (holds(mail, ", \r\n")) return -8;

  std::string path = data_file("user.mst");
  DirLock lock(path.c_str());
  std::string users;
  load_text_store(path.c_str(), users);
  char key[sizeof(MST_USER::USER_ID)];
  copy_text(key, sizeof key, id);
  MST_USER stored;
  const MST_USER* found = find_user_in(users, key, stored) ? &stored : nullptr;
  if (job == "NEWUSERWR" && found) return -4;
  // The ID becomes a path component of the picture directory and the key
  // of memberships: a new one must be usable as both.
  if (!found && !safe_user_id(id)) return -5;
  // The user's own record went meanwhile: a personal save re-creates nobody.
  if (mine && !found) return -1;
  // A change typed with other letter cases goes to the user as stored.
  const std::string user_id = found ? std::string(field(found->USER_ID)) : id;

  if (pressed("SUB1")) {
    MST_USER u{};
    if (found) u = *found;
    set_field(u.USER_ID, user_id);
    set_field(u.USER_NAME, name);
    set_field(u.E_MAIL_ADDR, mail);
    set_field(u.USER_PASS, pass);
    u.USER_DISP_DEF = form_int("USER_DISP_DEF");
    u.WRITE_MODE = form_int("WRITE_MODE");
    if (usable_language(lang)) set_field(u.LANGUAGE, lang);
    if (usable_picture_name(pic)) set_field(u.PICFILE, pic);
    // The edit page has no unread-display field: an administrator's save
    // keeps the user's own choice.
    if (mine || !form_str("NO_READ_MODE").empty()) u.NO_READ_MODE = form_int("NO_READ_MODE");
    if (!mine) {
      u.USER_LEVEL = level;
      u.P_GROUP = form_int("P_GROUP");
      u.MODE = form_int("MODE");
    }
    take_picture(u);
    sMST_USER = u;
    if (found)
      ReWriteMST_USER();
    else
      InsertMST_USER_IF_FREE();
    if (mine) {
      const bool same_language = field(u.LANGUAGE) == field(G_MST_USER.LANGUAGE);
      G_MST_USER = u;
      // The page that follows speaks the language just chosen.
      if (!same_language)
        StrdefFileOpen(u.LANGUAGE[0] && language_file_name(u.LANGUAGE) ? u.LANGUAGE
                                                                       : SYSINFO.LANGUAGE);
    }
    return 1;
  }
  if (mine) return -1;

  if (pressed("SUB3")) {
    remove_user(user_id.c_str());
    return 3;
  }

  if (pressed("GROUP_IN")) {
    std::set<int32_t> known;
    for (const GroupLine& g : read_group_lines()) known.insert(g.number);
    bool added = false;
    for (int i = 0;; i++) {
      std::string v = form_str("GROUPLIST", i);
      if (v.empty()) break;
      int32_t n = parse_num(v);
      if (n < 1 || !known.count(n)) continue;
      std::memset(&sGROUP_USER, 0, sizeof sGROUP_USER);
      sGROUP_USER.T02_GROUP_ID = n;
      set_field(sGROUP_USER.USER_ID, user_id);
      added = WriteGROUP_USER() == 0 || added;
    }
    if (added) SortGROUP_USER();
  }
  if (pressed("GROUP_OUT")) {
    for (int i = 0;; i++) {
      std::string v = form_str("NOWGROUP", i);
      if (v.empty()) break;
      int32_t n = parse_num(v);
      if (n < 1) continue;
      std::memset(&sGROUP_USER, 0, sizeof sGROUP_USER);
      sGROUP_USER.T02_GROUP_ID = n;
      set_field(sGROUP_USER.USER_ID, user_id);
      DeleteGROUP_USER(1);
    }
  }
  return 4;
}
