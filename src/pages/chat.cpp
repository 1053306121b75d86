// Chat rooms (folders of kind 3): the frameset, the input frame and the
// display frame.
//
// Members (MODE 1) chat under the name of their user record and the room
// remembers their colour, line count and reload interval; everyone else is
// a guest who types a name each time. Every handler first makes sure the
// number names a chat room the user may read; entering, leaving and writing
// need the write right. Names, colours, addresses and browser names are
// text and printed escaped; only the lines themselves are HTML, printed
// through the output filter.
#include "pages/chat.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "store/acl.h"
#include "store/chat.h"
#include "store/folder.h"
#include "text/datetime.h"
#include "text/filter.h"

namespace {

constexpr char kDefaultColor[] = "4161E1";
constexpr int32_t kDefaultCount = 30;  // lines shown and seconds between reloads
constexpr int32_t kNoReload = 999;

constexpr const char* kColorNames[] = {
    "BLUE",  "RED",       "GREEN", "DARKBLUE", "CYAN",       "LIMEGREEN", "BROWN",  "MEDIUMORCHID",
    "SILVER", "CHOCOLATE", "PLUM",  "VIOLET",   "SANDYBROWN", "PINK",      "YELLOW", "CORAL"};

struct Room {
  int32_t folder = 0;
  int access = ACL_NONE;  // ACL_NONE as well when the number is no chat room
  B_TITLE title{};
  B_TITLE2 conf{};
};

// The user's choices as the forms carry them from request to request.
struct Choice {
  std::string name;
  std::string color;
  int32_t lines;
  int32_t reload;
};

bool member() { return G_MST_USER.MODE == 1; }

// The room named by FOLDER_NO, with the user's access level. Nothing is read
// from the room's directory before the folder is known to be a chat room.
Room open_room() {
  Room r;
  r.folder = form_int("FOLDER_NO");
  if (ReadB_TITLE(r.folder, 1) != 0 || sB_TITLE.KIND != KIND_CHAT) return r;
  r.title = sB_TITLE;
  // chk_ACL leaves the folder's settings in sB_TITLE2 when it reads them;
  // they are read here only when it decided without them.
  std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
  sB_TITLE2.FOLDER_NO = -1;
  r.access = chk_ACL(r.folder);
  if (sB_TITLE2.FOLDER_NO != r.folder) {
    std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
    ReadB_TITLE2(r.folder);
  }
  r.conf = sB_TITLE2;
  return r;
}

// Line counts and reload intervals below 1 (missing, 0 or negative) mean 30.
int32_t count_or_default(int32_t v) { return v < 1 ? kDefaultCount : v; }

// A colour is a name or hexadecimal digits: 1-20 letters and digits; anything
// else gets the default.
std::string color_or_default(std::string_view c) {
  bool ok = !c.empty() && c.size() <= 20;
  for (char ch : c) ok = ok && std::isalnum(static_cast<unsigned char>(ch));
  return ok ? std::string(c) : kDefaultColor;
}

Choice form_choice() {
  Choice c;
  std::string name = member() ? std::string(field(G_MST_USER.USER_NAME)) : form_str("USER_NAME");
  c.name = name.substr(0, sjis_fit(name, sizeof(CHAT_DATA::USER_NAME) - 1));
  c.color = color_or_default(form_str("COLOR"));
  c.lines = count_or_default(form_int("LOG_LINE"));
  c.reload = count_or_default(form_int("RELOAD_TIME"));
  return c;
}

std::string env_text(const char* name) {
  const char* v = getenv(name);
  return v ? v : "";
}

std::string display_url(int32_t folder, const Choice& c) {
  return std::string(JOB_EXE) + "?JOB=CHAT_DOWN&SKEY=" + url_esc(g_SKEY) +
         "&FOLDER_NO=" + std::to_string(folder) + "&LOG_LINE=" + std::to_string(c.lines) +
         "&RELOAD_TIME=" + std::to_string(c.reload);
}

// Stores a line with the time and the writer's address and browser.
void store_line(int32_t folder, int32_t mode, std::string_view name, std::string_view color,
                std::string_view text) {
  std::memset(&sCHAT_DATA, 0, sizeof sCHAT_DATA);
  sCHAT_DATA.MODE = mode;
  set_field(sCHAT_DATA.USER_NAME, name);
  set_field(sCHAT_DATA.COLOR, color);
  set_field(sCHAT_DATA.MTALK, text);
  set_datetime(sCHAT_DATA.TALK_DATE);
  set_field(sCHAT_DATA.REMOTE_ADDR, env_text("REMOTE_ADDR"));
  set_field(sCHAT_DATA.HTTP_USER_AGENT, env_text("HTTP_USER_AGENT"));
  WriteCHAT_DATA(folder);
}

// The room's notice that the user entered (slot 355) or left (356): his
// name in his colour, members' with a full stop before it.
void store_notice(const Room& room, const Choice& c, bool entering) {
  std::string text = "<B><FONT COLOR=\"" + esc(c.color) + "\">" + (member() ? "." : "") +
                     esc(c.name) + "</FONT></B> " + msg(entering ? 355 : 356);
  std::string_view color = field(room.conf.RESFONTCOLOR);
  if (entering ? color.empty() : color.size() < 6) color = "000000";
  store_line(room.folder, 0, "System", color, text);
}

void script_block() {
  pr("<SCRIPT Language=\"JavaScript\">\n<!--\n");
  pr("function title_chk(){\n");
  pr("if ( document.INPUT.USER_NAME.value==\"\" ) {\n");
  pr("window.alert( \"%s\" );\nreturn false }\n", msg(350));
  pr("if ( document.INPUT.COLOR.value==\"\" ) {\n");
  pr("window.alert( \"%s\" );\nreturn false }\n", msg(351));
  pr("}\n");
  pr("function autoclear(){\n");
  pr("document.INPUT.MTALK.value=\"\";\ndocument.INPUT.MTALK.focus();\n}\n");
  pr("function f_color_chg(){\n");
  pr("idx=document.INPUT.COLOR_LIST.selectedIndex;\n");
  pr("document.INPUT.COLOR.value=document.INPUT.COLOR_LIST.options[idx].value;\n");
  pr("document.INPUT.COLOR.focus();\n}\n");
  pr("// -->\n</SCRIPT>\n");
}

void room_heading(const Room& room) {
  if (room.conf.DEFO[0]) pr("[%s]<BR>\n", safe_html(field(room.conf.DEFO)).c_str());
  pr("<B>%s</B>\n", safe_html(field(room.title.NAME)).c_str());
}

void form_start(const char* extra) {
  pr("<FORM%s ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST >\n", extra, JOB_EXE);
}

// Folder, name and display choices, as every form of the input frame sends
// them on.
void choice_fields(int32_t folder, const Choice& c) {
  hidden("FOLDER_NO", static_cast<long>(folder));
  hidden("USER_NAME", c.name);
  hidden("COLOR", c.color);
  hidden("LOG_LINE", static_cast<long>(c.lines));
  hidden("RELOAD_TIME", static_cast<long>(c.reload));
}

void reload_option(int32_t seconds, bool caption_none) {
  if (seconds == kNoReload && caption_none)
    pr("<OPTION VALUE=\"%d\">%s\n", kNoReload, msg(348));
  else
    pr("<OPTION VALUE=\"%d\">%d\n", static_cast<int>(seconds), static_cast<int>(seconds));
}

void entry_form(const Room& room, Choice c) {
  form_start(" NAME=\"INPUT\"");
  hidden_skey();
  hidden("FOLDER_NO", static_cast<long>(room.folder));
  hidden("JOB", std::string_view("CHAT_UP"));
  hidden("FAST", 1L);
  pr("<TABLE><TR><TD>\n");
  room_heading(room);
  if (member()) {
    // The choices the member last entered with, or the defaults.
    ReadCHAT_IDX(room.folder, G_MST_USER.USER_ID);
    c.color = color_or_default(field(sCHAT_IDX.COLOR));
    c.lines = count_or_default(sCHAT_IDX.LOG_LINE);
    c.reload = count_or_default(sCHAT_IDX.RELOAD_TIME);
    pr("%s%s", msg(344), esc(c.name).c_str());
    hidden("USER_NAME", c.name);
  } else {
    pr("%s<INPUT TYPE=\"text\" NAME=\"USER_NAME\" SIZE=\"40\" MAXLENGTH=\"80\" VALUE=\"%s\">\n",
       msg(344), esc(c.name).c_str());
  }
  pr("%s<INPUT TYPE=\"text\" NAME=\"COLOR\" SIZE=\"20\" MAXLENGTH=\"20\" VALUE=\"%s\">(RRGGBB)\n",
     msg(345), esc(c.color).c_str());
  pr("<SELECT NAME=\"COLOR_LIST\" onChange=\"f_color_chg()\" >\n<OPTION VALUE=\"\">\n");
  for (const char* name : kColorNames) pr("<OPTION VALUE=\"%s\">%s\n", name, name);
  pr("</SELECT>\n");
  pr("%s<SELECT NAME=\"LOG_LINE\">\n", msg(346));
  for (int32_t n : {c.lines, 10, 20, 30, 40, 50})
    pr("<OPTION VALUE=\"%d\">%d\n", static_cast<int>(n), static_cast<int>(n));
  pr("</SELECT>\n");
  pr("%s<SELECT NAME=\"RELOAD_TIME\">\n", msg(347));
  reload_option(c.reload, !member());
  for (int32_t n : {10, 20, 30, 60, 120, 180, 999}) reload_option(n, true);
  pr("</SELECT>\n</TD>\n");
  pr("<TD><INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\"></TD>\n",
     msg(349));
  pr("</TR></TABLE>\n</FORM>\n");
}

void input_form(const Room& room, const Choice& c) {
  form_start(" NAME=\"INPUT\" onSubmit=\"setTimeout(&quot;autoclear()&quot;,10)\" TARGET=\"CHAT2\"");
  hidden_skey();
  hidden("JOB", std::string_view("CHAT_DOWN"));
  hidden("FAST", 2L);
  choice_fields(room.folder, c);
  room_heading(room);
  pr("%s[%s]", msg(344), esc(c.name).c_str());
  pr("%s[%d]", msg(346), static_cast<int>(c.lines));
  pr("%s[%d]<BR>\n", msg(347), static_cast<int>(c.reload));
  pr("%s<INPUT TYPE=\"text\" NAME=\"MTALK\" SIZE=\"%d\" MAXLENGTH=\"250\">\n", msg(353), text_cols());
  pr("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n</FORM>\n", msg(352));

  form_start("");
  hidden_skey();
  hidden("JOB", std::string_view("CHAT_UP"));
  hidden("FAST", 3L);
  choice_fields(room.folder, c);
  pr("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n</FORM>\n", msg(354));
}

void print_line(const CHAT_DATA& d, std::string_view text_color) {
  std::string_view color = field(d.COLOR);
  if (color.empty()) color = kDefaultColor;
  pr("<B><FONT COLOR=\"%s\">%s%s</FONT></B> > ", esc(color).c_str(), d.MODE == 1 ? "." : "",
     esc(field(d.USER_NAME)).c_str());
  pr("<FONT COLOR=\"%s\">%s</FONT>", esc(text_color).c_str(), safe_html(field(d.MTALK)).c_str());
  pr("<FONT COLOR=\"#9090e0\" SIZE=-1>(%s)</FONT>", esc(field(d.TALK_DATE)).c_str());
  if (d.MODE == 0)
    pr("<FONT COLOR=\"#bbbbf0\" SIZE=-1>(%s)(%s)</FONT>", esc(field(d.REMOTE_ADDR)).c_str(),
       esc(field(d.HTTP_USER_AGENT)).c_str());
  pr("<BR>\n");
}

}  // namespace

