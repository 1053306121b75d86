// Batch upload and folder transfer. A batch file is read a piece at a time,
// never whole, whatever its size; each block is posted through the posting
// page's storing steps, with its limits, into a board the user may write
// in. The folder tree is replaced only by a file of its own name, in one
// rename under the data directory's lock.
#include "pages/batch.h"

#include <fcntl.h>

#include <algorithm>
#include <cstdint>
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

size_t BatchReader::line(std::string& out, size_t keep) {
  const size_t limit = out.size() + keep;
  size_t len = 0;
  for (;;) {
    if (pos_ == buf_.size()) {
      buf_at_ += buf_.size();
      buf_.resize(1 << 16);
      const long got = pread_some(fd_, buf_.data(), buf_.size(), static_cast<long>(buf_at_));
      buf_.resize(got > 0 ? static_cast<size_t>(got) : 0);
      pos_ = 0;
      if (buf_.empty()) return len;
    }
    const char* at = buf_.data() + pos_;
    const size_t avail = buf_.size() - pos_;
    const char* nl = static_cast<const char*>(memchr(at, '\n', avail));
    const size_t n = nl ? static_cast<size_t>(nl - at) + 1 : avail;
    if (out.size() < limit) out.append(at, std::min(n, limit - out.size()));
    pos_ += n;
    len += n;
    if (nl) return len;
  }
}

void BatchReader::seek(uint64_t at) {
  if (at >= buf_at_ && at <= buf_at_ + buf_.size()) {
    pos_ = static_cast<size_t>(at - buf_at_);
  } else {
    buf_.clear();
    buf_at_ = at;
    pos_ = 0;
  }
}

bool BatchReader::next(INDEX_DATA& rec, std::string& body) {
  // Enough of a line for its label and number, and of a title line for
  // its field.
  constexpr size_t kHead = 64, kTitle = 256;
  rec = INDEX_DATA{};
  body.clear();
  std::string head;
  seek(resume_);
  do {
    head.clear();
    if (line(head, kHead) == 0) return false;
  } while (!starts(head, ";board"));
  rec.FOLDER_NO = number_at(head, 6);
  uint64_t next_block = 0;
  // Appends the next line, at least its head, to `out`; false at the end.
  auto read = [&](std::string& out, size_t keep) {
    const uint64_t at = offset();
    const size_t from = out.size();
    const size_t len = line(out, std::max(keep, kHead));
    if (len && !next_block && starts(std::string_view(out).substr(from), ";board")) next_block = at;
    return len != 0;
  };
  auto field_line = [&](size_t keep) { return head.clear(), read(head, keep); };
  if (field_line(kHead)) rec.MSG_NO = number_at(head, 3);
  if (field_line(kTitle)) set_field(rec.WRITE_TITLE, head);
  if (field_line(kHead)) rec.WRITE_PRIORITY = number_at(head, 3);
  // Body lines go straight into the body, which ends at `body_max_`.
  for (size_t from = 0; read(body, body_max_ - std::min(body_max_, from)); from = body.size()) {
    if (starts(std::string_view(body).substr(from), "..")) {
      body.resize(from);
      break;
    }
    body += "\n\r";
    body.resize(std::min(body.size(), body_max_));
  }
  if (field_line(kHead)) rec.READ_CHK = number_at(head, 4);
  if (field_line(kHead)) rec.HTML_MODE = number_at(head, 4);
  resume_ = next_block ? next_block : offset();
  return true;
}

int batch_upload_get(int n, const char* path, std::string& body) {
  body.clear();
  std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
  Fd fd(open(path, O_RDONLY));
  if (n < 1 || !fd.ok()) return -1;
  BatchReader blocks(fd.get(), SIZE_MAX);
  for (int i = 1; i <= n; i++)
    if (!blocks.next(sINDEX_DATA, body)) return -1;
  return sINDEX_DATA.FOLDER_NO != 0 ? 0 : -1;
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
  // any other file is ignored. The open file stays readable once its name
  // is gone.
  TakenUpload up;
  Fd fd(take_upload("FILE1", 0, up) ? open(up.tmp.c_str(), O_RDONLY) : -1);
  discard_upload(up.tmp);
  if (fd.ok()) {
    std::map<int32_t, bool> known;
    INDEX_DATA rec;
    std::string body;
    // A body longer than MAX_CONTENTS is refused whatever its length: one
    // byte over the limit is all that is kept of it.
    BatchReader blocks(fd.get(), static_cast<size_t>(std::max(SYSINFO.MAX_CONTENTS, 0)) + 1);
    while (blocks.next(rec, body) && rec.FOLDER_NO != 0) post_block(rec, body, known);
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
