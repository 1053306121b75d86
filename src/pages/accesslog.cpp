// Access log pages. All four serve only system administrators (level above
// 99). The statistics read the log once into a per-user table and the user
// master once, whatever the number of users.
#include "pages/accesslog.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "pages/admin.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/fileio.h"
#include "store/syslog.h"
#include "store/user.h"
#include "text/datetime.h"

namespace {

void form_start(const char* job) {
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST>\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view(job));
}

// A form holding one submit button.
void button(const char* job, int label) {
  form_start(job);
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n</FORM>\n", msg(label));
}

void button_row() {
  pr("<TABLE><TR>\n<TD>\n");
  button("ADMIN", 4);
  pr("</TD>\n<TD>\n");
  button("AccessLogDOWNLOAD", 246);
  pr("</TD>\n<TD>\n");
  button("AccessLogLastLogin", 247);
  pr("</TD>\n</TR></TABLE>\n");
}

// A count as the statistics show it: empty when 0.
std::string count_text(int64_t n) { return n > 0 ? std::to_string(n) : std::string(); }

}  // namespace

void j_AccessLogDISP() {
  header_printf();
  if (!is_admin()) {
    refusal_page();
    return;
  }
  system_body();
  pr("<FONT SIZE=\"5\"><B>%s</B></FONT><P>\n<P>\n", msg(112));
  button_row();
  pr("</BODY>\n</HTML>\n");
  fflush(stdout);

  // Keep today's lines and those of the LOG_DATE - 1 days before; with
  // logging switched off (0 or empty) the log is emptied.
  const long long days = strtoll(SYSINFO.LOG_DATE, nullptr, 10);
  const std::string cutoff = date_days_back(days);
  if (!cutoff.empty()) DeleteSYSTEM_LOG(cutoff.c_str());
}

void j_AccessLogDOWNLOAD() {
  // An empty answer would reach the browser as a server error.
  if (!is_admin()) {
    header_printf();
    refusal_page();
    return;
  }
  file_DL(SYSINFO.DATA_FILE_PATH, "system.log");
}

void j_AccessLogLastLogin() {
  header_printf();
  if (!is_admin()) {
    refusal_page();
    return;
  }
  system_body();
  pr("<FONT SIZE=\"5\"><B>%s %s</B></FONT><P>\n<P>\n", msg(112), msg(247));
  button_row();

  const auto stats = ReadSYSTEM_LOG_all();
  std::vector<MST_USER> users;
  load_users(users);

  pr("<TABLE BORDER>\n<TR>");
  for (int slot : {253, 248, 249, 247, 250, 251, 252})
    pr("<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">%s</TD>", msg(slot));
  pr("</TR>\n");
  form_start("AccessLogDeleteUser");
  const LogStat none;
  for (const MST_USER& u : users) {
    const std::string id = esc(field(u.USER_ID));
    auto it = stats.find(field(u.USER_ID));
    const LogStat& s = it == stats.end() ? none : it->second;
    std::string ratio;
    if (s.logins > 0 && s.writings > 0) ratio = std::to_string(s.writings * 100 / s.logins);
    pr("<TR><TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\"><INPUT TYPE=\"checkbox\" NAME=\"USER_ID\" "
       "VALUE=\"%s\"></TD>",
       id.c_str());
    pr("<TD BGCOLOR=\"#FFFFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">%s</TD>", id.c_str(),
       esc(field(u.USER_NAME)).c_str());
    for (const std::string& v :
         {esc(s.last_login), count_text(s.logins), count_text(s.writings), ratio})
      pr("<TD BGCOLOR=\"#FFFFFF\" ALIGN=\"CENTER\">%s<BR></TD>", v.c_str());
    pr("</TR>\n");
  }
  pr("</TABLE>\n<P>\n");
  pr("<INPUT TYPE=\"submit\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n</FORM>\n", msg(254),
     msg(255));
  button("ADMIN", 4);
  pr("</BODY>\n</HTML>\n");
}

void j_AccessLogDeleteUser() {
  if (!is_admin()) return;
  for (int i = 0;; i++) {
    const std::string id = form_str("USER_ID", i);
    if (id.empty()) break;
    remove_user(id.c_str());
  }
}
