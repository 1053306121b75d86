// Search: what each combination of keywords, writer and mode finds, and where.
#include "board_site.h"

namespace {

// Board 1: 1 "Apple pie"/"sweet cherry" by Admin; 2 "Banana"/"Cherry apple" by Taro;
// 3 "Apple", deleted; 4 a Japanese title, a body whose two-byte character ends in "Q",
// by a removed user. Board 3 lies below a directory Taro may not read; dir 4 holds board 5.
struct SearchSite : BoardSite {
  SearchSite() {
    folder(1, KIND_BOARD, 0, "Board");
    folder(2, KIND_DIR, 0, "Closed", 5, 5);
    folder(3, KIND_BOARD, 1, "Inner");
    folder(4, KIND_DIR, 0, "Open & <dir>");
    folder(5, KIND_BOARD, 1, "Sub");
    for (auto [title, body, who] : {std::tuple{"Apple pie", "sweet cherry", "Admin"},
                                    {"Banana", "Cherry apple", "Taro"},
                                    {"Apple", "Apple", "Taro"},
                                    {"\x93\xfa\x96\x7b", "x\x83QApple", "Ghost"}}) {
      int32_t n = post(1, 0, title, who);
      write_file_bytes(data + "1/x" + std::to_string(n) + ".dat", body);
    }
    mark_deleted(1, 3);
    post(3, 0, "Apple", "Jiro");
    post(5, 0, "Apple", "Jiro");
    taro = key("Taro");
  }
  // The messages found, as "folder/number".
  std::string found(const std::string& condition, const std::string& writer = "", int stat = 1,
                    int folder_no = 0) {
    last = page(taro, {{"JOB", "SEARCHDISP"}, {"CONDITION", condition}, {"WRITER", writer},
                       {"STAT", std::to_string(stat)}, {"FOLDER_NO", std::to_string(folder_no)}});
    return joined(last, "FOLDER_NO=(\\d+&SEL_NO=\\d+)&USER_DISP_DEF=\\d\">[^<]*</A></TD>\n");
  }
  std::string taro, last;
};

TEST(SearchCgi, WhatEachSearchFinds) {
  SearchSite s;
  using Case = std::tuple<std::string, std::string, int, std::string>;  // condition, writer, mode, found
  for (const auto& [condition, writer, stat, found] : std::vector<Case>{
           {"apple", "", 1, "1&SEL_NO=2"},   // case-sensitive, found in a body
           {"Apple", "", 1, "1&SEL_NO=1 1&SEL_NO=4 5&SEL_NO=1"},  // never the deleted one
           {"Apple cherry", "", 2, "1&SEL_NO=1"},  // one in the title, one in the body
           {"w0 w1 w2 w3 w4 w5 w6 w7 w8 w9 Apple", "", 1, ""},  // the eleventh word is ignored
           {"Banana", "Admin", 1, "1&SEL_NO=1 1&SEL_NO=2"},
           {"Cherry", "Taro", 2, "1&SEL_NO=2"},
           {"", "aro", 2, "1&SEL_NO=2"},
           {"Apple", "", 3, ""},
           {"", "Ghost", 1, ""},  // a removed writer has no name
           {"  ", "", 2, ""},  // blanks alone ask nothing
           {"\x93\xfa", "", 1, "1&SEL_NO=4"},
           {"Q", "", 1, ""},  // the second byte of a character
           {"Banana\x81\x40" "Apple", "", 1, ""},  // a two-byte blank separates nothing
           {std::string(5000, 'k') + " Banana", "", 1, "1&SEL_NO=2"},
       })
    EXPECT_EQ(s.found(condition, writer, stat), found) << condition << "/" << writer;

  // Headings: the folders Taro may read; a directory alone is not searched below.
  s.found("Apple");
  EXPECT_FALSE(has(s.last, "S285"));
  EXPECT_EQ(joined(s.last, "<B>([^<]*)</B><BR>"), "Board Open &amp; &lt;dir&gt; Sub");
  EXPECT_EQ(s.found("Apple", "", 1, 4), "");
  EXPECT_EQ(joined(s.last, "<B>([^<]*)</B><BR>"), "Open &amp; &lt;dir&gt;");
  EXPECT_EQ(s.found("Apple", "", 1, 3), "");

  // The form offers the same folders.
  std::string form = s.page(s.taro, {{"JOB", "SEARCH"}});
  EXPECT_EQ(joined(form, "<OPTION VALUE=\"(\\d+)\">"), "0 1 4 5");
  EXPECT_TRUE(has(form, "<OPTION VALUE=\"4\">Open &amp; &lt;dir&gt;\n"));

  // A search the writer decides reads no body (reading one creates it).
  for (int n = 1; n <= 4; n++) std::remove((s.data + "1/x" + std::to_string(n) + ".dat").c_str());
  EXPECT_EQ(s.found("Cherry", "Nobody", 2), "");
  EXPECT_EQ(s.found("", "Admin", 1), "1&SEL_NO=1");  // shown, so read to be shown
  for (int n = 2; n <= 4; n++) EXPECT_FALSE(file_exists(s.data + "1/x" + std::to_string(n) + ".dat")) << n;
}

}  // namespace