void j_CHAT() {
  const Room room = open_room();
  header_printf();
  if (room.access < ACL_READ) {
    refusal_page();
    return;
  }
  const std::string skey = url_esc(g_SKEY);
  pr("<FRAMESET ROWS=\"140,*\" >\n");
  for (const auto& [job, frame] : {std::pair{"CHAT_UP", "CHAT1"}, std::pair{"CHAT_DOWN", "CHAT2"}})
    pr("\t<FRAME SRC = \"%s?SKEY=%s&JOB=%s&FOLDER_NO=%d\" NAME=\"%s\">\n", JOB_EXE, skey.c_str(),
       job, static_cast<int>(room.folder), frame);
  pr("</FRAMESET>\n</HTML>\n");
}

void j_CHAT_UP() {
  const Room room = open_room();
  const int32_t fast = form_int("FAST");
  const bool stores = fast == 1 || fast == 3;
  header_printf();
  if (room.access < (stores ? ACL_WRITE : ACL_READ)) {
    refusal_page();
    return;
  }
  const Choice c = form_choice();
  script_block();
  folder_body(room.folder, room.conf.BACKPIC);
  if (fast == 1) {
    if (member()) {
      std::memset(&sCHAT_IDX, 0, sizeof sCHAT_IDX);
      set_field(sCHAT_IDX.USER_ID, field(G_MST_USER.USER_ID));
      set_field(sCHAT_IDX.COLOR, c.color);
      sCHAT_IDX.LOG_LINE = c.lines;
      sCHAT_IDX.RELOAD_TIME = c.reload;
      set_date(sCHAT_IDX.LAST_DATE);
      WriteCHAT_IDX(room.folder);
    }
    store_notice(room, c, true);
    input_form(room, c);
  } else if (fast == 3) {
    store_notice(room, c, false);
    if (member()) MarkCHAT_IDX(room.folder, G_MST_USER.USER_ID, CHAT_LEFT_DATE, false);
    entry_form(room, c);
  } else if (fast == 0) {
    entry_form(room, c);
  } else {
    input_form(room, c);
  }
  pr("</BODY>\n</HTML>\n");
}

