// Unread tracking through the program: the settings page's two lists and
// its store step, the unread list in each order, ticking messages read,
// and what forged numbers and guest accounts may not change.
#include <climits>

#include "board_site.h"
#include "store/unread.h"

namespace {

using Names = std::vector<std::string>;

// Boards 1 "Board" and 4 "Other" & 5 "Secret & co" at the top; board 3
// below directory 2, which Taro may not read; board 5 Taro may not read.
struct UnreadSite : BoardSite {
  UnreadSite() {
    folder(1, KIND_BOARD, 0, "Board");
    folder(2, KIND_DIR, 0, "Closed", 5, 5);
    folder(3, KIND_BOARD, 1, "Inner");
    folder(4, KIND_BOARD, 0, "Other <b>");
    folder(5, KIND_BOARD, 0, "Secret", 5, 5);
    post(1, 0, "One");
    post(1, 1, "Two");
    post(1, 0, "Three");
    for (int32_t f : {3, 4, 5}) post(f, 0, "Elsewhere");
    mark_read(1, 2, "Taro");
  }
  std::string settings(const std::string& k, Fields f = {}) {
    f.insert(f.begin(), {"JOB", f.empty() ? "SETNOREAD" : "SETNOREAD_WR"});
    return page(k, f);
  }
  // The two lists of the settings page, "left | right".
  static std::string lists(const std::string& p) {
    size_t right = p.find("BOARDLIST");
    return joined(p.substr(0, right), "<OPTION VALUE=\"(\\d+)\">") + " | " +
           joined(p.substr(right), "<OPTION VALUE=\"(\\d+)\">");
  }
  // The tick boxes of the unread list.
  static std::string ticks(const std::string& p) { return joined(p, "VALUE=\"(\\d+,\\d+)\""); }
  std::string unread(const std::string& k, Fields f = {}) {
    f.insert(f.begin(), {"JOB", f.empty() ? "NRDETAILS" : "NRDETAILSWR"});
    return page(k, f);
  }
};

TEST(UnreadCgi, SettingsMoveBoardsOutAndIn) {
  UnreadSite s;
  std::string taro = s.key("Taro");
  // Only a board's own access decides: Inner is offered.
  EXPECT_EQ(s.lists(s.settings(taro)), " | 1 3 4");
  EXPECT_TRUE(has(s.settings(taro), "<OPTION VALUE=\"4\">Other &lt;b&gt;\n"));
  // Forged numbers (a board Taro may not read, no folder, a directory) do
  // nothing; the list ends at the first number below 1.
  std::string p = s.settings(taro, {{"BOARD_IN", "x"}, {"BOARDLIST", "4"}, {"BOARDLIST", "5"},
                                    {"BOARDLIST", "99"}, {"BOARDLIST", "2"}, {"BOARDLIST", "4"},
                                    {"BOARDLIST", "0"}, {"BOARDLIST", "1"}});
  EXPECT_EQ(s.lists(p), "4 | 1 3 4");
  EXPECT_EQ(read_file_bytes(s.data + "4/unread.dat"), "Taro\n");
  EXPECT_FALSE(file_exists(s.data + "99") || file_exists(s.data + "5/unread.dat") ||
               file_exists(s.data + "2/unread.dat"));
  // The list names the button pressed: without it nothing changes.
  EXPECT_EQ(s.lists(s.settings(taro, {{"NOWNOREAD", "4"}})), "4 | 1 3 4");
  EXPECT_EQ(s.lists(s.settings(taro, {{"BOARD_OUT", "x"}, {"NOWNOREAD", "4"}})), " | 1 3 4");
  // A guest account has no unread tracking.
  std::string guest = s.key("Guest");
  EXPECT_TRUE(refused(s.settings(guest)));
  EXPECT_TRUE(refused(s.settings(guest, {{"BOARD_IN", "x"}, {"BOARDLIST", "1"}})));
  EXPECT_FALSE(file_exists(s.data + "1/unread.dat"));
}

TEST(UnreadCgi, ListAndTickRead) {
  UnreadSite s;
  std::string taro = s.key("Taro");
  std::string p = s.unread(taro);
  // Board 3 lies below a closed directory, board 5 is closed; read 1,2 is not listed.
  EXPECT_EQ(joined(p, "<B>(\\[\\d\\][^<]*)</B><BR>"), "[1]Board [4]Other &lt;b&gt;");
  EXPECT_EQ(s.ticks(p), "1,1 1,3 4,1");
  EXPECT_FALSE(has(p, " checked "));
  EXPECT_TRUE(has(s.unread(taro, {{"JOB", "NRDETAILS"}, {"CHK_ALL", "1"}}), "VALUE=\"1,1\" checked >"));
  // An excluded board is not listed.
  s.settings(taro, {{"BOARD_IN", "x"}, {"BOARDLIST", "4"}});
  EXPECT_EQ(s.ticks(s.unread(taro)), "1,1 1,3");

  // Ticks mark read; forged pairs (closed board, missing message, no
  // folder, nonsense) mark nothing and create nothing.
  p = s.unread(taro, {{"FOLSEL", "1,3"}, {"FOLSEL", "5,1"}, {"FOLSEL", "1,9"}, {"FOLSEL", "7,1"},
                      {"FOLSEL", "x"}, {"FOLSEL", "1,1"}});
  EXPECT_EQ(s.ticks(p), "");
  EXPECT_EQ(s.readers(3), (Names{"Admin", "Taro"}));
  EXPECT_EQ(s.readers(1), (Names{"Admin", "Taro"}));
  EXPECT_EQ(s.readers(1, 5), Names{"Admin"});
  EXPECT_FALSE(file_exists(s.data + "1/r9.dat") || file_exists(s.data + "7"));

  // A guest sees the refusal and marks nothing.
  std::string guest = s.key("Guest");
  EXPECT_TRUE(has(s.unread(guest), "S102</B></FONT><P>\nS3\n<FORM>\n<INPUT TYPE=\"button\" VALUE=\"S4\""));
  s.unread(guest, {{"FOLSEL", "4,1"}});
  EXPECT_EQ(s.readers(1, 4), Names{"Admin"});
}

TEST(UnreadCgi, DisplayOrders) {
  UnreadSite s;
  s.post(1, 0, "Four");
  ASSERT_EQ(DeleteINDEX_DATA(1, 3), 0);
  // A corrupt record with the highest number is listed like any other.
  sINDEX_DATA = {};
  sINDEX_DATA.FOLDER_NO = 1;
  sINDEX_DATA.MSG_NO = sINDEX_DATA.THREAD_NO = INT32_MAX;
  append_file((s.data + "1/index.dat").c_str(), std::string_view(reinterpret_cast<char*>(&sINDEX_DATA), sizeof sINDEX_DATA));
  for (auto [who, order] : {std::pair{"Taro", "1,1 1,4 1,2147483647"},
                            {"Numbers", "1,1 1,2 1,4 1,2147483647"},
                            {"Newest", "1,2147483647 1,4 1,2 1,1"},
                            {"NoOrder", ""}})
    EXPECT_EQ(s.ticks(s.unread(s.key(who))).substr(0, std::string(order).size()), order) << who;
}

}  // namespace
