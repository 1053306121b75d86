// Message details: the page of one message (header, readers, body,
// attachments, thread, navigation and buttons), its compact form for the
// unread list and the search results, deleting a message, and marking all
// messages of a board read.
//
// The details page reads the board's index once per request and takes the
// message, its thread and its previous and next neighbours from that copy.
#include "pages/details.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/sjis.h"
#include "pages/common.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/attach_sizes.h"
#include "store/batch_read.h"
#include "store/fileio.h"
#include "store/folder.h"
#include "store/number_set.h"
#include "store/thread_map.h"
#include "store/message.h"
#include "store/records.h"
#include "store/user.h"
#include "text/convert.h"
#include "text/filter.h"

namespace {

UserCache& g_users = request_users();

const INDEX_DATA* find_message(std::span<const INDEX_DATA> idx, int32_t msg) {
  for (const INDEX_DATA& r : idx)
    if (r.MSG_NO == msg) return &r;
  return nullptr;
}

// A thread's table as made once per request: its head and every row
// unmarked; `at` holds where each row begins, and the end.
struct ThreadTable {
  std::string text;
  std::vector<size_t> at;
};
// By thread number, for the compact view prints one thread's table once for
// each of its messages shown.
using ThreadRows = std::unordered_map<int32_t, ThreadTable>;

// What the message views take of a board's settings: the attachment slots
// and the colours of the text and of quoted lines.
struct Shown {
  int32_t ADD_MAX;
  char FONTCOLOR[8];
  char RESFONTCOLOR[8];
  explicit Shown(const B_TITLE2& b) : ADD_MAX(b.ADD_MAX) {
    std::memcpy(FONTCOLOR, b.FONTCOLOR, sizeof FONTCOLOR);
    std::memcpy(RESFONTCOLOR, b.RESFONTCOLOR, sizeof RESFONTCOLOR);
  }
};

// One board as the compact view sees it. The unread list and the search
// print many messages of one board in a row: the index and the settings are
// read once per request, and each message and thread is found by a look-up
// rather than a walk of the index, so that a page grows with the messages
// it shows and no faster. The look-ups are sorted vectors, made in one
// allocation each and freed as fast when the board has been printed.
struct CompactBoard {
  std::vector<INDEX_DATA> idx;
  std::vector<std::pair<int32_t, const INDEX_DATA*>> first;  // by MSG_NO: its first record
  std::vector<const INDEX_DATA*> by_thread;  // by THREAD_NO, in index order within a thread
  // Read when the board's first message is shown: boards the pages only
  // look into hold no copy of the 8800-byte record.
  std::optional<Shown> conf;
  // The attached files of the messages held (by message, in list order),
  // with their sizes, read in one pass when the first of them is shown.
  bool adds_read = false;
  std::vector<AttachedFile> adds;
  // Read ahead in a batch, when the page did so: the numbers asked for, the
  // derived attachment sizes (with the list's stamp taken before them) and
  // the read-mark files of messages that list their readers (by message).
  std::vector<int32_t> wanted;
  std::optional<AttachCopy> att;
  std::vector<std::pair<int32_t, std::string>> marks;
  ThreadRows rows;

