// A board site for the posting and details tests: one board "Board"
// (folder 1), helpers that send the posting form through the program and
// read back what it stored.
#pragma once
#include <algorithm>
#include <functional>

#include "board_site.h"
#include "store/acl.h"
#include "store/records.h"

inline const char kFrame[] = "Content-type: text/html\n\n<HTML>\n<HEAD>\nS1</HEAD>\n<!--S2-->\n";

struct PostingSite : BoardSite {
  PostingSite() {
    user("Taro", 1, 1, "Taro Y");
    user("Hanako", 1, 1, "Hanako S");
    user("Jiro", 1, 1);
    user("Guest", 1, 2);
    user("Sysop", 100, 1);
    user("Window", 1, 1, "", 1, 2);  // writes in a separate window
    folder(1, KIND_BOARD, 0, "Board");
  }

  void configure(int32_t folder_no, const std::function<void(B_TITLE2&)>& change) {
    ASSERT_EQ(ReadB_TITLE2(folder_no), 0);
    change(sB_TITLE2);
    ASSERT_EQ(ReWriteB_TITLE2(folder_no), 0);
  }

  // Sends the posting form's store step; `over` replaces or adds fields.
  Response send(const std::string& skey, const Fields& over, const std::vector<Upload>& files = {}) const {
    Fields f = {{"SKEY", skey},      {"JOB", "BORDWRITEWR"},  {"FJOB", "BORDWRITE"}, {"FOLDER_NO", "1"},
                {"SEL_NO", "0"},     {"WRITE_TITLE", "Title"}, {"WRITE_PRIORITY", "0"}, {"READ_CHK", "1"},
                {"HTML_MODE", "0"},  {"WRITE_DATA", "Body"}};
    for (const auto& [k, v] : over) {
      auto it = std::find_if(f.begin(), f.end(), [&](const auto& e) { return e.first == k; });
      if (it != f.end()) it->second = v;
      else f.push_back({k, v});
    }
    return multipart(f, files);
  }

  template <class T>
  std::vector<T> records(const std::string& path) const {
    std::vector<T> out;
    split_records(read_file_bytes(data + path), out);
    return out;
  }
  std::vector<INDEX_DATA> index() const { return records<INDEX_DATA>("1/index.dat"); }
  std::vector<ADD_FILE> attachments() const { return records<ADD_FILE>("1/add_file.dat"); }
  // The record of message `no`; a zero record when there is none.
  INDEX_DATA message(int32_t no) const {
    for (const INDEX_DATA& r : index())
      if (r.MSG_NO == no) return r;
    return INDEX_DATA{};
  }
  std::string body(int32_t no) const { return read_file_bytes(data + "1/x" + std::to_string(no) + ".dat"); }
  // Reader IDs of a message in file order.
  std::vector<std::string> readers(int32_t no, int32_t folder_no = 1) const {
    std::vector<std::string> out;
    for (const READ_POINT& r :
         records<READ_POINT>(std::to_string(folder_no) + "/r" + std::to_string(no) + ".dat"))
      out.emplace_back(field(r.USER_ID));
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

// The page with the session key and the times replaced by fixed words.
inline std::string normalized(std::string page, const std::string& key) {
  for (size_t at; (at = page.find(key)) != std::string::npos;) page.replace(at, key.size(), "KEY");
  return std::regex_replace(page, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d)"), "DATE");
}
