// Batch upload and folder transfer. A batch file is read once and its block
// starts found in one pass; each block is then posted through the posting
// page's storing steps, with its limits, into a board the user may write
// in. The folder tree is replaced only by a file of its own name, in one
// rename under the data directory's lock.
#include "pages/batch.h"

#include <cstdlib>
#include <cstring>
#include <map>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "cgi/upload.h"
#include "pages/admin.h"
#include "pages/common.h"
#include "pages/write.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/fileio.h"
#include "store/folder.h"
#include "store/message.h"
#include "store/records.h"
#include "text/datetime.h"
#include "text/filter.h"

namespace {

// The line starting at `pos` with its line feed; advances `pos` past it.
std::string_view next_line(std::string_view text, size_t& pos) {
  size_t end = text.find('\n', pos);
  end = end == std::string_view::npos ? text.size() : end + 1;
  std::string_view line = text.substr(pos, end - pos);
  pos = end;
  return line;
}

bool starts(std::string_view line, std::string_view head) { return line.substr(0, head.size()) == head; }

// The decimal number from character `from` (counted from 0) on, read as
// atol reads it; 0 when the line is shorter.
int32_t number_at(std::string_view line, size_t from) {
  if (line.size() <= from) return 0;
  std::string digits(line.substr(from, 24));
  return static_cast<int32_t>(atol(digits.c_str()));
}

// The line printed for a block that is not stored.
void refuse_block(const INDEX_DATA& rec, int slot) {
  pr("board[%d],res[%d] %s<P>\n", rec.FOLDER_NO, rec.MSG_NO, msg(slot));
}

// Whether the user may post into `folder`: an existing board with write
// right. Decided once per folder.
bool may_post(int32_t folder, std::map<int32_t, bool>& known) {
  auto it = known.find(folder);
  if (it != known.end()) return it->second;
  bool ok = chk_ACL(folder) >= 2;
  if (ok) {
    read_folder(folder);
    ok = sB_TITLE.FOLDER_NO == folder && sB_TITLE.KIND == KIND_BOARD;
  }
  known.emplace(folder, ok);
  return ok;
}

void post_block(INDEX_DATA rec, const std::string& body, std::map<int32_t, bool>& known) {
  if (!may_post(rec.FOLDER_NO, known)) return refuse_block(rec, 3);
  if (message_too_long(body)) return refuse_block(rec, 377);
  char now[20];
  set_date(now);
  set_field(rec.WRITE_DATE, now);
  set_field(rec.USER_ID, field(G_MST_USER.USER_ID));
  rec.ADD_COUNT = 0;
  rec.DEL_FLG = 0;
  if (store_new_message(rec, body) != 0) return refuse_block(rec, 3);
  pr("write board[%d],res[%d] <B>%s</B><P>\n", sINDEX_DATA.FOLDER_NO, sINDEX_DATA.MSG_NO,
     safe_html(field(sINDEX_DATA.WRITE_TITLE)).c_str());
  log_writing(rec.FOLDER_NO);
}

}  // namespace

std::vector<size_t> batch_block_starts(std::string_view text) {
  std::vector<size_t> out;
  for (size_t pos = 0; pos < text.size();) {
    size_t at = pos;
    if (starts(next_line(text, pos), ";board")) out.push_back(at);
  }
  return out;
}

bool batch_parse_block(std::string_view text, size_t offset, INDEX_DATA& rec, std::string& body) {
  rec = INDEX_DATA{};
  body.clear();
  size_t pos = offset;
  rec.FOLDER_NO = number_at(next_line(text, pos), 6);
  if (pos < text.size()) rec.MSG_NO = number_at(next_line(text, pos), 3);
  if (pos < text.size()) set_field(rec.WRITE_TITLE, next_line(text, pos));
  if (pos < text.size()) rec.WRITE_PRIORITY = number_at(next_line(text, pos), 3);
  while (pos < text.size()) {
    std::string_view line = next_line(text, pos);
    if (starts(line, "..")) break;
    body += line;
    body += "\n\r";
  }
  if (pos < text.size()) rec.READ_CHK = number_at(next_line(text, pos), 4);
  if (pos < text.size()) rec.HTML_MODE = number_at(next_line(text, pos), 4);
  return rec.FOLDER_NO != 0;
}

int batch_upload_get(int n, const char* path, std::string& body) {
  body.clear();
  std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
  std::string text;
  if (n < 1 || !read_file(path, text)) return -1;
  std::vector<size_t> starts = batch_block_starts(text);
  if (static_cast<size_t>(n) > starts.size()) return -1;
  return batch_parse_block(text, starts[static_cast<size_t>(n - 1)], sINDEX_DATA, body) ? 0 : -1;
}

void j_BATCH_UPLOAD() {
  header_printf();
  pr("<SCRIPT Language=\"JavaScript\">\n<!--\nfunction title_chk(){\n");
  pr("if ( document.INPUT.FILE1.value==\"\" ) {\nwindow.alert( \"%s\" );\nreturn false }\n",
     msg(367));
  pr("}\n// -->\n</SCRIPT>\n");
  body_tag();
  pr("<FONT SIZE=\"5\"><B>%s</B></FONT>\n<HR>\n", msg(365));
  pr("<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST>\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view("BATCH_UPLOAD_WR"));
  pr("<TABLE BORDER>\n<TR><TD BGCOLOR=\"#E0FFFF\">%s</TD><TD BGCOLOR=\"#FFFFFF\">"
     "<INPUT TYPE=\"FILE\" NAME=\"FILE1\"></TD></TR>\n</TABLE>\n<P>\n",
     msg(7));
  pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return title_chk()\">\n", msg(366));
  pr("</FORM>\n</BODY>\n</HTML>\n");
}

void j_BATCH_UPLOAD_WR() {
  header_printf();
  body_tag();
  // Only a file this request received is read; a forged field value naming
  // any other file is ignored.
  TakenUpload up;
  std::string text;
  const bool ok = take_upload("FILE1", 0, up) && read_file(up.tmp.c_str(), text);
  discard_upload(up.tmp);
  if (ok) {
    std::map<int32_t, bool> known;
    INDEX_DATA rec;
    std::string body;
    for (size_t start : batch_block_starts(text)) {
      if (!batch_parse_block(text, start, rec, body)) break;
      post_block(rec, body, known);
    }
  }
  pr("</BODY>\n</HTML>\n");
}

void j_FOLDER_DOWNLOAD() {
  // An empty answer would reach the browser as a server error.
  if (!is_admin()) {
    header_printf();
    refusal_page();
    return;
  }
  file_DL(SYSINFO.DATA_FILE_PATH, "b_title.mst");
}

void j_FOLDER_UPLOAD() {
  if (!is_admin()) return;
  TakenUpload up;
  std::string bytes;
  if (take_upload("FILE1", 0, up) && up.name == "b_title.mst" && read_file(up.tmp.c_str(), bytes)) {
    const std::string path = data_file("b_title.mst");
    DirLock lock(path.c_str());
    replace_file(path.c_str(), (path + ".tmp").c_str(), bytes);
  }
  discard_upload(up.tmp);
}
