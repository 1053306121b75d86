// Posting and editing: the posting form (new thread, reply, edit), the
// handler that stores what the form sends, and the page that closes a
// separate posting window.
//
// Which messages a user may edit is decided here in the store step, so that
// a form sent by hand cannot overwrite another user's message: the folder's
// administrators may edit any message, others only what the details page
// offers them an edit button for (may_edit_own: their own, where the board
// allows it).
#include "pages/write.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "cgi/upload.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/attach_sizes.h"
#include "store/fileio.h"
#include "store/folder.h"
#include "store/message.h"
#include "store/records.h"
#include "store/syslog.h"
#include "text/convert.h"
#include "text/filter.h"
#include "text/datetime.h"

namespace {

void row_start(int slot) {
  pr("<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">", msg(slot));
}
void row_end() { pr("</TD></TR>\n"); }

// One attachment slot of the posted form.
struct Slot {
  bool usable = false;  // an upload of ours under a name fit for the disk
  TakenUpload up;       // its name and temporary copy
  bool keep = false;    // ADD_FILE<n> was not empty: the existing file stays
};

Slot read_slot(int i) {
  Slot s;
  char fname[16];
  snprintf(fname, sizeof fname, "ADD_FILE%d", i);
  s.keep = !form_str(fname).empty();
  snprintf(fname, sizeof fname, "FILE%d", i);
  s.usable = take_upload(fname, 0, s.up);
  return s;
}

// Puts the upload of slot `i` in place for message `m` and records it.
void store_attachment(int32_t folder, int32_t m, int i, const Slot& s) {
  // The board's derived attachment sizes go first, and the lock is kept
  // until the file and its record are both in place.
  DirLock lock(msg_index_path(folder).c_str());
  drop_attached_sizes(folder);
  make_dir(folder_dir_path(SYSINFO.ADD_FILE_PATH, folder).c_str());
  make_dir(msg_attach_dir_path(folder, m).c_str());
  make_dir(msg_attach_slot_path(folder, m, i).c_str());
  std::string target = msg_attach_file_path(folder, m, i, s.up.name.c_str());
  unlink(target.c_str());
  if (place_upload(s.up, target) != 0) return;
  std::memset(&sADD_FILE, 0, sizeof sADD_FILE);
  sADD_FILE.MSG_NO = m;
  sADD_FILE.ADD_NO = i;
  set_field(sADD_FILE.FILE_NAME, s.up.name);
  // The file it replaces, under another name, goes once the record names
  // the new one.
  if (WriteADD_FILE(folder) == 0) remove_attached_files(folder, m, i, s.up.name.c_str());
}

void print_option(int value, const char* label) {
  pr("<OPTION VALUE=\"%d\">%s\n", value, label);
}

}  // namespace

void j_BORDWRITE() {
  const int32_t folder = form_int("FOLDER_NO");
  const int32_t sel = form_int("SEL_NO");
  const bool edit = std::strcmp(g_JOB, "EDITMSG") == 0;
  const bool reply = !edit && sel > 0;

  int r = chk_ACL(folder);
  header_printf();
  pr("<SCRIPT Language=\"JavaScript\">\n<!--\n");
  pr("function title_chk(){\n");
  pr("if ( document.INPUT.WRITE_TITLE.value==\"\" ) {\n");
  pr("window.alert( \"%s\" );\n", msg(295));
  pr("return false }\n");
  pr("}\n");
  if (G_MST_USER.WRITE_MODE == 2) pr("window.focus();\n");
  pr("// -->\n</SCRIPT>\n");
  bool in_tree = false;
  const B_TITLE2 conf = r >= 2 ? read_folder(folder, &in_tree) : B_TITLE2{};
  if (!in_tree) {
    refusal_page();
    return;
  }
  folder_body(folder, conf.BACKPIC);
  pr("<FONT SIZE=\"5\"><B>%s %s</B></FONT>\n<HR>\n", safe_html(field(sB_TITLE.NAME)).c_str(),
     msg(edit ? 330 : reply ? 271 : 270));

  pr("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST "
     "TARGET=\"FRM22\" >\n",
     JOB_EXE);
  hidden_skey();
  hidden("JOB", "BORDWRITEWR");
  hidden("FJOB", edit ? "EDITMSG" : "BORDWRITE");
  hidden("FOLDER_NO", static_cast<long>(folder));
  hidden("SEL_NO", static_cast<long>(sel));
  hidden("USER_DISP_DEF", static_cast<long>(form_int("USER_DISP_DEF")));

  const int cols = text_cols();

  // Defaults: the quoted message for a reply, the message itself for an
  // edit, the folder's default text for a new thread.
  std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
  std::string title, body;
  if (sel >= 1) {
    if (ReadINDEX_DATA(folder, sel, 1) == 0 && (edit || sINDEX_DATA.DEL_FLG != 1)) {
      std::string stored;
      read_body(sINDEX_DATA.FOLDER_NO, sINDEX_DATA.MSG_NO, stored);
      title = field(sINDEX_DATA.WRITE_TITLE);
      body = edit ? stored : Add_Res(stored);
    }
  } else {
    body = field(conf.DEFO);
  }
  const INDEX_DATA shown = sINDEX_DATA;

  pr("<TABLE BORDER>\n");
  row_start(266);
  pr("%s [%s]", esc(field(G_MST_USER.USER_NAME)).c_str(), esc(field(G_MST_USER.USER_ID)).c_str());
  row_end();

  char now[20];
  set_date(now);
  row_start(267);
  pr("%s", now);
  row_end();

  row_start(265);
  if (reply) pr("Re:^%d ", shown.RES_DEPTH + 1);
  pr("<INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"%d\" MAXLENGTH=\"80\" VALUE=\"%s\">", cols,
     esc(title).c_str());
  row_end();

  row_start(264);
  pr("<SELECT NAME=\"WRITE_PRIORITY\" >\n");
  print_option(0, "");
  print_option(2, msg(269));
  print_option(1, msg(268));
  pr("</SELECT>");
  row_end();

  row_start(272);
  pr("<TEXTAREA NAME=\"WRITE_DATA\" COLS=\"%d\" ROWS=\"%d\">%s</TEXTAREA>", cols, SYSINFO.ROWS,
     esc(body).c_str());
  row_end();

  if (conf.ADD_MAX > 0) {
    row_start(273);
    pr("\n");
    std::vector<ADD_FILE> list;
    if (edit) load_add_files(folder, sel, list);
    for (int i = 1; i <= conf.ADD_MAX; i++) {
      if (edit) {
        const ADD_FILE* a = find_add_file(list, sel, i);
        if (a && a->FILE_NAME[0]) {
          pr(" No.%d %s", i, esc(field(a->FILE_NAME)).c_str());
          pr("<INPUT TYPE=\"checkbox\" NAME=\"ADD_FILE%d\" VALUE=\"ON\" checked >%s<BR>\n", i,
             msg(331));
        }
      }
      pr(" No.%d <INPUT TYPE=\"FILE\" NAME=\"FILE%d\"><BR>\n", i, i);
    }
    row_end();
  }

  row_start(274);
  pr("<SELECT NAME=\"READ_CHK\">\n");
  if (conf.READ_CHK == 2) {
    print_option(2, msg(276));
    print_option(1, msg(275));
  } else {
    print_option(1, msg(275));
    print_option(2, msg(276));
  }
  pr("</SELECT>");
  row_end();

  row_start(357);
  pr("<SELECT NAME=\"HTML_MODE\">\n");
  const int first = shown.HTML_MODE >= 0 && shown.HTML_MODE <= 2 ? shown.HTML_MODE : 0;
  print_option(first, msg(358 + first));
  for (int mode = 0; mode <= 2; mode++)
    if (mode != first) print_option(mode, msg(358 + mode));
  pr("</SELECT>");
  row_end();
  pr("</TABLE>\n");

  pr("<P>\n");
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\">\n", msg(277));
  if (G_MST_USER.WRITE_MODE == 1)
    pr("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"history.back()\">\n", msg(4));
  pr("</FORM>\n</BODY>\n</HTML>\n");
}

