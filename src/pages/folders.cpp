// The folder tree pages of system administrators: the numbered folder list,
// and the forms and store steps that create, delete and move folders.
#include "pages/folders.h"

#include <cstddef>
#include <string>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/folder.h"
#include "store/records.h"

namespace {

bool is_admin() { return G_MST_USER.USER_LEVEL > 99; }

// Where the creation of this request put files that an earlier folder of
// the new number had left; the folder list that follows names them.
std::vector<std::string>& moved_aside() {
  static std::vector<std::string> moved;
  return moved;
}

void form_open(const char* job, const char* attrs = "") {
  pr("<FORM %sENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", attrs, JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view(job));
}

void submit(const char* name, int label, const char* extra = "") {
  pr("<INPUT TYPE=\"submit\" NAME=\"%s\" VALUE=\"%s\"%s>\n", name, msg(label), extra);
}

void back_button() {
  pr("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n", msg(4));
}

void title(int slot) { pr("<FONT SIZE=\"5\"><B>%s</B></FONT><BR>\n", msg(slot)); }

enum class Rows { Plain, List, Move };

// The tree as a bordered table, one row per folder line. The move variant
// marks the row at `marked`.
void folder_rows(const std::vector<B_TITLE>& tree, Rows variant, int32_t marked = 0) {
  FolderHeads icons(true);  // the icons folders chose for themselves
  const char* cg = SYSINFO.CG_FILE_WEB_PATH;
  pr("<TABLE BORDER>\n<TR>");
  int heads[] = {187, 188, 189, 190, 191, 192};
  for (int i = 0; i < (variant == Rows::List ? 6 : 3); i++)
    pr("<TD BGCOLOR=\"#E0FFFF\" ALIGN=CENTER>%s</TD>", msg(heads[i]));
  pr("</TR>\n");
  for (size_t i = 0; i < tree.size(); i++) {
    const B_TITLE& f = tree[i];
    int pos = static_cast<int>(i) + 1, no = f.FOLDER_NO;
    const char* mark = variant == Rows::Move && pos == marked ? "#FFB6C1" : "#FFFFFF";
    std::string name = esc(field(f.NAME));
    pr("<TR><TD BGCOLOR=\"%s\" ALIGN=CENTER>%d</TD>", mark, pos);
    pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>%d</TD>", no);
    pr("<TD BGCOLOR=\"%s\" ALIGN=LEFT>", mark);
    for (int d = 0; d < f.DEPTH; d++) pr("&nbsp;&nbsp;");
    const FolderHead* head = icons.find(no);
    if (head && !head->DIRPIC.empty())
      pr("<IMG SRC=\"%s%d/%s\">", cg, no, esc(head->DIRPIC).c_str());
    else
      pr("<IMG SRC=\"%s%s\">", cg,
         f.KIND == KIND_DIR ? "folderclose.gif" : f.KIND == KIND_BOARD ? "folderbook.gif"
                                                                        : "folderchat.gif");
    pr("%s</TD>", name.c_str());
    if (variant == Rows::List) {
      const char* links[][2] = {{"BORDCONFIG&FOLDER_NO", "bot0001.gif"},
                                {"BORDACCESS&FOLDER_NO", "bot0002.gif"},
                                {"BORDMOVE&DISPNO", "bot0003.gif"}};
      for (int k = 0; k < 3; k++)
        pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER><A HREF=\"%s?SKEY=%s&JOB=%s=%d\">"
           "<IMG SRC=\"%s%s\" ALT=\"%s\" BORDER=0></A></TD>",
           JOB_EXE, url_esc(g_SKEY).c_str(), links[k][0], k == 2 ? pos : no, cg, links[k][1],
           name.c_str());
    }
    pr("</TR>\n");
  }
  pr("</TABLE>\n");
}

// The select DISPNO over every folder line; with `top`, first the option 0.
void position_select(const std::vector<B_TITLE>& tree, bool top) {
  pr("<SELECT NAME=\"DISPNO\">\n");
  if (top) pr("<OPTION VALUE=\"0\">%s\n", msg(195));
  for (size_t i = 0; i < tree.size(); i++)
    pr("<OPTION VALUE=\"%d\">%d:%s\n", static_cast<int>(i) + 1, static_cast<int>(i) + 1,
       esc(field(tree[i].NAME)).c_str());
  pr("</SELECT>\n");
}

void class_select() {
  pr("<SELECT NAME=\"CLASS\"><OPTION VALUE=\"1\">%s<OPTION VALUE=\"2\">%s</SELECT>\n", msg(198),
     msg(199));
}

void label_cell(int slot) { pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">", msg(slot)); }

// The page head shared by the forms; false (after the refusal) for users
// who are no system administrators.
bool admin_page(const char* script = nullptr) {
  header_printf();
  if (!is_admin()) {
    refusal_page();
    return false;
  }
  if (script) pr("%s", script);
  body_tag();
  return true;
}

std::string name_check_script() {
  return std::string("<SCRIPT LANGUAGE=\"JavaScript\">\n<!--\nfunction title_chk(){\n"
                     "  if(document.INPUT.NAME.value==\"\"){\n    alert(\"") +
         msg(206) + "\");\n    return false;\n  }\n  return true;\n}\n// -->\n</SCRIPT>\n";
}

