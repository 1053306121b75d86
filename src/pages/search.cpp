// Search: the search form and the result page.
//
// There is no search index: each readable board in scope is searched by
// reading its index once and, for a message whose title and writer do not
// decide it, its body once (in batches). Keywords match as exact bytes at character
// boundaries, so a keyword never matches across a two-byte character.
#include "pages/search.h"

#include <cstring>
#include <string>
#include <unordered_map>
#include <vector>

#include "app/frame.h"
#include "app/globals.h"
#include "app/html.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "pages/common.h"
#include "pages/details.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/folder.h"
#include "store/batch_read.h"
#include "store/message.h"

namespace {

constexpr size_t kMaxKeywords = 10;

// The keywords of a search text: the pieces between blanks (0x20; a
// two-byte blank separates nothing), at most ten, where consecutive blanks
// give empty pieces that take a place among the ten. Only the non-empty
// ones are returned, held whole whatever their length.
std::vector<std::string> split_keywords(std::string_view text) {
  std::vector<std::string> out;
  if (text.empty()) return out;
  size_t places = 0, start = 0, i = 0;
  while (places < kMaxKeywords) {
    if (i >= text.size() || text[i] == ' ') {
      std::string_view word = text.substr(start, std::min(i, text.size()) - start);
      places++;
      if (!word.empty()) out.emplace_back(word);
      if (i >= text.size()) break;
      start = ++i;
      continue;
    }
    i += sjis_lead(static_cast<unsigned char>(text[i])) ? 2 : 1;
  }
  return out;
}

// What the result page looks for.
class Search {
 public:
  Search()
      : words_(split_keywords(form_str("CONDITION"))),
        writer_(form_str("WRITER")),
        stat_(form_int("STAT")) {}

  // False when no message can match: nothing asked, or neither mode.
  bool asks() const { return (stat_ == 1 || stat_ == 2) && (!words_.empty() || !writer_.empty()); }

  // Whether message `m` matches as far as its title and writer tell: 1 or
  // 0 when they decide it, -1 when its body must tell (`found` then holds
  // the keywords its title already has).
  int decide_without_body(const INDEX_DATA& m, std::vector<bool>& found) {
    if (m.DEL_FLG == 1) return 0;
    // The writer decides first where it can, so that no body is read for it.
    if (!writer_.empty()) {
      const bool w = writer_matches(field(m.USER_ID));
      if (words_.empty()) return w;
      if (stat_ == 1 && w) return 1;
      if (stat_ == 2 && !w) return 0;
    }
    found.assign(words_.size(), false);
    return scan(field(m.WRITE_TITLE), found) ? 1 : -1;
  }
  // Whether the body decides a match left open by the title.
  bool decide_with_body(std::string_view body, std::vector<bool>& found) const {
    return scan(body, found);
  }

 private:
  // Looks for the keywords not yet found; true when that decides a match:
  // any keyword found (mode 1), or every keyword found by now (mode 2).
  bool scan(std::string_view text, std::vector<bool>& found) const {
    bool all = true;
    for (size_t i = 0; i < words_.size(); i++) {
      if (!found[i]) found[i] = StrFind(text, words_[i]) >= 0;
      if (found[i] && stat_ == 1) return true;
      all = all && found[i];
    }
    return stat_ == 2 && all;
  }

  // A writer no longer in the user master has no name and is never found.
  bool writer_matches(std::string_view id) {
    auto it = writers_.find(std::string(id));
    if (it != writers_.end()) return it->second;
    const MST_USER* u = request_users().find(id);
    const bool w = u && StrFind(field(u->USER_NAME), writer_) >= 0;
    writers_.emplace(std::string(id), w);
    return w;
  }

  std::vector<std::string> words_;
  std::string writer_;
  int stat_;
  std::unordered_map<std::string, bool> writers_;
};

}  // namespace

void j_SEARCH() {
  header_printf();
  system_body();
  pr("<FONT SIZE=\"5\"><B>%s</B></FONT><P>\n%s\n<HR>\n%s\n", msg(334), msg(335), msg(336));
  pr("<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"%s\" METHOD=POST>\n", JOB_EXE);
  hidden_skey();
  hidden("JOB", std::string_view("SEARCHDISP"));
  pr("<INPUT TYPE=\"text\" NAME=\"CONDITION\" SIZE=40 MAXLENGTH=250>\n"
     "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"%s\"><BR>\n",
     msg(334));
  pr("%s<INPUT TYPE=\"text\" NAME=\"WRITER\" SIZE=30 MAXLENGTH=80>\n", msg(342));
  pr("<DL>\n<DT>%s\n<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"1\" CHECKED>%s\n"
     "<DD><INPUT TYPE=\"radio\" NAME=\"STAT\" VALUE=\"2\">%s\n</DL>\n",
     msg(337), msg(338), msg(339));
  pr("<DL>\n<DT>%s\n<DD><SELECT NAME=\"FOLDER_NO\" >\n<OPTION VALUE=\"0\">%s\n", msg(340), msg(341));
  AclTables& tables = request_acl();
  for (const B_TITLE& f : readable_folders(tables))
    pr("<OPTION VALUE=\"%d\">%s\n", static_cast<int>(f.FOLDER_NO), esc(field(f.NAME)).c_str());
  pr("</SELECT>\n</DL>\n<HR>\n</FORM>\n</BODY>\n</HTML>\n");
}

void j_SEARCHDISP() {
  Search search;
  const int32_t only = form_int("FOLDER_NO");
  header_printf();
  system_body();
  pr("<FONT SIZE=\"5\"><B>%s</B></FONT><P>\n", msg(343));
  AclTables& tables = request_acl();
  std::string body;
  for (const B_TITLE& f : readable_folders(tables)) {
    if (only > 0 && f.FOLDER_NO != only) continue;
    pr("<IMG SRC=\"%s%s\"><B>%s</B><BR>\n", SYSINFO.CG_FILE_WEB_PATH,
       esc(folder_icon(f, tables.icon(f.FOLDER_NO))).c_str(), esc(field(f.NAME)).c_str());
    if (f.KIND != KIND_BOARD || !search.asks()) continue;
    // The title and writer decide what they can; the bodies still needed
    // are read in batches, and every message is shown in index order once
    // it is decided.
    const std::vector<INDEX_DATA>& idx = compact_index(f.FOLDER_NO);
    std::vector<int> verdict(idx.size());
    std::vector<std::vector<bool>> found(idx.size());
    std::vector<std::string> names;
    std::vector<size_t> pending;
    for (size_t i = 0; i < idx.size(); i++) {
      verdict[i] = search.decide_without_body(idx[i], found[i]);
      if (verdict[i] != -1) continue;
      names.push_back(msg_body_name(idx[i].MSG_NO));
      pending.push_back(i);
    }
    size_t shown = 0;
    auto show_decided_before = [&](size_t end) {
      for (; shown < end; shown++)
        if (verdict[shown] == 1) j_DETAILS_sub1(f.FOLDER_NO, idx[shown].MSG_NO, 0);
    };
    read_small_files(msg_dir_path(f.FOLDER_NO), names,
                     [&](size_t k, std::string_view bytes, int) {
                       const size_t i = pending[k];
                       show_decided_before(i);
                       body = body_text(bytes);
                       if (search.decide_with_body(body, found[i]))
                         j_DETAILS_sub1(f.FOLDER_NO, idx[i].MSG_NO, 0, &body);
                       shown = i + 1;
                     });
    show_decided_before(idx.size());
    compact_release(f.FOLDER_NO);
  }
  pr("</BODY>\n</HTML>\n");
}