  const INDEX_DATA* find(int32_t msg) const;
  std::span<const INDEX_DATA* const> thread(int32_t no) const {
    auto [from, to] = std::equal_range(by_thread.begin(), by_thread.end(), no, ByThread());
    return {from, to};
  }
  struct ByThread {
    bool operator()(const INDEX_DATA* a, int32_t b) const { return a->THREAD_NO < b; }
    bool operator()(int32_t a, const INDEX_DATA* b) const { return a < b->THREAD_NO; }
    bool operator()(const INDEX_DATA* a, const INDEX_DATA* b) const { return a->THREAD_NO < b->THREAD_NO; }
  };
};

// The entry of `msg` in a vector of (message, value) pairs sorted by message.
template <class T>
const T* entry_of(const std::vector<std::pair<int32_t, T>>& v, int32_t msg) {
  auto it = std::lower_bound(v.begin(), v.end(), msg, [](const auto& e, int32_t n) { return e.first < n; });
  return it != v.end() && it->first == msg ? &it->second : nullptr;
}

const INDEX_DATA* CompactBoard::find(int32_t msg) const {
  const INDEX_DATA* const* r = entry_of(first, msg);
  return r ? *r : nullptr;
}

// By board number, for the request's data directory: another directory
// (the tests serve several sites from one process) starts afresh.
std::map<int32_t, CompactBoard>& compact_boards() {
  static std::map<int32_t, CompactBoard> cache;
  static std::string dir;
  if (dir != SYSINFO.DATA_FILE_PATH) {
    cache.clear();
    dir = SYSINFO.DATA_FILE_PATH;
  }
  return cache;
}

void look_up(CompactBoard& b) {
  b.first.clear();
  b.by_thread.clear();
  b.first.reserve(b.idx.size());
  b.by_thread.reserve(b.idx.size());
  for (const INDEX_DATA& r : b.idx) {
    b.first.emplace_back(r.MSG_NO, &r);
    b.by_thread.push_back(&r);
  }
  // Stable: of records that share a number the first in the index stays.
  std::stable_sort(b.first.begin(), b.first.end(), [](const auto& x, const auto& y) { return x.first < y.first; });
  b.first.erase(std::unique(b.first.begin(), b.first.end(), [](const auto& x, const auto& y) { return x.first == y.first; }),
                b.first.end());
  std::stable_sort(b.by_thread.begin(), b.by_thread.end(), CompactBoard::ByThread());
}

CompactBoard& compact_board(int32_t folder) {
  auto& cache = compact_boards();
  auto it = cache.find(folder);
  if (it == cache.end()) {
    it = cache.emplace(folder, CompactBoard()).first;
    load_index(folder, it->second.idx);
    look_up(it->second);
  }
  return it->second;
}

// The body as the pages show it: quoted runs coloured, then by HTML mode
// links and line breaks (0), preformatted (1) or the user's own HTML (2),
// with the tags that could break the page neutralised.
std::string shown_body(const INDEX_DATA& m, const Shown& conf, const std::string* read = nullptr) {
  std::string own;
  if (!read) {
    read_body(m.FOLDER_NO, m.MSG_NO, own);
    read = &own;
  }
  const std::string_view color = conf.RESFONTCOLOR[0] ? field(conf.RESFONTCOLOR) : "0000FF";
  std::string b = Add_Blue(*read, color);
  if (m.HTML_MODE == 0) b = CrLf_to_BR(Add_a_href(b));
  // The filter sees the user's text alone: a tag left open at its end must
  // not run on into the page's own mark-up.
  return m.HTML_MODE == 1 ? "<PRE>" + safe_html(b) + "</PRE>" : safe_html(b);
}

// A text as "%s" prints it: up to its first NUL.
void put(std::string& out, std::string_view s) { out.append(s.substr(0, s.find('\0'))); }
void put(std::string& out, int n) {
  char digits[16];
  out.append(digits, std::to_chars(digits, digits + sizeof digits, n).ptr);
}

// The opening of a link to the message's details page. Its start is the
// same for every link of a request, and made once; the rest is put
// together on the stack and appended in one piece.
void details_link(std::string& out, int32_t folder, int32_t msg, int order) {
  static std::string key, start;
  if (start.empty() || key != g_SKEY) {
    key = g_SKEY;
    start = std::string("<A HREF=\"") + JOB_EXE + "?SKEY=" + url_esc(g_SKEY) + "&JOB=DETAILS&FOLDER_NO=";
  }
  char tail[80];
  char* p = tail;
  auto text = [&p](std::string_view s) { p = std::copy(s.begin(), s.end(), p); };
  auto number = [&p](int n) { p = std::to_chars(p, p + 12, n).ptr; };
  number(folder);
  text("&SEL_NO=");
  number(msg);
  text("&USER_DISP_DEF=");
  number(order);
  text("\">");
  out.append(start).append(tail, static_cast<size_t>(p - tail));
}

// The readers in the message's read-mark file, in file order; `read`: the
// file's bytes when the caller has them.
void readers_cell(std::string& out, int32_t folder, const INDEX_DATA& m, bool compact,
                  const std::string* read) {
  std::string bytes;
  std::vector<READ_POINT> marks;
  if (read)
    split_records(*read, marks);
  else if (read_file(msg_mark_path(folder, m.MSG_NO).c_str(), bytes))
    split_records(bytes, marks);
  out.append("<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\" ROWSPAN=3>").append(msg(282)).append("<BR>\n");
  if (!compact) out += "<FORM>\n";
  out += "<SELECT>\n";
  if (marks.empty()) {
    out.append("<OPTION>").append(msg(284)).append("\n");
  } else {
    out += "<OPTION>";
    put(out, static_cast<int>(marks.size()));
    out.append(" ").append(msg(283)).append("\n");
    for (const READ_POINT& r : marks) {
      out += "<OPTION VALUE=\"0\">";
      esc_into(out, g_users.name(field(r.USER_ID)));
      out += "\n";
    }
  }
  out += "</SELECT>\n";
  if (!compact) out += "</FORM>\n";
  out += "</TD>\n";
}

// Number, title (with readers and the author's picture beside it), author
// and date. The compact form has no number row, links the title to the
// details page and lists the readers without a form.
void header_table(std::string& out, int32_t folder, const INDEX_DATA& m, bool compact,
                  const std::string* marks = nullptr) {
  const MST_USER* author = g_users.find(field(m.USER_ID));
  out += "<TABLE BORDER=0>\n";
  if (!compact) {
    out += "<TR><TD BGCOLOR=\"#FFFFFF\">SEL:</TD><TD BGCOLOR=\"#FFFFFF\">";
    put(out, static_cast<int>(m.MSG_NO));
    out += "</TD></TR>\n";
  }

  out.append("<TR><TD BGCOLOR=\"#FFFFFF\">").append(msg(279)).append("</TD><TD BGCOLOR=\"#FFFFFF\">");
  if (compact) {
    details_link(out, folder, m.MSG_NO, G_MST_USER.USER_DISP_DEF);
    put(out, safe_html(reply_title(m)));
    out += "</A>";
  } else {
    put(out, safe_html(Add_a_href(reply_title(m))));
  }
  out += "</TD>\n";
  if (m.READ_CHK == 2) readers_cell(out, folder, m, compact, marks);
  if (author && author->PICFILE[0])
    out.append("<TD BGCOLOR=\"#FFFFFF\" ROWSPAN=3><IMG SRC=\"")
        .append(SYSINFO.CG_FILE_WEB_PATH)
        .append("userpic/")
        .append(url_esc(field(author->USER_ID)))
        .append("/")
        .append(url_esc(field(author->PICFILE)))
        .append("\"></TD>\n");
  out += "</TR>\n";

  out.append("<TR><TD BGCOLOR=\"#FFFFFF\">").append(msg(280)).append("</TD><TD BGCOLOR=\"#FFFFFF\">");
  const bool mail = author && author->E_MAIL_ADDR[0];
  if (mail) {
    // The title is URL-encoded: an "&" or "#" in it must not add mail
    // headers or cut the subject.
    out += "<A HREF=\"mailto:";
    esc_into(out, field(author->E_MAIL_ADDR));
    out.append("?subject=Re:").append(url_esc(field(m.WRITE_TITLE))).append("\">");
  }
  esc_into(out, author ? field(author->USER_NAME) : field(m.USER_ID));
  out += "  [";
  esc_into(out, field(m.USER_ID));
  out += "]";
  if (mail) out += "</A>";
  out += "</TD></TR>\n";

  out.append("<TR><TD BGCOLOR=\"#FFFFFF\">").append(msg(281)).append("</TD><TD BGCOLOR=\"#FFFFFF\">");
  put(out, shown_date(m));
  out += "</TD></TR>\n</TABLE>\n";
}

// The lines of m's attached files, slot by slot, each from the first of
// `files` (the message's, or more) that names the slot. A size below 0 is
// looked up from the file.
void attachments(std::string& out, int32_t folder, const INDEX_DATA& m, const Shown& conf,
                 std::span<const AttachedFile> files) {
  if (m.ADD_COUNT <= 0 || conf.ADD_MAX < 1) return;
  for (int i = 1; i <= conf.ADD_MAX; i++) {
    auto a = std::find_if(files.begin(), files.end(),
                          [&](const AttachedFile& f) { return f.msg == m.MSG_NO && f.slot == i; });
    if (a == files.end() || a->name.empty()) continue;
    const long length =
        a->size >= 0 ? a->size : get_filelength(msg_attach_file_path(folder, m.MSG_NO, i, a->name.c_str()).c_str());
    char size[32];
    *std::to_chars(size, size + sizeof size - 1, static_cast<int>(length)).ptr = '\0';
    ketadori(size, sizeof size);
    out.append(msg(273)).append(" ");
    put(out, i);
    out.append(":<A HREF=\"").append(SYSINFO.ADD_FILE_WEB_PATH);
    put(out, static_cast<int>(folder));
    out += "/x";
    put(out, static_cast<int>(m.MSG_NO));
    out += "/";
    put(out, i);
    out.append("/").append(url_esc(a->name)).append("\">");
    esc_into(out, a->name);
    out.append(" (").append(size).append(" byte)</A><P>\n");
  }
}

void deleted_notice() {
  pr("%s<BR>\n%s<BR>\n%s<BR>\n%s<P>\n", msg(285), msg(286), msg(287), msg(288));
}

constexpr std::string_view kRowStart = "<TR><TD BGCOLOR=\"#FFFFFF\"></TD>";
constexpr std::string_view kNowRowStart = "<TR><TD BGCOLOR=\"#FFB6C1\">NowDisp</TD>";

// A thread table's row for message t, unmarked.
void thread_row(std::string& out, int32_t folder, const INDEX_DATA& t, int order) {
  out.append(kRowStart).append("<TD BGCOLOR=\"#FFFFFF\">");
  for (int d = 0; d < t.RES_DEPTH; d++) out += "&nbsp;&nbsp;";
  details_link(out, folder, t.MSG_NO, order);
  static std::string title;
  title.clear();
  list_title_into(title, t);
  safe_html_into(out, title);
  out.append("</A></TD><TD BGCOLOR=\"#FFFFFF\">");
  if (!t.DEL_FLG) esc_into(out, g_users.name(field(t.USER_ID)));
  out.append("</TD><TD BGCOLOR=\"#FFFFFF\">").append(shown_date(t)).append("</TD></TR>\n");
}

// Every message of m's thread (given in index order), m marked; nothing for
// a thread of one message.
void thread_table(std::string& out, int32_t folder, std::span<const INDEX_DATA* const> thread,
                  const INDEX_DATA& m, int order, ThreadRows& rows) {
  if (thread.size() < 2) return;
  ThreadTable& table = rows[m.THREAD_NO];
  if (table.at.empty()) {
    std::string& t = table.text;
    // A row takes about 250 bytes: the table is made in one piece of memory.
    t.reserve(400 + 320 * thread.size());
    table.at.reserve(thread.size() + 1);
    t.append("<TABLE BORDER>\n<TR><TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\"><B>").append(msg(297)).append("</B></TD>");
    for (int slot : {298, 299, 300})
      t.append("<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">").append(msg(slot)).append("</TD>");
    t.append("</TR>\n");
    for (const INDEX_DATA* r : thread) {
      table.at.push_back(t.size());
      thread_row(t, folder, *r, order);
    }
    table.at.push_back(t.size());
  }
  // The rows of m itself are printed marked; the runs between them as made.
  const std::string_view text = table.text;
  size_t from = 0;
  for (size_t k = 0; k < thread.size(); k++) {
    if (thread[k]->MSG_NO != m.MSG_NO) continue;
    out.append(text.substr(from, table.at[k] - from)).append(kNowRowStart);
    from = table.at[k] + kRowStart.size();
  }
  out.append(text.substr(from)).append("</TABLE>\n");
}

// Neighbours of the message shown in the display order, and the room list
// page that holds it. Order 1 walks the index in file order; orders 2 and
// 3 walk the message numbers upward (the first record of each number), as
// the room list pages them.
struct Neighbours {
  const INDEX_DATA* prev = nullptr;
  const INDEX_DATA* next = nullptr;
  int page = 0;  // 0: the room list's last page
};

Neighbours neighbours(std::span<const INDEX_DATA> idx, int32_t sel, int order) {
  std::vector<uint32_t> numbers;
  const bool by_number = order == 2 || order == 3;
  if (by_number) numbers = number_order(idx);
  const size_t total = by_number ? numbers.size() : idx.size();
  auto at = [&](size_t k) { return &idx[by_number ? numbers[k] : k]; };
  Neighbours n;
  size_t count = 0;
  for (size_t k = 0; k < total; k++) {
    count++;
    if (at(k)->MSG_NO == sel) {
      if (k + 1 < total) n.next = at(k + 1);
      break;
    }
    n.prev = at(k);
  }
  n.page = count > 0 ? static_cast<int>((count - 1) / kRoomRows + 1) : 0;
  return n;
}

void form_start(const char* target = "") {
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST%s>\n", JOB_EXE, target);
  hidden_skey();
}

void back_form(int32_t folder, int page, int order) {
  form_start();
  hidden("JOB", "ROOM");
  hidden("FOLDER_NO", static_cast<long>(folder));
  hidden("DISP_PAGE", static_cast<long>(page));
  hidden("USER_DISP_DEF", static_cast<long>(order));
  pr("<INPUT TYPE=\"submit\" VALUE=\"%s\">\n</FORM>\n", msg(4));
}

void step_form(int32_t folder, int order, const INDEX_DATA* to, int label, int alert) {
  form_start();
  hidden("JOB", "DETAILS");
  hidden("FOLDER_NO", static_cast<long>(folder));
  hidden("USER_DISP_DEF", static_cast<long>(order));
  if (to) {
    hidden("SEL_NO", static_cast<long>(to->MSG_NO));
    pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n", msg(label));
  } else {
    pr("<INPUT TYPE=\"button\" VALUE=\"%s\" onClick=\"alert('%s')\">\n", msg(label), msg(alert));
  }
  pr("</FORM>\n");
}

}  // namespace

void j_DETAILS() {
  const int32_t folder = form_int("FOLDER_NO");
  const int32_t sel = form_int("SEL_NO");
  int order = form_int("USER_DISP_DEF");
  if (order == 0) order = G_MST_USER.USER_DISP_DEF;

  const int r = chk_ACL(folder);
  header_printf();
  bool in_tree = false;
  const B_TITLE2 conf = r > 0 ? read_folder(folder, &in_tree) : B_TITLE2{};
  if (!in_tree) {
    refusal_page();
    return;
  }
  folder_body(folder, conf.BACKPIC);
  pr("<TABLE><TR><TD BGCOLOR=\"#FFFFFF\"><FONT SIZE=\"5\"><B>[%d]%s</B></FONT></TD></TR></TABLE>\n",
     static_cast<int>(folder), safe_html(field(sB_TITLE.NAME)).c_str());
  pr("<HR>\n");

  const IndexMap map(folder);
  const std::span<const INDEX_DATA> idx = map.records();
  const INDEX_DATA* found = sel >= 1 ? find_message(idx, sel) : nullptr;
  if (!found) {
    // Removed since the list was shown: nothing of it is left to show or
    // to mark read.
    deleted_notice();
    back_form(folder, 0, order);
    pr("</BODY>\n</HTML>\n");
    return;
  }
  const INDEX_DATA m = *found;

  MarkREAD_POINT(folder, sel);

  const bool font = conf.FONTCOLOR[0] != 0;
  if (m.DEL_FLG == 1) {
    deleted_notice();
  } else {
    std::string body = shown_body(m, Shown(conf));
    std::string head;
    header_table(head, folder, m, false);
    pr_text(head);
    pr("<HR>\n");
    if (font) pr("<FONT COLOR=\"#%s\">\n", esc(field(conf.FONTCOLOR)).c_str());
    pr("%s\n", body.c_str());
    pr("<HR>\n<P>\n");
    std::vector<ADD_FILE> list;
    if (m.ADD_COUNT > 0 && conf.ADD_MAX >= 1) load_add_files(folder, m.MSG_NO, list);
    std::vector<AttachedFile> known;
    for (const ADD_FILE& r : list) known.push_back({r.MSG_NO, r.ADD_NO, -1, std::string(field(r.FILE_NAME))});
    std::string files;
    attachments(files, folder, m, Shown(conf), known);
    pr_text(files);
    if (font) pr("</FONT>\n");
  }
  std::vector<const INDEX_DATA*> thread;
  for (const INDEX_DATA& r : idx)
    if (r.THREAD_NO == m.THREAD_NO) thread.push_back(&r);
  ThreadRows rows;
  std::string table;
  thread_table(table, folder, thread, m, order, rows);
  pr_text(table);

  const Neighbours n = neighbours(idx, sel, order);
  pr("<TABLE><TR>\n<TD>\n");
  back_form(folder, n.page, order);
  pr("</TD>\n<TD>\n");
  step_form(folder, order, n.prev, 301, 302);
  pr("</TD>\n<TD>\n");
  step_form(folder, order, n.next, 303, 304);
  pr("</TD>\n</TR></TABLE>\n");

  if (r >= 2) {
    const char* target = G_MST_USER.WRITE_MODE == 2 ? " TARGET=\"WBORDWRITE\"" : "";
    const bool own = field(m.USER_ID) == field(G_MST_USER.USER_ID);
    pr("<TABLE><TR>\n");

    pr("<TD>\n");
    form_start(target);
    hidden("JOB", "BORDWRITE");
    hidden("FOLDER_NO", static_cast<long>(folder));
    hidden("USER_DISP_DEF", static_cast<long>(order));
    pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n</FORM>\n</TD>\n", msg(270));

    pr("<TD>\n");
    form_start(target);
    hidden("JOB", "BORDWRITE");
    hidden("FOLDER_NO", static_cast<long>(folder));
    hidden("SEL_NO", static_cast<long>(sel));
    hidden("USER_DISP_DEF", static_cast<long>(order));
    pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n</FORM>\n</TD>\n", msg(271));

    if (may_edit_own(conf, m)) {
      pr("<TD>\n");
      form_start(target);
      hidden("JOB", "EDITMSG");
      hidden("FOLDER_NO", static_cast<long>(folder));
      hidden("SEL_NO", static_cast<long>(sel));
      hidden("USER_DISP_DEF", static_cast<long>(order));
      pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\">\n</FORM>\n</TD>\n", msg(330));
    }

    if (G_MST_USER.MODE == 1 && (r == 3 || own)) {
      pr("<TD>\n");
      form_start(target);
      hidden("JOB", "DELMSG");
      hidden("SEL_NO", static_cast<long>(sel));
      hidden("FOLDER_NO", static_cast<long>(folder));
      hidden("USER_DISP_DEF", static_cast<long>(order));
      pr("<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\" onClick=\"return confirm('%s')\">\n"
         "</FORM>\n</TD>\n",
         msg(289), msg(290));
    }
    pr("</TR></TABLE>\n");
  }
  pr("</BODY>\n</HTML>\n");
}