std::vector<B_TITLE> tree() {
  std::vector<B_TITLE> t;
  load_folders(t);
  return t;
}

}  // namespace

void j_FOLDERLIST() {
  if (!admin_page()) return;
  title(184);
  for (const std::string& path : moved_aside()) {
    // Named from the data directory on, which holds the quarantine.
    std::string_view shown(path);
    std::string_view base(SYSINFO.DATA_FILE_PATH);
    if (shown.substr(0, base.size()) == base) shown.remove_prefix(base.size());
    pr("%s %s<BR>\n", msg(380), esc(shown).c_str());
  }
  pr("<TABLE><TR>\n");
  const std::pair<const char*, int> buttons[] = {{"ADMIN", 4}, {"NEWFOLDER", 185}, {"DELFOLDER", 186}};
  for (const auto& [job, label] : buttons) {
    pr("<TD>");
    form_open(job);
    submit("SUB", label);
    pr("</FORM></TD>\n");
  }
  pr("<TD><FORM ACTION=\"%s\" METHOD=POST >\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view("FOLDER_DOWNLOAD"));
  submit("SUB", 243);
  pr("</FORM></TD>\n</TR></TABLE>\n");
  folder_rows(tree(), Rows::List);
  form_open("FOLDER_UPLOAD");
  pr("<TABLE BORDER>\n");
  label_cell(244);
  pr("<INPUT TYPE=\"file\" NAME=\"FILE1\">");
  submit("SUB", 245);
  pr("</TD></TR>\n</TABLE>\n</FORM>\n</BODY>\n</HTML>\n");
}

void j_NEWFOLDER() {
  if (!admin_page(name_check_script().c_str())) return;
  std::vector<B_TITLE> t = tree();
  title(193);
  folder_rows(t, Rows::Plain);
  form_open("NEWFOLDERWR", "NAME=\"INPUT\" ");
  pr("<TABLE BORDER>\n");
  label_cell(194);
  position_select(t, true);
  pr("%s</TD></TR>\n", msg(196));
  label_cell(197);
  class_select();
  pr("</TD></TR>\n");
  label_cell(200);
  pr("<SELECT NAME=\"MODE\"><OPTION VALUE=\"2\">%s<OPTION VALUE=\"3\">%s"
     "<OPTION VALUE=\"1\">%s</SELECT></TD></TR>\n",
     msg(201), msg(203), msg(202));
  label_cell(204);
  pr("<INPUT TYPE=\"text\" NAME=\"NAME\" SIZE=\"40\" MAXLENGTH=\"80\"></TD></TR>\n</TABLE>\n");
  submit("SUB", 205, " onClick=\"return title_chk()\"");
  back_button();
  pr("</FORM>\n</BODY>\n</HTML>\n");
}

int j_NEWFOLDERWR() {
  if (!is_admin()) return -1;
  int32_t made;
  return CreateFOLDER(form_int("DISPNO"), form_int("CLASS"), form_int("MODE"), form_str("NAME"),
                      made, &moved_aside());
}

void j_DELFOLDER() {
  if (!admin_page()) return;
  std::vector<B_TITLE> t = tree();
  title(208);
  folder_rows(t, Rows::Plain);
  form_open("DELFOLDERWR");
  pr("%s ", msg(209));
  position_select(t, false);
  pr("<BR>\n");
  std::string confirm = std::string(" onClick=\"return confirm('") + msg(210) + "')\"";
  submit("SUB", 186, confirm.c_str());
  back_button();
  pr("</FORM>\n</BODY>\n</HTML>\n");
}

void j_DELFOLDERWR() {
  // Users who are no system administrators delete nothing; the folder list
  // that follows refuses them.
  if (!is_admin()) return;
  std::vector<int32_t> removed;
  DeleteFOLDER(form_int("DISPNO"), removed);
}

void j_BORDMOVE() {
  int32_t pos = form_int("DISPNO");
  std::vector<B_TITLE> t = tree();
  if (is_admin() && (pos < 1 || static_cast<size_t>(pos) > t.size())) {
    j_ERROR2(msg(239), msg(207));
    return;
  }
  if (!admin_page()) return;
  pr("<FONT SIZE=\"5\"><B>(%s) %s</B></FONT><BR>\n", esc(field(t[pos - 1].NAME)).c_str(),
     msg(239));
  folder_rows(t, Rows::Move, pos);
  form_open("BORDMOVEWR");
  hidden("SRC_DISPNO", static_cast<long>(pos));
  pr("<TABLE BORDER>\n");
  label_cell(240);
  position_select(t, true);
  pr("%s</TD></TR>\n", msg(241));
  label_cell(197);
  class_select();
  pr("</TD></TR>\n</TABLE>\n");
  submit("SUB", 192);
  pr("&nbsp;&nbsp;");
  back_button();
  pr("</FORM>\n</BODY>\n</HTML>\n");
}

int j_BORDMOVEWR() {
  if (!is_admin()) return -1;
  return MoveFOLDER(form_int("SRC_DISPNO"), form_int("DISPNO"), form_int("CLASS"));
}