namespace {

// Checks and stores what the posting form sends, under the board's lock.
int store_writing() {
  const int32_t folder = form_int("FOLDER_NO");
  const int32_t sel = form_int("SEL_NO");
  const std::string fjob = form_str("FJOB");
  const std::string title = form_str("WRITE_TITLE");

  const int r = chk_ACL(folder);
  if (r < 2) return -1;
  const bool edit = fjob == "EDITMSG";
  if (!edit && fjob != "BORDWRITE") return -1;
  if (title.empty()) return -2;

  const B_TITLE2 conf = read_folder(folder);
  // Messages go only into a board that exists: stored under any other
  // number they would turn up in a folder created later with it.
  if (sB_TITLE.FOLDER_NO != folder || sB_TITLE.KIND != KIND_BOARD) return -1;

  // Checked and stored under the board's lock, so that an edited message
  // cannot change hands or disappear in between, and nobody sees a record
  // before the files it refers to.
  DirLock lock(msg_index_path(folder).c_str());

  INDEX_DATA rec{};
  if (edit) {
    if (sel < 1 || ReadINDEX_DATA(folder, sel, 1) != 0) return -1;
    if (r != 3 && !may_edit_own(conf, sINDEX_DATA)) return -1;
    rec = sINDEX_DATA;  // keeps the thread and the depth
  }

  std::vector<Slot> slots;
  int add_count = 0;
  for (int i = 1; i <= conf.ADD_MAX; i++) {
    slots.push_back(read_slot(i));
    if (slots.back().usable || slots.back().keep) add_count++;
  }

  rec.FOLDER_NO = folder;
  rec.MSG_NO = sel;
  rec.HTML_MODE = form_int("HTML_MODE");
  rec.WRITE_PRIORITY = form_int("WRITE_PRIORITY");
  char now[20];
  set_date(now);
  set_field(rec.WRITE_DATE, now);
  set_field(rec.USER_ID, field(G_MST_USER.USER_ID));
  set_field(rec.WRITE_TITLE, title);
  rec.DEL_FLG = 0;
  rec.READ_CHK = form_int("READ_CHK");
  rec.ADD_COUNT = add_count;
  fit_message(rec);

  const std::string body = form_str("WRITE_DATA");
  if (message_too_long(body)) return -5;

  // The attachments of message m, written with its body before its index
  // record: the record is what makes a message or an edit visible.
  auto attach = [&](int32_t m) {
    for (int i = 1; i <= conf.ADD_MAX; i++) {
      const Slot& s = slots[static_cast<size_t>(i - 1)];
      // An upload into a slot whose existing file stays is dropped, as is
      // one under an unusable name (which counts as none).
      if (s.usable && !s.keep) store_attachment(folder, m, i, s);
      // A cleared box removes the file with its record: the files go
      // first, so that whatever an interruption leaves is never served
      // unlisted.
      if (!s.usable && edit && !s.keep) {
        remove_attached_files(folder, m, i);
        DeleteADD_FILE2(folder, m, i);
      }
      discard_upload(s.up.tmp);
    }
    return 0;
  };
  if (!edit) {
    if (store_new_message(rec, body, attach) != 0) return -1;
  } else {
    sINDEX_DATA = rec;
    if (WriteContentsDATA(CrLf_to_Cr(body).c_str()) != 0 || attach(sel) != 0) return -1;
    // The edited message counts as unread again for everybody but its
    // editor, replaced in one step.
    ResetREAD_POINT(folder, sel);
    sINDEX_DATA = rec;
    if (ReWriteINDEX_DATA() != 0) return -1;
  }
  return 0;
}

}  // namespace

