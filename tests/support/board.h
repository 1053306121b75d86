// The site builders of the tests, and the headers they share: DataDir for the
// store tests; BoardSite, a Site laid out through the store code in this process.
#pragma once
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <chrono>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <regex>
#include <set>
#include <string_view>
#include <tuple>

#include "site.h"
#include "app/globals.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/folder.h"
#include "store/group.h"
#include "store/message.h"
#include "store/records.h"
#include "store/syslog.h"
#include "store/unread.h"
#include "store/user.h"

class DataDir : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
    copy_text(SYSINFO.ADD_FILE_PATH, sizeof SYSINFO.ADD_FILE_PATH, dir.path() + "/add/");
  }
  std::string get(const std::string& name) const { return read_file_bytes(dir / name); }
  void put(const std::string& name, const std::string& b) { write_file_bytes(dir / name, b); }
  TempDir dir;
};

template <class R>
std::string bytes_of(const R& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

// Users with the password "pw": Admin administers; Guest is a guest
// account; Window writes in a separate window; Reader has level 0; NoOrder,
// Numbers and Newest display in order 0, 2 and 3; Quiet tracks no unread.
struct BoardSite : Site {
  BoardSite() {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, data);
    copy_text(SYSINFO.ADD_FILE_PATH, sizeof SYSINFO.ADD_FILE_PATH, add);
    std::ofstream(data + "user.mst", std::ios::app) <<
        "Admin,Admin,100,,pw,0,1,1,1,,,0,\nTaro,Taro Y,1,,pw,0,1,1,1,,,0,\n"
        "Hanako,Hanako S,1,,pw,0,1,1,1,,,0,\nJiro,Jiro,1,,pw,0,1,1,1,,,0,\nGuest,Guest,1,,pw,0,1,2,1,,,0,\n"
        "Window,Window,1,,pw,0,1,1,2,,,0,\nReader,Reader,0,,pw,0,1,1,1,,,0,\n"
        "NoOrder,NoOrder,1,,pw,0,0,1,1,,,0,\nQuiet,Quiet,1,,pw,0,1,1,1,,,1,\n"
        "Numbers,Numbers,1,,pw,0,2,1,1,,,0,\nNewest,Newest,1,,pw,0,3,1,1,,,0,\n"
        "Bad,<B>Bad</B>,1,,pw,0,1,1,1,,,0,\nMail,Mail Name,1,m@x.test,pw,0,1,1,1,,me.png,0,\n";
  }

  // Appends a folder line and its settings record.
  void folder(int32_t no, int32_t kind, int32_t depth, const std::string& name,
              int32_t read_level = 0, int32_t write_level = 0) {
    sB_TITLE = B_TITLE{no, kind, {}, depth};
    set_field(sB_TITLE.NAME, name);
    ASSERT_EQ(InsertB_TITLE(100000), 0);
    sB_TITLE2 = B_TITLE2{.FOLDER_NO = no, .READ_LEVEL = read_level, .WRITE_LEVEL = write_level,
                         .READ_CHK = 1, .REWRITE_FLG = 1};
    ASSERT_EQ(InsertB_TITLE2(), 0);
  }
  void configure(int32_t folder_no, const std::function<void(B_TITLE2&)>& change) {
    ASSERT_EQ(ReadB_TITLE2(folder_no), 0);
    change(sB_TITLE2);
    ASSERT_EQ(ReWriteB_TITLE2(folder_no), 0);
  }

  // Posts a message as `author` (parent 0: a new thread); its number.
  int32_t post(int32_t folder, int32_t parent, const std::string& title,
               const std::string& author = "Admin") {
    set_field(G_MST_USER.USER_ID, author);
    sINDEX_DATA = INDEX_DATA{.FOLDER_NO = folder, .MSG_NO = parent, .READ_CHK = 1};
    set_field(sINDEX_DATA.WRITE_TITLE, title);
    set_field(sINDEX_DATA.USER_ID, author);
    set_field(sINDEX_DATA.WRITE_DATE, "2024/05/06 07:08");
    EXPECT_EQ(WriteINDEX_DATA(), 0);
    return sINDEX_DATA.MSG_NO;
  }
  void mark_deleted(int32_t folder, int32_t no) {
    ASSERT_EQ(ReadINDEX_DATA(folder, no, 1), 0);
    sINDEX_DATA.DEL_FLG = 1;
    ASSERT_EQ(ReWriteINDEX_DATA(), 0);
  }
  void mark_read(int32_t folder, int32_t msg, const std::string& user) {
    sREAD_POINT = READ_POINT{msg, {}, 0};
    set_field(sREAD_POINT.USER_ID, user);
    ASSERT_EQ(WriteREAD_POINT(folder), 0);
  }

  std::string key(const std::string& id) const { return login(id, "pw"); }
  std::string page(const std::string& skey, Fields f) const {
    f.insert(f.begin(), {"SKEY", skey});
    Response r = get(f);
    EXPECT_EQ(r.status, 0);
    return r.out;
  }
  // A store step as `skey`: the request's answer, or its page alone.
  Response save(const std::string& skey, const std::string& job, Fields f,
                const std::vector<Upload>& files = {}) const {
    f.insert(f.begin(), {{"SKEY", skey}, {"JOB", job}});
    return multipart(f, files);
  }
  std::string store(const std::string& skey, Fields f, const std::vector<Upload>& files = {}) const {
    f.insert(f.begin(), {"SKEY", skey});
    return multipart(f, files).out;
  }

  // Posts into board 1; fields in `f` win over the defaults (first value counts).
  Response send(const std::string& skey, Fields f, const std::vector<Upload>& files = {}) const {
    f.insert(f.begin(), {"SKEY", skey});
    f.insert(f.end(), {{"JOB", "BORDWRITEWR"}, {"FJOB", "BORDWRITE"}, {"FOLDER_NO", "1"}, {"SEL_NO", "0"},
                       {"WRITE_TITLE", "Title"}, {"WRITE_PRIORITY", "0"}, {"READ_CHK", "1"},
                       {"HTML_MODE", "0"}, {"WRITE_DATA", "Body"}});
    return multipart(f, files);
  }

  // What board 1 holds.
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

struct PostingSite : BoardSite {
  PostingSite() { folder(1, KIND_BOARD, 0, "Board"); }
};

using Names = std::vector<std::string>;

inline bool has(const std::string& page, const std::string& piece) {
  return page.find(piece) != std::string::npos;
}

// The first group of every match of `re`, or all of them joined by spaces.
inline std::vector<std::string> all_matches(const std::string& text, const std::string& re) {
  std::vector<std::string> out;
  std::regex r(re);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), r); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1].str());
  return out;
}
inline std::string joined(const std::string& text, const std::string& re) {
  std::string s;
  for (const std::string& m : all_matches(text, re)) s += (s.empty() ? "" : " ") + m;
  return s;
}

// An error page, by its title and message slots (title 278: a refused posting).
inline bool error_page(const std::string& out, int title, int message) {
  return has(out, "<FONT SIZE=\"5\"><B>S" + std::to_string(title) + "</B></FONT>") &&
         has(out, "<FONT COLOR=\"RED\"><B>S" + std::to_string(message) + "</B></FONT>");
}
inline bool error_page(const std::string& out, int message) { return error_page(out, 278, message); }
// The list of board 1 that follows a stored message.
inline bool room_list(const std::string& out) {
  return has(out, "<FONT SIZE=\"5\"><B>[1]Board</B></FONT>") && has(out, " Page[");
}
// The refusal of a folder the user may not read or write.
inline bool refused(const std::string& out) {
  return has(out, "S3\n<FORM>\n<INPUT TYPE=\"button\" VALUE=\"S4\" onClick=\"history.back()\">");
}
