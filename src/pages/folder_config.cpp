// A folder's settings page (name, texts, limits, pictures, colours) and its
// access page (minimum levels, group and user entries), with their store
// steps. Open to system administrators and to the folder's administrators;
// those who come from the board page ("FROM" set) keep it through saves.
#include <algorithm>
#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "cgi/upload.h"
#include "pages/common.h"
#include "pages/folders.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/fileio.h"
#include "store/folder.h"
#include "store/group.h"
#include "store/records.h"
#include "store/user.h"
#include "text/convert.h"

namespace {

constexpr int32_t kAddMaxLimit = 99;  // attachment slots the pages loop over

// Whether the user may administer the folder, which must exist. Leaves the
// folder's line in sB_TITLE.
bool may_configure(int32_t folder) {
  if (ReadB_TITLE(folder, 1) != 0) return false;
  return G_MST_USER.USER_LEVEL > 99 || chk_ACL(folder) == ACL_ADMIN;
}

// The page head of both forms: the refusal for users who may not use them,
// else the script (if any) and the folder's background. The folder's line
// and settings are then in sB_TITLE and sB_TITLE2.
bool config_page(int32_t folder, const char* script = "") {
  header_printf();
  if (!may_configure(folder)) {
    refusal_page();
    return false;
  }
  read_folder(folder);
  pr("%s", script);
  folder_body(folder, sB_TITLE2.BACKPIC);
  return true;
}

void form_open(const char* job, int32_t folder, const char* attrs = "") {
  pr("<FORM %sENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", attrs, JOB_EXE);
  hidden_skey();
  hidden("FOLDER_NO", static_cast<long>(folder));
  hidden("JOB", std::string_view(job));
  std::string from = form_str("FROM");
  if (!from.empty()) hidden("FROM", from);
}

// Closes the form; opened from the folder list, a second form leads back.
void form_close(int back_label) {
  pr("</FORM>\n");
  if (!form_str("FROM").empty()) return;
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view("FOLDERLIST"));
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n</FORM>\n", msg(back_label));
}

void row(int label) { pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">", msg(label)); }

void text_input(const char* name, int size, int max, std::string_view value) {
  pr("<INPUT TYPE=\"text\" NAME=\"%s\" SIZE=\"%d\" MAXLENGTH=\"%d\" VALUE=\"%s\">", name, size,
     max, esc(value).c_str());
}

// A select of two choices with the stored one first (anything but 2 counts
// as 1).
void choice(const char* name, int32_t stored, int label1, int label2) {
  pr("<SELECT NAME=\"%s\">", name);
  if (stored == 2)
    pr("<OPTION VALUE=\"2\">%s<OPTION VALUE=\"1\">%s", msg(label2), msg(label1));
  else
    pr("<OPTION VALUE=\"1\">%s<OPTION VALUE=\"2\">%s", msg(label1), msg(label2));
  pr("</SELECT>");
}

const char* mode_label(int32_t mode) {
  return mode >= 1 && mode <= 3 ? msg(230 + mode) : "";
}

// A folder name as the tree can hold it: leading blanks would be read back
// as depth. -2 when nothing is left, -3 when it holds a comma or line end.
int clean_name(std::string& name) {
  name.erase(0, name.find_first_not_of(" \t") == std::string::npos
                    ? name.size()
                    : name.find_first_not_of(" \t"));
  if (name.empty()) return -2;
  if (name.find_first_of(",\r\n") != std::string::npos) return -3;
  return 0;
}

// A text field cut to its first 4000 bytes, then with single CR line ends.
std::string folder_text(const char* field_name) {
  std::string t = form_str(field_name);
  t.resize(sjis_fit(t, FOLDER_TEXT_MAX));
  return CrLf_to_Cr(t);
}

}  // namespace