const std::vector<INDEX_DATA>& compact_index(int32_t folder) { return compact_board(folder).idx; }

namespace {

// The index records of the threads the spans name: each span in runs of at
// most 25 records, spans that meet read once. `offsets` and `lens` get
// the pieces to read, `threads` the threads (sorted).
void span_pieces(const std::vector<ThreadSpan>& spans, std::vector<long>& offsets, std::vector<size_t>& lens,
                 std::vector<int32_t>& threads) {
  std::vector<std::pair<uint32_t, uint32_t>> parts;  // first position, end
  for (const ThreadSpan& s : spans)
    if (s.count) parts.emplace_back(s.first, s.first + s.count), threads.push_back(s.thread);
  std::sort(parts.begin(), parts.end());
  std::sort(threads.begin(), threads.end());
  uint32_t done = 0;
  for (auto [from, end] : parts)
    for (uint32_t p = std::max(from, done); p < end; p += 25) {
      offsets.push_back(static_cast<long>(p) * static_cast<long>(sizeof(INDEX_DATA)));
      lens.push_back(std::min<uint32_t>(25, end - p) * sizeof(INDEX_DATA));
      done = std::max(done, std::min(end, p + 25));
    }
}

// Every message asked for that the map knows must be among the records
// read, in the thread the map gives; else the index changed under the page.
bool all_found(const std::vector<int32_t>& wanted, const std::vector<ThreadSpan>& spans,
               const std::vector<INDEX_DATA>& got) {
  for (size_t i = 0; i < wanted.size(); i++)
    if (spans[i].count && std::none_of(got.begin(), got.end(), [&](const INDEX_DATA& r) {
          return r.MSG_NO == wanted[i] && r.THREAD_NO == spans[i].thread;
        }))
      return false;
  return true;
}

// The board's index read whole (a small one, or one the map does not
// serve): the records of the messages asked for and of their threads are
// kept, in file order.
void kept_from_whole(int32_t folder, int fd, const struct stat& st, CompactBoard& b) {
  // A small index is read into room kept for the request, and not cleared
  // before: the read fills what is looked at.
  static std::unique_ptr<INDEX_DATA[]> small;
  static size_t room = 0;
  std::unique_ptr<IndexMap> map;
  std::span<const INDEX_DATA> recs;
  if (st.st_size <= 512 * 1024) {
    const size_t n = static_cast<size_t>(st.st_size) / sizeof(INDEX_DATA);
    if (room < n) {
      small = std::make_unique_for_overwrite<INDEX_DATA[]>(n);
      room = n;
    }
    const long got = pread_some(fd, small.get(), n * sizeof(INDEX_DATA), 0);
    recs = {small.get(), got > 0 ? static_cast<size_t>(got) / sizeof(INDEX_DATA) : 0};
  } else {
    map = std::make_unique<IndexMap>(folder);
    recs = map->records();
  }
  // The messages' first records give their threads.
  const NumberSet asked(b.wanted);
  std::vector<bool> met(b.wanted.size());
  std::vector<int32_t> found;
  for (const INDEX_DATA& r : recs) {
    if (!asked.has(r.MSG_NO)) continue;
    const auto k = static_cast<size_t>(std::lower_bound(b.wanted.begin(), b.wanted.end(), r.MSG_NO) - b.wanted.begin());
    if (!met[k]) {
      met[k] = true;
      found.push_back(r.THREAD_NO);
    }
  }
  std::sort(found.begin(), found.end());
  const NumberSet threads(found);
  static std::vector<uint32_t> kept;
  kept.clear();
  for (size_t k = 0; k < recs.size(); k++)
    if (asked.has(recs[k].MSG_NO) || threads.has(recs[k].THREAD_NO)) kept.push_back(static_cast<uint32_t>(k));
  b.idx.reserve(b.idx.size() + kept.size());
  for (uint32_t k : kept) b.idx.push_back(recs[k]);
}

}  // namespace

