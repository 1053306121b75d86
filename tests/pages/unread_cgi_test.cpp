// Unread tracking: the settings lists, the unread list in each order, ticking read.
#include "board_site.h"

namespace {

// Boards 1 "Board" and 4 "Other <b>" at the top; board 3 below directory 2,
// which Taro may not read; board 5, which he may not read either.
struct UnreadSite : BoardSite {
  UnreadSite() {
    folder(1, KIND_BOARD, 0, "Board");
    folder(2, KIND_DIR, 0, "Closed", 5, 5);
    folder(3, KIND_BOARD, 1, "Inner");
    folder(4, KIND_BOARD, 0, "Other <b>");
    folder(5, KIND_BOARD, 0, "Secret", 5, 5);
    for (auto [f, parent] : {std::pair{1, 0}, {1, 1}, {1, 0}, {3, 0}, {4, 0}, {5, 0}}) post(f, parent, "M");
    mark_read(1, 2, "Taro");
  }
  std::string lists(const std::string& k, const Fields& f) {
    std::string p = page(k, f);
    size_t right = p.find("BOARDLIST");
    return joined(p.substr(0, right), "<OPTION VALUE=\"(\\d+)\">") + " | " +
           joined(p.substr(right), "<OPTION VALUE=\"(\\d+)\">");
  }
  std::string ticks(const std::string& k, const Fields& f = {{"JOB", "NRDETAILS"}}) {
    return joined(page(k, f), "VALUE=\"(\\d+,\\d+)\"");
  }
};

TEST(UnreadCgi, SettingsListAndTickRead) {
  UnreadSite s;
  std::string taro = s.key("Taro");
  // Only a board's own access decides: Inner is offered.
  EXPECT_EQ(s.lists(taro, {{"JOB", "SETNOREAD"}}), " | 1 3 4");
  EXPECT_TRUE(has(s.page(taro, {{"JOB", "SETNOREAD"}}), "<OPTION VALUE=\"4\">Other &lt;b&gt;\n"));
  // Forged numbers do nothing; the list ends at the first number below 1.
  Fields in = {{"JOB", "SETNOREAD_WR"}, {"BOARD_IN", "x"}};
  for (const char* n : {"4", "5", "99", "2", "4", "0", "1"}) in.push_back({"BOARDLIST", n});
  EXPECT_EQ(s.lists(taro, in), "4 | 1 3 4");
  EXPECT_EQ(read_file_bytes(s.data + "4/unread.dat"), "Taro\n");
  for (const char* f : {"99", "5/unread.dat", "2/unread.dat", "1/unread.dat"}) EXPECT_FALSE(file_exists(s.data + f)) << f;
  EXPECT_EQ(s.lists(taro, {{"JOB", "SETNOREAD_WR"}, {"NOWNOREAD", "4"}}), "4 | 1 3 4");
  EXPECT_EQ(s.lists(taro, {{"JOB", "SETNOREAD_WR"}, {"BOARD_OUT", "x"}, {"NOWNOREAD", "4"}}), " | 1 3 4");
  // A guest account has no unread tracking: refused, nothing stored or marked.
  std::string guest = s.key("Guest");
  for (const Fields& f : {Fields{{"JOB", "SETNOREAD"}}, {{"JOB", "SETNOREAD_WR"}, {"BOARD_IN", "x"}, {"BOARDLIST", "1"}},
                          {{"JOB", "NRDETAILS"}}, {{"JOB", "NRDETAILSWR"}, {"FOLSEL", "4,1"}}})
    EXPECT_TRUE(refused(s.page(guest, f))) << f[0].second;
  EXPECT_FALSE(file_exists(s.data + "1/unread.dat"));
  EXPECT_EQ(s.readers(1, 4), Names{"Admin"});

  std::string p = s.page(taro, {{"JOB", "NRDETAILS"}});
  // Not below the closed directory, not the closed board, not what he read.
  EXPECT_EQ(joined(p, "<B>(\\[\\d\\][^<]*)</B><BR>"), "[1]Board [4]Other &lt;b&gt;");
  EXPECT_EQ(s.ticks(taro), "1,1 1,3 4,1");
  EXPECT_FALSE(has(p, " checked "));
  EXPECT_TRUE(has(s.page(taro, {{"JOB", "NRDETAILS"}, {"CHK_ALL", "1"}}), "VALUE=\"1,1\" checked >"));
  s.page(taro, {{"JOB", "SETNOREAD_WR"}, {"BOARD_IN", "x"}, {"BOARDLIST", "4"}});
  EXPECT_EQ(s.ticks(taro), "1,1 1,3");

  // Ticks mark read; forged pairs mark and create nothing.
  Fields ticked = {{"JOB", "NRDETAILSWR"}};
  for (const char* v : {"1,3", "5,1", "1,9", "7,1", "x", "1,1"}) ticked.push_back({"FOLSEL", v});
  EXPECT_EQ(s.ticks(taro, ticked), "");
  EXPECT_EQ(s.readers(3), (Names{"Admin", "Taro"}));
  EXPECT_EQ(s.readers(1), (Names{"Admin", "Taro"}));
  EXPECT_EQ(s.readers(1, 5), Names{"Admin"});
  EXPECT_FALSE(file_exists(s.data + "1/r9.dat") || file_exists(s.data + "7"));
}

// Order 1 follows the index, 2 and 3 the numbers, skipping one removed; a
// corrupt record with the highest number is listed at once like any other.
TEST(UnreadCgi, DisplayOrders) {
  UnreadSite s;
  s.post(1, 0, "Four");
  ASSERT_EQ(DeleteINDEX_DATA(1, 3), 0);
  append_file((s.data + "1/index.dat").c_str(), bytes_of(INDEX_DATA{.FOLDER_NO = 1, .MSG_NO = INT32_MAX, .THREAD_NO = INT32_MAX}));
  for (auto [who, order] : {std::pair{"Taro", "1,1 1,4 1,2147483647 4,1"}, {"Numbers", "1,1 1,2 1,4 1,2147483647 4,1"},
                            {"Newest", "1,2147483647 1,4 1,2 1,1 4,1"}, {"NoOrder", ""}})
    EXPECT_EQ(s.ticks(s.key(who)), order) << who;
}

// Board 7 as an older version left it: messages 1 to `count`, each record
// (and any file of it) made by `message`.
void hand_board(BoardSite& s, int32_t count, const std::function<INDEX_DATA(int32_t)>& message) {
  s.folder(7, KIND_BOARD, 0, "Hand");
  mkdir((s.data + "7").c_str(), 0700);
  std::string idx;
  for (int32_t n = 1; n <= count; n++) {
    INDEX_DATA r = message(n);
    set_field(r.USER_ID, "Admin");
    idx += bytes_of(r);
  }
  write_file_bytes(s.data + "7/index.dat", idx);
}

// A large board's unread list goes through the derived thread copy; a copy
// stale, missing or wrong but stamped current never changes the page.
TEST(UnreadCgi, LargeBoardThroughTheDerivedThreadMap) {
  BoardSite s;
  // 450 messages in threads of three; Taro has read all but three.
  hand_board(s, 450, [&](int32_t n) {
    READ_POINT p{n, {}, 0};
    set_field(p.USER_ID, "Taro");
    if (n != 2 && n != 200 && n != 449) write_file_bytes(s.data + "7/r" + std::to_string(n) + ".dat", bytes_of(p));
    return INDEX_DATA{.FOLDER_NO = 7, .MSG_NO = n, .THREAD_NO = (n - 1) / 3 * 3 + 1, .RES_DEPTH = (n - 1) % 3};
  });
  const std::string taro = s.key("Taro");
  // Tick boxes | every link to a message | the row marked in each thread.
  auto shown = [&] {
    std::string p = s.page(taro, {{"JOB", "NRDETAILS"}});
    return joined(p, "VALUE=\"(\\d+,\\d+)\"") + " | " + joined(p, "SEL_NO=(\\d+)") + " | " +
           joined(p, "NowDisp</TD><TD[^>]*>(?:&nbsp;)*<A [^>]*SEL_NO=(\\d+)");
  };
  const std::string first = shown();
  EXPECT_EQ(first, "7,2 7,200 7,449 | 2 1 2 3 200 199 200 201 449 448 449 450 | 2 200 449");
  const std::string copy = s.data + "7/threads.bin";
  ASSERT_TRUE(file_exists(copy));
  std::string wrong = read_file_bytes(copy);
  ASSERT_EQ(wrong.size(), 56u + 451 * 12);  // numbers 0 to 450
  // Message 2's thread said to lie elsewhere: the page finds it is not
  // there and reads the index whole.
  const uint32_t elsewhere = 300;
  std::memcpy(wrong.data() + 56 + 2 * 12 + 4, &elsewhere, 4);
  write_file_bytes(copy, wrong);
  EXPECT_EQ(shown(), first);
  unlink(copy.c_str());
  EXPECT_EQ(shown(), first);
  s.post(7, 449, "New");
  EXPECT_EQ(shown(), "7,2 7,200 7,449 7,451 | 2 1 2 3 200 199 200 201 449 448 449 450 451 451 448 449 450 "
                     "451 | 2 200 449 451");
}

// Bodies beyond the read-ahead bound are read as they are shown.
TEST(UnreadCgi, BodiesBeyondTheReadAheadAreReadWhenShown) {
  BoardSite s;
  hand_board(s, 12, [&](int32_t n) {
    write_file_bytes(s.data + "7/x" + std::to_string(n) + ".dat",
                     "Body " + std::to_string(n) + " " + std::string(CONTENTS_MAX, 'b'));
    return INDEX_DATA{.FOLDER_NO = 7, .MSG_NO = n, .THREAD_NO = n};
  });
  const std::string p = s.page(s.key("Taro"), {{"JOB", "NRDETAILS"}});
  EXPECT_EQ(joined(p, "Body (\\d+) b"), "1 2 3 4 5 6 7 8 9 10 11 12");
}

// A number the index holds twice (a board an older version left so) is
// shown as its first record gives it.
TEST(UnreadCgi, ANumberTwiceShowsItsFirstRecord) {
  BoardSite s;
  hand_board(s, 3, [&](int32_t n) {
    INDEX_DATA r{.FOLDER_NO = 7, .MSG_NO = n, .THREAD_NO = 1, .RES_DEPTH = n > 1 ? 1 : 0};
    set_field(r.WRITE_TITLE, "Title " + std::to_string(n));
    return r;
  });
  INDEX_DATA again{.FOLDER_NO = 7, .MSG_NO = 2, .THREAD_NO = 1, .RES_DEPTH = 1};
  set_field(again.WRITE_TITLE, "Later copy");
  append_file((s.data + "7/index.dat").c_str(), bytes_of(again));
  const std::string p = s.page(s.key("Numbers"), {{"JOB", "NRDETAILS"}});
  // Its heading; the thread tables list every record of the thread.
  EXPECT_EQ(joined(p, "SEL_NO=2&USER_DISP_DEF=\\d\">([^<]*)</A></TD>\n"), "Re:^1:Title 2");
}

}  // namespace
