// The administration menu (JOB=ADMIN), the system settings form
// (JOB=SYSTEM) and its store step (JOB=SYSTEMUPDATE), which writes every
// setting back to the settings file and can take the log-in and background
// pictures.
#include "pages/admin.h"

#include <cstddef>
#include <cstring>
#include <string>
#include <string_view>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "cgi/upload.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"

void admin_page_start(const char* script) {
  header_printf();
  if (script) pr("%s", script);
  pr("\t\t<BODY BACKGROUND=\"%s%s\" BGPROPERTIES=FIXED >\n", SYSINFO.CG_FILE_WEB_PATH,
     SYSINFO.BACK_GIF);
}

bool is_admin() { return G_MST_USER.USER_LEVEL > 99; }

void job_button(const char* job, int label, const char* extra) {
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view(job));
  pr("%s<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n</FORM>\n", extra, msg(label));
}

void back_button() {
  pr("<FORM>\n<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n</FORM>\n", msg(4));
}

void refusal_rest() {
  pr("%s\n", msg(3));
  back_button();
  pr("</BODY>\n</HTML>\n");
}

namespace {

// A label cell and the start of its input cell.
void label_cell(const char* label) {
  pr("<TR><TD BGCOLOR=\"#E0FFFF\" ALIGN=\"LEFT\" NOWRAP>%s</TD><TD BGCOLOR=\"#FFFFFF\">", label);
}

void text_input(const char* name, std::string_view value, int size, int max = 0) {
  pr("<INPUT TYPE=\"text\" NAME=\"%s\" SIZE=\"%d\"", name, size);
  if (max > 0) pr(" MAXLENGTH=\"%d\"", max);
  pr(" VALUE=\"%s\">", esc(value).c_str());
}

void text_row(int label, const char* name, std::string_view value) {
  label_cell(msg(label));
  text_input(name, value, 40);
  pr("</TD></TR>\n");
}

void number_row(const char* label, const char* name, long value, int size, int max,
                const char* unit) {
  label_cell(label);
  text_input(name, std::to_string(value), size, max);
  pr("%s</TD></TR>\n", unit);
}

// A picture setting: its name, and a file input whose upload replaces it.
void picture_row(int label, const char* name, std::string_view value, const char* file) {
  label_cell(msg(label));
  text_input(name, value, 40);
  pr("<BR>%s<INPUT TYPE=\"file\" NAME=\"%s\"></TD></TR>\n", msg(7), file);
}

// A select of two values, the current one first so that the browser
// preselects it; a value that is neither prints the default order.
void two_choice_row(int label, const char* name, long current, long a, int a_label, long b,
                    int b_label) {
  label_cell(msg(label));
  pr("<SELECT NAME=\"%s\">\n", name);
  if (current == b) {
    pr("<OPTION VALUE=\"%ld\">%s\n<OPTION VALUE=\"%ld\">%s\n", b, msg(b_label), a, msg(a_label));
  } else {
    pr("<OPTION VALUE=\"%ld\">%s\n<OPTION VALUE=\"%ld\">%s\n", a, msg(a_label), b, msg(b_label));
  }
  pr("</SELECT></TD></TR>\n");
}

// An uploaded picture for setting `setting`: placed under the picture
// directory when this request decoded it and its name is a picture name;
// the setting takes the name only once the file is in place.
template <size_t N>
void take_picture(const char* file, char (&setting)[N]) {
  TakenUpload up;
  if (take_upload(file, 0, up, N - 1) && is_picture_name(up.name) &&
      place_upload(up, std::string(SYSINFO.CG_FILE_PATH) + "/" + up.name) == 0)
    set_field(setting, up.name);
  discard_upload(up.tmp);
}

}  // namespace

void admin_title(int slot) { pr("<FONT SIZE=\"5\"><B>%s</B></FONT><P>\n", msg(slot)); }

void j_ADMIN() {
  admin_page_start();
  if (!is_admin()) return refusal_rest();
  admin_title(104);
  static constexpr struct {
    const char* job;
    int label;
  } kItems[] = {{"SYSTEM", 108},     {"USERLIST", 109},      {"FOLDERLIST", 110},
                {"GROUPLIST", 111},  {"AccessLogDISP", 112}, {"IDSINSEIlist2", 113}};
  for (const auto& item : kItems) {
    pr("<FORM ACTION=\"%s\" METHOD=GET TARGET=\"FRM22\">\n", JOB_EXE);
    hidden_skey();
    hidden("JOB", std::string_view(item.job));
    pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n</FORM>\n", msg(item.label));
  }
  pr("</BODY>\n</HTML>\n");
}