void compact_preload(int32_t folder, const std::vector<int32_t>& wanted) { compact_preload_many({folder}, {wanted}); }

void compact_preload_many(const std::vector<int32_t>& folders, const std::vector<std::vector<int32_t>>& wanted,
                          std::vector<OpenedIndex>* opened) {
  struct Large {
    int32_t folder;
    CompactBoard* b;
    OpenedIndex index;
  };
  std::vector<Large> large;
  auto& cache = compact_boards();
  for (size_t i = 0; i < folders.size(); i++) {
    if (cache.count(folders[i])) continue;
    CompactBoard& b = cache.emplace(folders[i], CompactBoard()).first->second;
    b.wanted = wanted[i];
    std::sort(b.wanted.begin(), b.wanted.end());
    OpenedIndex index = opened ? std::move((*opened)[i]) : open_index(folders[i]);
    if (!index.fd.ok()) continue;
    // A large index is looked at through its thread map, and only the
    // spans of the threads asked for are read.
    if (index.st.st_size > 64 * 1024) {
      large.push_back({folders[i], &b, std::move(index)});
    } else {
      kept_from_whole(folders[i], index.fd.get(), index.st, b);
      look_up(b);
    }
  }
  if (large.empty()) return;
  // The large boards' maps in one batch, then their spans in another.
  std::vector<int32_t> numbers;
  std::vector<struct stat> stats;
  std::vector<std::vector<int32_t>> asked;
  for (const Large& l : large) numbers.push_back(l.folder), stats.push_back(l.index.st), asked.push_back(l.b->wanted);
  std::vector<std::vector<ThreadSpan>> spans;
  const std::vector<bool> mapped = thread_spans_many(numbers, stats, asked, spans);
  std::vector<long> offsets;
  std::vector<size_t> lens;
  std::vector<int> fds;
  std::vector<size_t> owner;
  std::vector<std::vector<int32_t>> threads(large.size());
  std::vector<bool> whole(large.size(), true);
  for (size_t i = 0; i < large.size(); i++) {
    if (!mapped[i]) continue;
    span_pieces(spans[i], offsets, lens, threads[i]);
    fds.resize(offsets.size(), large[i].index.fd.get());
    owner.resize(offsets.size(), i);
  }
  std::vector<INDEX_DATA> run(25);
  read_ranges(fds, offsets, lens, [&](size_t k, std::string_view bytes) {
    const size_t i = owner[k];
    if (bytes.size() != lens[k]) {
      whole[i] = false;
      return;
    }
    std::memcpy(static_cast<void*>(run.data()), bytes.data(), bytes.size());
    for (size_t r = 0; r < bytes.size() / sizeof(INDEX_DATA); r++)
      if (std::binary_search(threads[i].begin(), threads[i].end(), run[r].THREAD_NO)) large[i].b->idx.push_back(run[r]);
  });
  for (size_t i = 0; i < large.size(); i++) {
    CompactBoard& b = *large[i].b;
    if (!mapped[i] || !whole[i] || !all_found(b.wanted, spans[i], b.idx)) {
      b.idx.clear();
      kept_from_whole(large[i].folder, large[i].index.fd.get(), large[i].index.st, b);
    }
    look_up(b);
  }
}

