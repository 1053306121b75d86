// The board's message list: paging in each order, threads, deleted messages, buttons.
#include "board_site.h"

namespace {

// Notes (3): anyone reads, level 1 writes. Closed (7): level 50 reads.
struct RoomSite : BoardSite {
  RoomSite() {
    folder(3, KIND_BOARD, 0, "Notes", 0, 1);
    folder(7, KIND_BOARD, 0, "Closed", 50, 50);
  }
  std::string room(const std::string& k, Fields f = {}) const {
    f.insert(f.begin(), {{"JOB", "ROOM"}, {"FOLDER_NO", "3"}});
    return page(k, f);
  }
};

std::string numbers(const std::string& page) {
  return joined(page, "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>(\\d+)</TD>");
}

// 46 messages, five of them removed: pages of 20 pass over the numbers in
// every order; order 3 (Newest's own) lists each page newest first.
TEST(RoomCgi, PagesOfTwentyInEveryOrder) {
  RoomSite s;
  std::string k = s.key("Newest");
  EXPECT_TRUE(has(s.room(k), " Page[1/1]<BR>"));
  for (int i = 1; i <= 40; i++) s.post(3, 0, "m");
  EXPECT_TRUE(has(s.room(k), " Page[2/2]<BR>"));
  for (int i = 41; i <= 46; i++) s.post(3, 0, "m");
  for (int gone : {3, 7, 8, 15, 46}) ASSERT_EQ(DeleteINDEX_DATA(3, gone), 0);
  const std::string first = "1 2 4 5 6 9 10 11 12 13 14 16 17 18 19 20 21 22 23 24";
  // The last page comes first; back and forward stop at the ends.
  const std::tuple<Fields, std::string, std::string> cases[] = {
      {{}, "3/3", "45"},
      {{{"DISP_PAGE", "1"}, {"USER_DISP_DEF", "1"}}, "1/3", first},
      {{{"DISP_PAGE", "1"}}, "1/3", "24 23 22 21 20 19 18 17 16 14 13 12 11 10 9 6 5 4 2 1"},
      {{{"DISP_PAGE", "2"}}, "2/3", "44 43 42 41 40 39 38 37 36 35 34 33 32 31 30 29 28 27 26 25"},
      {{{"DISP_PAGE", "3"}, {"MOVE_FF", "S261"}, {"USER_DISP_DEF", "1"}}, "3/3", "45"},
      {{{"DISP_PAGE", "1"}, {"MOVE_REW", "S259"}, {"USER_DISP_DEF", "2"}}, "1/3", first}};
  for (const auto& [f, page, rows] : cases) {
    std::string p = s.room(k, f);
    EXPECT_TRUE(has(p, " Page[" + page + "]<BR>")) << page;
    EXPECT_EQ(numbers(p), rows) << page;
  }
  EXPECT_EQ(all_matches(s.room(k, {{"DISP_PAGE", "2"}}), "&DISP_PAGE=(\\d+)&USER_DISP_DEF=3\">\\d+ Page"),
            (std::vector<std::string>{"2", "3", "2", "1"}));
  for (const char* order : {"1", "2", "3"})
    EXPECT_EQ(numbers(s.room(k, {{"DISP_PAGE", "2147483647"}, {"USER_DISP_DEF", order}})), "");
}

TEST(RoomCgi, ThreadsDeletedMessagesAuthorsAndButtons) {
  RoomSite s;
  s.post(3, 0, "First", "Taro");          // 1
  s.post(3, 0, "<I>Other</I>", "Gone");   // 2, author no longer exists
  s.post(3, 1, "Reply", "Bad");           // 3, depth 1
  s.post(3, 3, "Deep", "Taro");           // 4, depth 2
  s.mark_deleted(3, 3);
  std::string k = s.key("Taro");
  const std::string cell = "<TD BGCOLOR=\"#FFFFFF\" ALIGN=", link = "<A HREF=\"bbs.cgi?SKEY=" + k +
                           "&JOB=DETAILS&FOLDER_NO=3&SEL_NO=";

  // Titles show as stored, user names as text, a vanished author by ID.
  std::string p = s.room(k);
  EXPECT_EQ(numbers(p), "1 3 4 2");
  for (const std::string& piece : std::vector<std::string>{
           "LEFT>&nbsp;&nbsp;" + link + "3&USER_DISP_DEF=1\">Re:^1:--Delete--</A></TD>\n" + cell +
               "LEFT>&lt;B&gt;Bad&lt;/B&gt;</TD>\n" + cell + "CENTER>2024/05/06 07:08</TD>\n",
           cell + "LEFT>&nbsp;&nbsp;&nbsp;&nbsp;" + link + "4&USER_DISP_DEF=1\">Re:^2:Deep</A></TD>\n",
           link + "2&USER_DISP_DEF=1\"><I>Other</I></A></TD>\n" + cell + "LEFT>Gone</TD>\n"})
    EXPECT_TRUE(has(p, piece)) << piece << "\n" << p;
  EXPECT_EQ(all_matches(p, "(new\\.gif)").size(), 2u);  // Taro's own are read
  EXPECT_FALSE(has(s.room(s.key("Guest")), "new.gif"));

  p = s.room(k, {{"USER_DISP_DEF", "2"}});
  EXPECT_EQ(numbers(p), "1 2 3 4");
  EXPECT_TRUE(has(p, "&SEL_NO=4&USER_DISP_DEF=2\">Re:^2:Deep</A>") && !has(p, "&nbsp;")) << p;
  // An order outside 1-3 is thread order.
  k = s.key("NoOrder");
  for (const Fields& f : {Fields{}, Fields{{"USER_DISP_DEF", "7"}}, Fields{{"USER_DISP_DEF", "-2"}}})
    EXPECT_EQ(numbers(s.room(k, f)), "1 3 4 2");

  s.post(7, 0, "secret");
  for (const auto& [who, jobs] :
       {std::pair{"Guest", "BORDWRITE ROOM BORDWRITE ROOM ROOM ROOM ROOM"},
        {"Reader", "BORDALLFLG ROOM ROOM ROOM ROOM ROOM"},
        {"Admin", "BORDCONFIG BORDACCESS BORDALLFLG BORDWRITE ROOM BORDWRITE ROOM ROOM ROOM ROOM"}})
    EXPECT_EQ(joined(s.room(s.key(who)), "NAME=\"JOB\" VALUE=\"([A-Z]+)\">"), jobs) << who;
  // Without read right, or for no folder at all, only the refusal.
  k = s.key("Taro");
  for (const char* folder : {"7", "99"}) {
    p = s.page(k, {{"JOB", "ROOM"}, {"FOLDER_NO", folder}});
    EXPECT_TRUE(refused(p) && !has(p, "secret") && !has(p, "<TABLE")) << p;
  }
}

}  // namespace
