// A board site for the posting and details tests: one board "Board"
// (folder 1) and helpers that send the posting form through the program and
// read back what it stored.
#pragma once
#include <functional>
#include <string>
#include <vector>

#include "board_site.h"
#include "store/acl.h"
#include "store/records.h"

inline const char kFrame[] =
    "Content-type: text/html\n\n<HTML>\n<HEAD>\nS1</HEAD>\n<!--S2-->\n";

struct PostingSite : BoardSite {
  PostingSite() {
    user("Taro", 1, 1, "Taro Y");
    user("Hanako", 1, 1, "Hanako S");
    user("Jiro", 1, 1);
    user("Guest", 1, 2);
    user("Sysop", 100, 1);
    folder(1, KIND_BOARD, 0, "Board");
  }

  // Changes folder settings in place.
  void configure(int32_t folder_no, const std::function<void(B_TITLE2&)>& change) {
    ASSERT_EQ(ReadB_TITLE2(folder_no), 0);
    change(sB_TITLE2);
    ASSERT_EQ(ReWriteB_TITLE2(folder_no), 0);
  }

  // A user entry giving `mode` (1-3) in the folder.
  void grant(int32_t folder_no, const std::string& id, int mode) {
    std::memset(&sB_U_ACL, 0, sizeof sB_U_ACL);
    sB_U_ACL.FOLDER_NO = folder_no;
    set_field(sB_U_ACL.USER_ID, id);
    sB_U_ACL.USERMODE = mode;
    WriteB_U_ACL();
  }

  // Sends the posting form's store step; `over` replaces or adds fields.
  Response send(const std::string& skey, const Fields& over,
                const std::vector<Upload>& files = {}) const {
    Fields f = {{"SKEY", skey},        {"JOB", "BORDWRITEWR"}, {"FJOB", "BORDWRITE"},
                {"FOLDER_NO", "1"},    {"SEL_NO", "0"},        {"WRITE_TITLE", "Title"},
                {"WRITE_PRIORITY", "0"}, {"READ_CHK", "1"},    {"HTML_MODE", "0"},
                {"WRITE_DATA", "Body"}, {"USER_DISP_DEF", "1"}};
    for (const auto& [k, v] : over) {
      bool replaced = false;
      for (auto& [fk, fv] : f)
        if (fk == k) fv = v, replaced = true;
      if (!replaced) f.push_back({k, v});
    }
    return multipart(f, files);
  }

  std::vector<INDEX_DATA> index(int32_t folder_no = 1) const {
    std::vector<INDEX_DATA> out;
    split_records(read_file_bytes(data + std::to_string(folder_no) + "/index.dat"), out);
    return out;
  }
  // The record of message `no`; a zero record when there is none.
  INDEX_DATA message(int32_t no, int32_t folder_no = 1) const {
    for (const INDEX_DATA& r : index(folder_no))
      if (r.MSG_NO == no) return r;
    return INDEX_DATA{};
  }
  std::string body(int32_t no, int32_t folder_no = 1) const {
    return read_file_bytes(data + std::to_string(folder_no) + "/x" + std::to_string(no) + ".dat");
  }
  // Reader IDs of a message in file order.
  std::vector<std::string> readers(int32_t no, int32_t folder_no = 1) const {
    std::vector<READ_POINT> recs;
    split_records(read_file_bytes(data + std::to_string(folder_no) + "/r" + std::to_string(no) +
                                  ".dat"),
                  recs);
    std::vector<std::string> out;
    for (const READ_POINT& r : recs) out.emplace_back(field(r.USER_ID));
    return out;
  }
  std::vector<ADD_FILE> attachments(int32_t folder_no = 1) const {
    std::vector<ADD_FILE> out;
    split_records(read_file_bytes(data + std::to_string(folder_no) + "/add_file.dat"), out);
    return out;
  }
};

// The error page a refused store step leads to shows these two slots.
inline bool error_page(const std::string& out, int title, int message) {
  return has(out, "<FONT SIZE=\"5\"><B>S" + std::to_string(title) + "</B></FONT>") &&
         has(out, "<FONT COLOR=\"RED\"><B>S" + std::to_string(message) + "</B></FONT>");
}

// The room list follows a stored message.
inline bool room_list(const std::string& out) {
  return has(out, "<FONT SIZE=\"5\"><B>[1]Board</B></FONT>") && has(out, " Page[");
}