void j_BORDCONFIG() {
  int32_t folder = form_int("FOLDER_NO");
  std::string script = std::string("<SCRIPT LANGUAGE=\"JavaScript\">\n<!--\nfunction title_chk(){\n"
                                   "  if(document.INPUT.NAME.value==\"\"){\n    alert(\"") +
                       msg(206) + "\");\n    return false;\n  }\n  return true;\n}\n// -->\n</SCRIPT>\n";
  if (!config_page(folder, script.c_str())) return;
  const B_TITLE2& c = sB_TITLE2;
  pr("<FONT SIZE=\"5\"><B>(%s) %s</B></FONT><BR>\n", esc(field(sB_TITLE.NAME)).c_str(), msg(190));
  form_open("BORDCONFIGWR", folder, "NAME=\"INPUT\" ");
  pr("<TABLE BORDER>\n");
  row(211);
  pr("%d</TD></TR>\n", static_cast<int>(folder));
  row(212);
  text_input("NAME", 40, 80, field(sB_TITLE.NAME));
  pr("</TD></TR>\n");
  row(213);
  text_input("ADD_MAX", 10, 10, std::to_string(c.ADD_MAX));
  pr("</TD></TR>\n");
  const std::pair<int, const char*> texts[] = {{214, "INFO"}, {215, "DEFO"}};
  for (const auto& [label, name] : texts) {
    row(label);
    pr("<TEXTAREA NAME=\"%s\" COLS=\"40\" ROWS=\"5\" MAXLENGTH=\"250\">%s</TEXTAREA></TD></TR>\n",
       name, esc(name[0] == 'I' ? field(c.INFO) : field(c.DEFO)).c_str());
  }
  row(216);
  choice("READ_CHK", c.READ_CHK, 217, 218);
  pr("</TD></TR>\n");
  row(305);
  choice("REWRITE_FLG", c.REWRITE_FLG, 307, 306);
  pr("</TD></TR>\n");
  const std::tuple<int, const char*, const char*, std::string_view> pics[] = {
      {219, "TITLEPIC", "FILE1", field(c.TITLEPIC)},
      {220, "BACKPIC", "FILE2", field(c.BACKPIC)},
      {221, "DIRPIC", "FILE3", field(c.DIRPIC)}};
  for (const auto& [label, name, file, value] : pics) {
    row(label);
    text_input(name, 40, 80, value);
    pr("<BR>%s<INPUT TYPE=\"file\" NAME=\"%s\"></TD></TR>\n", msg(222), file);
  }
  const std::tuple<int, const char*, std::string_view> colours[] = {
      {308, "FONTCOLOR", field(c.FONTCOLOR)}, {309, "RESFONTCOLOR", field(c.RESFONTCOLOR)}};
  for (const auto& [label, name, value] : colours) {
    row(label);
    text_input(name, 10, 6, value);
    pr(" %s</TD></TR>\n", msg(310));
  }
  pr("</TABLE>\n");
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\">\n", msg(223));
  form_close(4);
  pr("</BODY>\n</HTML>\n");
}

int j_BORDCONFIGWR() {
  int32_t folder = form_int("FOLDER_NO");
  std::string name = form_str("NAME");
  // From the read of the folder's line to the last write, no other change
  // of the tree or the settings comes between.
  DirLock lock(data_file("b_title.mst").c_str());
  if (!may_configure(folder)) return -1;
  if (int bad = clean_name(name)) return bad;

  // Pictures: an own upload under a safe picture name replaces the typed
  // name once it is in the folder's picture directory.
  std::string pics[3] = {form_str("TITLEPIC"), form_str("BACKPIC"), form_str("DIRPIC")};
  const char* files[3] = {"FILE1", "FILE2", "FILE3"};
  for (int i = 0; i < 3; i++) {
    TakenUpload u;
    if (take_upload(files[i], 0, u) && is_picture_name(u.name)) {
      std::string dir = folder_dir_path(SYSINFO.CG_FILE_PATH, folder);
      make_dir(dir.c_str());
      if (place_upload(u, dir + "/" + u.name) == 0) {
        pics[i] = u.name;
        continue;
      }
    }
    discard_upload(u.tmp);
  }

  set_field(sB_TITLE.NAME, name);
  sB_TITLE.FOLDER_NO = folder;
  ReWriteB_TITLE(folder);

  std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
  ReadB_TITLE2(folder);
  B_TITLE2& c = sB_TITLE2;
  c.FOLDER_NO = folder;
  c.ADD_MAX = std::clamp(form_int("ADD_MAX"), 0, kAddMaxLimit);
  c.READ_CHK = form_int("READ_CHK");
  c.REWRITE_FLG = form_int("REWRITE_FLG");
  set_field(c.TITLEPIC, pics[0]);
  set_field(c.BACKPIC, pics[1]);
  set_field(c.DIRPIC, pics[2]);
  set_field(c.INFO, folder_text("INFO"));
  set_field(c.DEFO, folder_text("DEFO"));
  set_field(c.FONTCOLOR, form_str("FONTCOLOR"));
  set_field(c.RESFONTCOLOR, form_str("RESFONTCOLOR"));
  ReWriteB_TITLE2(folder);
  return 0;
}