void compact_read_ahead(const std::vector<int32_t>& folders, std::vector<std::string> names,
                        const std::function<void(size_t, std::string_view)>& fn) {
  // What each name beyond the caller's is for: a message's read marks; and
  // the boards whose attachment sizes are read.
  std::vector<std::string> copies;
  std::vector<CompactBoard*> copy_of;
  struct Ahead {
    CompactBoard* board;
    int32_t msg;
  };
  const size_t theirs = names.size();
  std::vector<Ahead> ahead;
  for (int32_t folder : folders) {
    auto it = compact_boards().find(folder);
    if (it == compact_boards().end()) continue;
    CompactBoard& b = it->second;
    bool adds = false;
    for (int32_t n : b.wanted) {
      const INDEX_DATA* m = b.find(n);
      if (!m || m->DEL_FLG == 1) continue;
      adds = adds || m->ADD_COUNT > 0;
      if (m->READ_CHK == 2) {
        names.push_back(std::to_string(folder) + "/" + msg_mark_name(n));
        ahead.push_back({&b, n});
      }
    }
    if (adds) {
      // The list's stamp first: the copy read after it is current only
      // when it carries that stamp.
      b.att = AttachCopy{stamp_of(msg_add_list_path(folder).c_str()), {}, false};
      copies.push_back(std::to_string(folder) + "/" + attach_sizes_name());
      copy_of.push_back(&b);
    }
  }
  const std::string data = msg_data_dir();
  read_small_files(data, names, [&](size_t i, std::string_view bytes, int err) {
    if (i < theirs) {
      if (!err || err == ENOENT) fn(i, bytes);
    } else if (!err || err == ENOENT) {
      // In order of the board's sorted numbers: the files come back in
      // the order they were named.
      ahead[i - theirs].board->marks.emplace_back(ahead[i - theirs].msg, bytes);
    }
  });
  // The copies are larger: up to 32 KiB each in a batch of their own (a
  // larger one is read again when shown).
  read_pieces(data, copies, std::vector<std::vector<FilePiece>>(copies.size(), {{0, 32768}}), nullptr,
              [&](size_t i, const std::vector<std::string_view>& got, int err) {
                copy_of[i]->att->read = err == 0 && got[0].size() < 32768;
                if (!err) copy_of[i]->att->bytes.assign(got[0]);
              });
}