void j_SYSTEM() {
  admin_page_start();
  if (!is_admin()) return refusal_rest();
  admin_title(108);
  job_button("ADMIN", 4);
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view("SYSTEMUPDATE"));
  pr("<TABLE BORDER=\"1\">\n");
  const SYSINFO_REC& s = SYSINFO;
  text_row(115, "LANGUAGE", field(s.LANGUAGE));
  text_row(116, "CG_FILE_PATH", field(s.CG_FILE_PATH));
  text_row(117, "CG_FILE_WEB_PATH", field(s.CG_FILE_WEB_PATH));
  text_row(118, "DATA_FILE_PATH", field(s.DATA_FILE_PATH));
  text_row(119, "ADD_FILE_PATH", field(s.ADD_FILE_PATH));
  text_row(120, "ADD_FILE_WEB_PATH", field(s.ADD_FILE_WEB_PATH));
  picture_row(121, "LOGIN_GIF", field(s.LOGIN_GIF), "FILE1");
  picture_row(122, "BACK_GIF", field(s.BACK_GIF), "FILE2");
  label_cell(msg(123));
  text_input("LOG_DATE", field(s.LOG_DATE), 8, 8);
  pr("%s</TD></TR>\n", msg(8));
  two_choice_row(124, "DATETIME", s.DATETIME, 1, 9, 2, 10);
  std::string width_label = std::string(msg(125)) + "<BR> <FONT COLOR=\"#0000FF\"> &nbsp;";
  number_row((width_label + msg(126) + "</FONT>").c_str(), "IECOLS", s.IECOLS, 8, 3, msg(11));
  number_row((width_label + msg(127) + "</FONT>").c_str(), "NSCOLS", s.NSCOLS, 8, 3, msg(11));
  number_row(msg(128), "ROWS", s.ROWS, 8, 3, msg(12));
  two_choice_row(105, "MYDATA", s.MYDATA, 0, 368, 1, 369);
  number_row(msg(376), "MAX_CONTENTS", s.MAX_CONTENTS, 8, 5, "byte");
  label_cell(msg(378));
  text_input("LOGOFF_URL", field(s.LOGOFF_URL), 40, 1000);
  pr("</TD></TR>\n");
  number_row(msg(379), "FRAME_DIVIDE", s.FRAME_DIVIDE, 5, 2, "%");
  pr("</TABLE>\n<TABLE><TR><TD>\n");
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n</FORM>\n</TD><TD>\n", msg(129));
  job_button("ADMIN", 4);
  pr("</TD></TR></TABLE>\n</BODY>\n</HTML>\n");
}

int j_SYSTEMUPDATE() {
  // Only an administrator may change where the data lie or where log-off
  // leads; for anyone else the settings page that follows refuses.
  if (!is_admin()) return -1;
  SYSINFO_REC& s = SYSINFO;
  static constexpr struct {
    const char* name;
    size_t offset, size;
  } kTexts[] = {
      {"LANGUAGE", offsetof(SYSINFO_REC, LANGUAGE), sizeof s.LANGUAGE},
      {"CG_FILE_PATH", offsetof(SYSINFO_REC, CG_FILE_PATH), sizeof s.CG_FILE_PATH},
      {"CG_FILE_WEB_PATH", offsetof(SYSINFO_REC, CG_FILE_WEB_PATH), sizeof s.CG_FILE_WEB_PATH},
      {"DATA_FILE_PATH", offsetof(SYSINFO_REC, DATA_FILE_PATH), sizeof s.DATA_FILE_PATH},
      {"ADD_FILE_PATH", offsetof(SYSINFO_REC, ADD_FILE_PATH), sizeof s.ADD_FILE_PATH},
      {"ADD_FILE_WEB_PATH", offsetof(SYSINFO_REC, ADD_FILE_WEB_PATH), sizeof s.ADD_FILE_WEB_PATH},
      {"LOGIN_GIF", offsetof(SYSINFO_REC, LOGIN_GIF), sizeof s.LOGIN_GIF},
      {"BACK_GIF", offsetof(SYSINFO_REC, BACK_GIF), sizeof s.BACK_GIF},
      {"LOG_DATE", offsetof(SYSINFO_REC, LOG_DATE), sizeof s.LOG_DATE},
      {"LOGOFF_URL", offsetof(SYSINFO_REC, LOGOFF_URL), sizeof s.LOGOFF_URL},
  };
  char* base = reinterpret_cast<char*>(&s);
  for (const auto& t : kTexts) {
    std::memset(base + t.offset, 0, t.size);
    copy_text(base + t.offset, t.size, form_str(t.name));
  }
  s.DATETIME = form_int("DATETIME");
  s.IECOLS = form_int("IECOLS");
  s.NSCOLS = form_int("NSCOLS");
  s.ROWS = form_int("ROWS");
  s.MYDATA = form_int("MYDATA");
  s.MAX_CONTENTS = form_int("MAX_CONTENTS");
  s.FRAME_DIVIDE = form_int("FRAME_DIVIDE");
  take_picture("FILE1", s.LOGIN_GIF);
  take_picture("FILE2", s.BACK_GIF);
  SysFileWrite(INI_FILE);
  return 0;
}
