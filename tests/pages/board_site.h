// A throw-away site with users, folders, messages and read marks laid out
// through the store code in this process, for tests that then request the
// board pages through the program.
#pragma once
#include <gtest/gtest.h>

#include <fstream>
#include <regex>

#include "app/globals.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "site.h"
#include "store/folder.h"
#include "store/message.h"

struct BoardSite : Site {
  BoardSite() {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, data);
    copy_text(SYSINFO.ADD_FILE_PATH, sizeof SYSINFO.ADD_FILE_PATH, add);
  }

  // A user line with the password "pw" and every field the pages look at.
  void user(const std::string& id, int level, int mode, const std::string& name = "",
            int disp = 1, int write_mode = 1, int no_read = 0) {
    std::ofstream(data + "user.mst", std::ios::app)
        << id << "," << (name.empty() ? id : name) << "," << level << ",,pw,0," << disp << ","
        << mode << "," << write_mode << ",,," << no_read << ",\n";
  }

  // Appends a folder line and its settings record.
  void folder(int32_t no, int32_t kind, int32_t depth, const std::string& name,
              int32_t read_level = 0, int32_t write_level = 0) {
    sB_TITLE = {};
    sB_TITLE.FOLDER_NO = no;
    sB_TITLE.KIND = kind;
    sB_TITLE.DEPTH = depth;
    set_field(sB_TITLE.NAME, name);
    ASSERT_EQ(InsertB_TITLE(100000), 0);
    sB_TITLE2 = {};
    sB_TITLE2.FOLDER_NO = no;
    sB_TITLE2.READ_LEVEL = read_level;
    sB_TITLE2.WRITE_LEVEL = write_level;
    sB_TITLE2.READ_CHK = sB_TITLE2.REWRITE_FLG = 1;
    ASSERT_EQ(InsertB_TITLE2(), 0);
  }

  // Posts a message as `author` (parent 0: a new thread); its number.
  int32_t post(int32_t folder, int32_t parent, const std::string& title,
               const std::string& author = "Admin") {
    set_field(G_MST_USER.USER_ID, author);
    sINDEX_DATA = {};
    sINDEX_DATA.FOLDER_NO = folder;
    sINDEX_DATA.MSG_NO = parent;
    sINDEX_DATA.READ_CHK = 1;
    set_field(sINDEX_DATA.WRITE_TITLE, title);
    set_field(sINDEX_DATA.USER_ID, author);
    set_field(sINDEX_DATA.WRITE_DATE, "2024/05/06 07:08");
    EXPECT_EQ(WriteINDEX_DATA(), 0);
    return sINDEX_DATA.MSG_NO;
  }

  void mark_read(int32_t folder, int32_t msg, const std::string& user) {
    sREAD_POINT = {};
    sREAD_POINT.MSG_NO = msg;
    set_field(sREAD_POINT.USER_ID, user);
    ASSERT_EQ(WriteREAD_POINT(folder), 0);
  }

  std::string key(const std::string& id) {
    std::string k = login(id, "pw");
    EXPECT_NE(k, "") << id;
    return k;
  }
  std::string page(const std::string& skey, Fields f) const {
    f.insert(f.begin(), {"SKEY", skey});
    Response r = get(f);
    EXPECT_EQ(r.status, 0);
    return r.out;
  }
};

inline bool has(const std::string& page, const std::string& piece) {
  return page.find(piece) != std::string::npos;
}

// The first group of every match of `re`.
inline std::vector<std::string> all_matches(const std::string& text, const std::string& re) {
  std::vector<std::string> out;
  std::regex r(re);
  for (auto it = std::sregex_iterator(text.begin(), text.end(), r); it != std::sregex_iterator(); ++it)
    out.push_back((*it)[1].str());
  return out;
}

// The same, joined by spaces.
inline std::string joined(const std::string& text, const std::string& re) {
  std::string s;
  for (const std::string& m : all_matches(text, re)) s += (s.empty() ? "" : " ") + m;
  return s;
}