void compact_release(int32_t folder) { compact_boards().erase(folder); }

void j_DETAILS_sub1(int32_t folder, int32_t msgno, int flag, const std::string* body) {
  CompactBoard& b = compact_board(folder);
  if (!b.conf) {
    // Read into memory the page has in use already: a record on the stack
    // or in sB_TITLE2 would be fresh pages to fault in.
    static const std::unique_ptr<B_TITLE2> rec = std::make_unique<B_TITLE2>();
    if (request_acl().read_settings(folder, *rec) != 0) *rec = B_TITLE2{};
    b.conf.emplace(*rec);
  }
  const Shown& conf = *b.conf;
  const INDEX_DATA* found = b.find(msgno);
  if (msgno < 1 || !found) return;
  const INDEX_DATA& m = *found;
  const int order = G_MST_USER.USER_DISP_DEF;

  // The message is made in one string and written at once.
  static std::string out;
  out.clear();
  if (flag == 1) {
    const bool all = form_int("CHK_ALL") == 1;
    out += "<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"";
    put(out, static_cast<int>(folder));
    out += ",";
    put(out, static_cast<int>(msgno));
    out.append("\"").append(all ? " checked " : "").append(">SEL:");
    put(out, static_cast<int>(msgno));
    out += "<BR>\n";
  }

  const bool font = conf.FONTCOLOR[0] != 0 && m.DEL_FLG != 1;
  if (m.DEL_FLG == 1) {
    pr_text(out);
    out.clear();
    pr("<BR>\n");
    deleted_notice();
  } else {
    const std::string shown = shown_body(m, conf, body);
    header_table(out, folder, m, true, entry_of(b.marks, m.MSG_NO));
    if (font) out.append("<FONT COLOR=\"#").append(esc(field(conf.FONTCOLOR))).append("\">\n");
    put(out, shown);
    out += "\n<P>\n";
    if (!b.adds_read && m.ADD_COUNT > 0 && conf.ADD_MAX >= 1) {
      b.adds_read = true;
      std::vector<AttachedFile> all;
      load_attached_files(folder, all, b.att ? &*b.att : nullptr, b.wanted.empty() ? nullptr : &b.wanted);
      for (AttachedFile& a : all)
        if (b.find(a.msg)) b.adds.push_back(std::move(a));
      std::stable_sort(b.adds.begin(), b.adds.end(), [](const auto& x, const auto& y) { return x.msg < y.msg; });
    }
    const auto from = std::partition_point(b.adds.begin(), b.adds.end(),
                                           [&](const AttachedFile& a) { return a.msg < m.MSG_NO; });
    const auto to =
        std::partition_point(from, b.adds.end(), [&](const AttachedFile& a) { return a.msg == m.MSG_NO; });
    attachments(out, folder, m, conf, {from, to});
  }
  if (font) out += "</FONT>\n";
  thread_table(out, folder, b.thread(m.THREAD_NO), m, order, b.rows);
  out += "<HR>\n";
  pr_text(out);
}