void j_BORDACCESS() {
  int32_t folder = form_int("FOLDER_NO");
  if (!config_page(folder)) return;
  std::string name = esc(field(sB_TITLE.NAME));
  pr("(%s) %s\n", name.c_str(), msg(191));
  form_open("BORDACCESSWR", folder);
  pr("<TABLE BORDER>\n");
  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">%d</TD><TD></TD></TR>\n", msg(225),
     static_cast<int>(folder));
  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">%s</TD><TD></TD></TR>\n", msg(226),
     name.c_str());
  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">", msg(227));
  pr("<INPUT TYPE=\"text\" NAME=\"READ_LEVEL\" SIZE=\"10\" MAXLENGTH=\"3\" VALUE=\"%d\"></TD>",
     static_cast<int>(sB_TITLE2.READ_LEVEL));
  pr("<TD ROWSPAN=2><INPUT TYPE=\"submit\" NAME=\"SUB1\" VALUE=\"%s\"></TD></TR>\n", msg(229));
  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">", msg(228));
  pr("<INPUT TYPE=\"text\" NAME=\"WRITE_LEVEL\" SIZE=\"10\" MAXLENGTH=\"3\" VALUE=\"%d\"></TD></TR>\n",
     static_cast<int>(sB_TITLE2.WRITE_LEVEL));

  // Groups, users and entries: each file read once.
  std::vector<MST_GROUP> groups;
  load_groups(groups);
  std::unordered_map<int32_t, std::string> group_name;
  for (const MST_GROUP& g : groups) group_name.try_emplace(g.T02_GROUP_ID, field(g.T02_GROUP_NAME));
  std::vector<B_G_ACL> gacl;
  load_records(data_file("b_g_acl.mst").c_str(), gacl);
  std::vector<B_U_ACL> uacl;
  load_records(data_file("b_u_acl.mst").c_str(), uacl);
  std::vector<MST_USER> users;
  load_users(users);
  std::unordered_map<std::string, std::string> user_name;
  for (const MST_USER& u : users)
    user_name.try_emplace(std::string(field(u.USER_ID)), field(u.USER_NAME));

  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">"
     "<SELECT NAME=\"NOWGROUP\" SIZE=5 MULTIPLE>\n", msg(230));
  for (const B_G_ACL& e : gacl) {
    if (e.FOLDER_NO != folder) continue;
    auto g = group_name.find(e.T02_GROUP_ID);
    pr("<OPTION VALUE=\"%d\">%s[%s]\n", static_cast<int>(e.T02_GROUP_ID),
       g == group_name.end() ? "" : esc(g->second).c_str(), mode_label(e.GROUPMODE));
  }
  pr("</SELECT><BR><INPUT TYPE=\"submit\" NAME=\"GROUP_DEL\" VALUE=\"%s\"></TD>\n", msg(234));
  pr("<TD BGCOLOR=\"#FFFFFF\"><SELECT NAME=\"GROUPLIST\" SIZE=5 MULTIPLE>\n");
  for (const MST_GROUP& g : groups)
    pr("<OPTION VALUE=\"%d\">%s\n", static_cast<int>(g.T02_GROUP_ID),
       esc(field(g.T02_GROUP_NAME)).c_str());
  pr("</SELECT><BR>%s<SELECT NAME=\"GROUPMODE\"><OPTION VALUE=\"1\">%s<OPTION VALUE=\"2\">%s"
     "</SELECT><BR><INPUT TYPE=\"submit\" NAME=\"GROUP_ADD\" VALUE=\"%s\"></TD></TR>\n",
     msg(235), msg(231), msg(232), msg(236));

  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">"
     "<SELECT NAME=\"NOWUSER\" SIZE=5 MULTIPLE>\n", msg(237));
  for (const B_U_ACL& e : uacl) {
    if (e.FOLDER_NO != folder) continue;
    std::string id(field(e.USER_ID));
    auto u = user_name.find(id);
    pr("<OPTION VALUE=\"%s\">%s[%s]\n", esc(id).c_str(),
       u == user_name.end() ? "" : esc(u->second).c_str(), mode_label(e.USERMODE));
  }
  pr("</SELECT><BR><INPUT TYPE=\"submit\" NAME=\"USER_DEL\" VALUE=\"%s\"></TD>\n", msg(234));
  pr("<TD BGCOLOR=\"#FFFFFF\"><SELECT NAME=\"USERLIST\" SIZE=5 MULTIPLE>\n");
  for (const MST_USER& u : users) {
    pr("<OPTION VALUE=\"%s\">%s", esc(field(u.USER_ID)).c_str(), esc(field(u.USER_NAME)).c_str());
    if (u.P_GROUP > 0) {
      auto g = group_name.find(u.P_GROUP);
      pr("[%s]", g == group_name.end() ? "" : esc(g->second).c_str());
    }
    pr("\n");
  }
  pr("</SELECT><BR>%s<SELECT NAME=\"USERMODE\"><OPTION VALUE=\"1\">%s<OPTION VALUE=\"2\">%s"
     "<OPTION VALUE=\"3\">%s</SELECT><BR><INPUT TYPE=\"submit\" NAME=\"USER_ADD\" VALUE=\"%s\">"
     "</TD></TR>\n",
     msg(235), msg(231), msg(232), msg(233), msg(236));
  pr("</TABLE>\n");
  form_close(238);
  pr("</BODY>\n</HTML>\n");
}