int j_BORDWRITEWR() {
  const int rc = store_writing();
  // The log line is appended once the board's lock is released: the data
  // directory's lock is never taken while a folder's is held.
  if (rc == 0) log_writing(form_int("FOLDER_NO"));
  return rc;
}

bool message_too_long(std::string_view body) {
  return static_cast<long long>(body.size()) > SYSINFO.MAX_CONTENTS;
}

void fit_message(INDEX_DATA& rec) {
  if (rec.WRITE_PRIORITY < 0 || rec.WRITE_PRIORITY > 2) rec.WRITE_PRIORITY = 0;
  if (rec.READ_CHK != 1 && rec.READ_CHK != 2) rec.READ_CHK = 1;
  // Only the three known modes are stored; anything else shows as plain text.
  if (rec.HTML_MODE < 0 || rec.HTML_MODE > 2) rec.HTML_MODE = 0;
}

int store_new_message(INDEX_DATA rec, std::string_view body,
                      const std::function<int(int32_t)>& attach) {
  if (message_too_long(body)) return -5;
  fit_message(rec);
  const std::string stored = CrLf_to_Cr(body);
  sINDEX_DATA = rec;
  // Without its index record the message has no number of its own; its
  // body would land on the number answered. The record comes last.
  return WriteINDEX_DATA([&](int32_t m) {
           if (WriteContentsDATA(stored.c_str()) != 0) return -1;
           return attach ? attach(m) : 0;
         }) == 0
             ? 0
             : -1;
}

void log_writing(int32_t folder) {
  if (!log_enabled()) return;
  std::memset(&sSYSTEM_LOG, 0, sizeof sSYSTEM_LOG);
  set_field(sSYSTEM_LOG.USER_ID, field(G_MST_USER.USER_ID));
  set_date(sSYSTEM_LOG.LOG_TIME);
  sSYSTEM_LOG.LOG_KIND = LOG_KIND_WRITE;
  sSYSTEM_LOG.FOLDER_NO = folder;
  WriteSYSTEM_LOG(&sSYSTEM_LOG);
}

void j_BORDWRITEFIN() {
  header_printf();
  pr("<SCRIPT Language=\"JavaScript\">\n<!--\nself.close()\n// -->\n</SCRIPT>\n");
  body_tag();
  pr("<FONT SIZE=\"5\"><B>%s</B></FONT>\n<P>\n</BODY>\n</HTML>\n", msg(294));
}