void j_DELMSG() {
  if (G_MST_USER.MODE == 2) return;
  const int32_t folder = form_int("FOLDER_NO");
  const int32_t sel = form_int("SEL_NO");
  const int r = chk_ACL(folder);
  if (ReadB_TITLE(folder, 1) != 0) return;  // see read_folder
  {
    // Checked and changed under the board's lock: a reply stored meanwhile
    // would otherwise lose its parent.
    DirLock lock(msg_index_path(folder).c_str());
    std::vector<INDEX_DATA> idx;
    if (sel < 1 || !load_index(folder, idx)) return;
    const INDEX_DATA* found = find_message(idx, sel);
    if (!found) return;
    INDEX_DATA m = *found;
    if (field(m.USER_ID) != field(G_MST_USER.USER_ID) && r < 3) return;

    bool met = false, followers = false;
    for (const INDEX_DATA& t : idx) {
      if (t.THREAD_NO != m.THREAD_NO) continue;
      if (met && t.RES_DEPTH > m.RES_DEPTH) {
        followers = true;
        break;
      }
      if (t.MSG_NO == sel) met = true;
    }
    if (followers) {
      // Kept as a deleted entry so that its replies keep their place.
      m.DEL_FLG = 1;
      sINDEX_DATA = m;
      ReWriteINDEX_DATA();
      return;
    }
    // The record goes first: without it nothing refers to the rest, and a
    // later message that takes the number over clears what is left. The
    // attached files go under the lock too, before their number is free;
    // the body goes last, so that nothing of the message stays on disk.
    DeleteINDEX_DATA(folder, sel);
    unlink(msg_mark_path(folder, sel).c_str());
    DeleteADD_FILE(folder, sel);
    const std::string attached = msg_attach_dir_path(folder, sel);
    DelDIR(attached.c_str());
    rmdir(attached.c_str());
    unlink(msg_body_path(folder, sel).c_str());
  }
}

void j_BORDALLFLG() {
  const int32_t folder = form_int("FOLDER_NO");
  // Read marks only where the user may read: the request can name any
  // folder, not only the one whose button it came from.
  if (chk_ACL(folder) < 1 || ReadB_TITLE(folder, 1) != 0) return;  // see read_folder
  MarkAllREAD_POINT(folder);
}