int j_BORDACCESSWR() {
  int32_t folder = form_int("FOLDER_NO");
  DirLock lock(data_file("b_title.mst").c_str());
  if (!may_configure(folder)) return -1;
  auto pressed = [](const char* button) { return !form_str(button).empty(); };

  if (pressed("SUB1")) {
    std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
    ReadB_TITLE2(folder);
    sB_TITLE2.FOLDER_NO = folder;
    if (sB_TITLE2.READ_CHK < 1) sB_TITLE2.READ_CHK = 1;
    sB_TITLE2.READ_LEVEL = form_int("READ_LEVEL");
    sB_TITLE2.WRITE_LEVEL = form_int("WRITE_LEVEL");
    ReWriteB_TITLE2(folder);
  } else if (pressed("GROUP_DEL")) {
    for (int i = 0; form_int("NOWGROUP", i) >= 1; i++) DeleteB_G_ACL(folder, form_int("NOWGROUP", i));
  } else if (pressed("GROUP_ADD")) {
    // Groups give reading or writing only: folder administration comes
    // from user entries alone.
    int32_t mode = form_int("GROUPMODE");
    if (mode < 1 || mode > 2) return -1;
    std::vector<MST_GROUP> groups;
    load_groups(groups);
    for (int i = 0; form_int("GROUPLIST", i) >= 1; i++) {
      int32_t g = form_int("GROUPLIST", i);
      bool known = std::any_of(groups.begin(), groups.end(),
                               [g](const MST_GROUP& x) { return x.T02_GROUP_ID == g; });
      if (!known) continue;  // a later group of that number must not inherit it
      sB_G_ACL = {folder, g, mode};
      WriteB_G_ACL();
    }
  } else if (pressed("USER_DEL")) {
    for (int i = 0; !form_str("NOWUSER", i).empty(); i++)
      DeleteB_U_ACL(folder, form_str("NOWUSER", i).c_str());
  } else if (pressed("USER_ADD")) {
    int32_t mode = form_int("USERMODE");
    if (mode < 1 || mode > 3) return -1;
    std::vector<MST_USER> users;
    load_users(users);
    for (int i = 0; !form_str("USERLIST", i).empty(); i++) {
      // Entries name users on file, in the ID's stored spelling.
      std::string id = form_str("USERLIST", i);
      std::vector<char> buf(id.begin(), id.end());
      buf.push_back('\0');
      const MST_USER* u = find_user(users, buf.data());
      if (!u) continue;
      std::memset(&sB_U_ACL, 0, sizeof sB_U_ACL);
      sB_U_ACL.FOLDER_NO = folder;
      set_field(sB_U_ACL.USER_ID, field(u->USER_ID));
      sB_U_ACL.USERMODE = mode;
      WriteB_U_ACL();
    }
  }
  return 0;
}