void j_CHAT_DOWN() {
  const Room room = open_room();
  const std::string talk = form_str("MTALK");
  header_printf();
  if (room.access < (talk.empty() ? ACL_READ : ACL_WRITE)) {
    refusal_page();
    return;
  }
  const Choice c = form_choice();
  // Each reload of a member's display records that he is still in the room
  // (a posted line is followed at once by such a reload).
  if (member() && talk.empty() && room.access >= ACL_WRITE) {
    char now[sizeof(CHAT_IDX::LAST_DATE)];
    set_date(now);
    MarkCHAT_IDX(room.folder, G_MST_USER.USER_ID, now, true);
  }
  const std::string url = display_url(room.folder, c);
  if (!talk.empty()) {
    store_line(room.folder, member() ? 1 : 2, c.name, c.color, talk);
    // The frame loads itself again by plain address, so that reloading it
    // never posts the line a second time.
    pr("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"0;URL=%s\">\n", url.c_str());
    return;
  }
  if (c.reload != kNoReload)
    pr("<META HTTP-EQUIV=\"Refresh\" CONTENT=\"%d;URL=%s\">\n", static_cast<int>(c.reload),
       url.c_str());
  pr("<BODY BGCOLOR=\"#FFFFFF\" >\n");
  std::string_view text_color = field(room.conf.FONTCOLOR);
  if (text_color.empty()) text_color = "000000";
  std::vector<CHAT_DATA> lines;
  load_chat_lines(room.folder, lines, static_cast<size_t>(c.lines));
  for (const CHAT_DATA& d : lines) print_line(d, text_color);
  pr("</BODY>\n</HTML>\n");
}
