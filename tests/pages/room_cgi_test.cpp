// The board's message list through the program: paging in the three
// orders, removed messages, thread indentation, deleted messages, authors,
// new-message marks, the buttons each right gives, and the page itself.
#include <cstdlib>
#include <string>

#include "app/globals.h"
#include "capture.h"
#include "cgi/cgilib.h"
#include "pages/room.h"
#include "board_site.h"
#include "settings/strdef.h"

namespace {

// Notes (3): anyone reads, level 1 writes. Closed (7): level 50 reads.
struct RoomSite : BoardSite {
  RoomSite() {
    user("Admin", 100, 1);
    user("Taro", 1, 1, "Taro Yamada");
    user("Guest", 1, 2);
    user("Reader", 0, 1);
    user("Popup", 1, 1, "", 1, 2);
    user("NoOrder", 1, 1, "", 0);
    user("Newest", 1, 1, "", 3);
    user("Bad", 1, 1, "<B>Bad</B>");
    folder(3, KIND_BOARD, 0, "Notes", 0, 1);
    folder(7, KIND_BOARD, 0, "Closed", 50, 50);
  }
  std::string room(const std::string& k, Fields f = {}) const {
    f.insert(f.begin(), {{"JOB", "ROOM"}, {"FOLDER_NO", "3"}});
    return page(k, f);
  }
};

// The message numbers of the rows, in page order.
std::string numbers(const std::string& page) {
  std::string s;
  for (const std::string& n : all_matches(page, "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>(\\d+)</TD>"))
    s += (s.empty() ? "" : " ") + n;
  return s;
}

std::string range(int from, int to) {
  std::string s;
  for (int i = from; from <= to ? i <= to : i >= to; from <= to ? i++ : i--)
    s += (s.empty() ? "" : " ") + std::to_string(i);
  return s;
}

std::string shown_page(const std::string& page) {
  auto m = all_matches(page, " Page\\[(\\d+/\\d+)\\]<BR>");
  return m.empty() ? "" : m[0];
}

TEST(RoomCgi, FortyOneMessagesPageByTwenty) {
  RoomSite s;
  for (int i = 1; i <= 41; i++) s.post(3, 0, "m" + std::to_string(i));
  std::string k = s.key("Taro");

  // The newest page comes first, in every order.
  std::string p = s.room(k);
  EXPECT_EQ(shown_page(p), "3/3");
  EXPECT_EQ(numbers(p), "41");
  EXPECT_EQ(numbers(s.room(k, {{"USER_DISP_DEF", "2"}})), "41");
  EXPECT_EQ(numbers(s.room(k, {{"DISP_PAGE", "1"}})), range(1, 20));
  EXPECT_EQ(numbers(s.room(k, {{"DISP_PAGE", "2"}, {"USER_DISP_DEF", "3"}})), range(40, 21));

  // On the last page forward does nothing and its controls only alert.
  p = s.room(k, {{"DISP_PAGE", "3"}, {"MOVE_FF", "S261"}});
  EXPECT_EQ(shown_page(p), "3/3");
  EXPECT_EQ(all_matches(p, "(<INPUT TYPE=\"button\" NAME=\"MOVE_FF\" VALUE=\"S261\" "
                           "onClick=\"alert\\('S262'\\)\">)")
                .size(),
            2u);
  EXPECT_EQ(all_matches(p, "(<INPUT TYPE=\"submit\" NAME=\"MOVE_REW\" VALUE=\"S259\">)").size(), 2u);
  // Back from the last page; the selector names that page first, then all.
  p = s.room(k, {{"DISP_PAGE", "3"}, {"MOVE_REW", "S259"}});
  EXPECT_EQ(shown_page(p), "2/3");
  EXPECT_EQ(numbers(p), range(21, 40));
  EXPECT_EQ(all_matches(p, "<OPTION VALUE=\"bbs.cgi\\?SKEY=" + k +
                               "&JOB=ROOM&FOLDER_NO=3&DISP_PAGE=(\\d+)&USER_DISP_DEF=1\">\\d+ Page"),
            (std::vector<std::string>{"2", "3", "2", "1"}));
  EXPECT_TRUE(has(p, "<INPUT TYPE=\"hidden\" NAME=\"DISP_PAGE\" VALUE=\"2\">"));
  // On page 1 back does nothing.
  p = s.room(k, {{"DISP_PAGE", "1"}, {"MOVE_REW", "S259"}});
  EXPECT_EQ(shown_page(p), "1/3");
  EXPECT_TRUE(has(p, "<INPUT TYPE=\"button\" NAME=\"MOVE_REW\" VALUE=\"S259\" "
                     "onClick=\"alert('S260')\">"));
  EXPECT_EQ(shown_page(s.room(k, {{"DISP_PAGE", "1"}, {"MOVE_FF", "S261"}})), "2/3");

  // A page beyond the last shows no rows in any order.
  for (const char* order : {"1", "2", "3"}) {
    for (const char* page : {"4", "2147483647"}) {
      p = s.room(k, {{"DISP_PAGE", page}, {"USER_DISP_DEF", order}});
      EXPECT_TRUE(has(p, "</TABLE>")) << order << " " << page;
      EXPECT_EQ(numbers(p), "") << order << " " << page;
    }
  }
}

TEST(RoomCgi, OrderThreeShowsEachPageDescending) {
  RoomSite s;
  for (int i = 1; i <= 25; i++) s.post(3, 0, "m");
  std::string k = s.key("Newest");  // display order 3 by default
  EXPECT_EQ(numbers(s.room(k)), range(25, 21));
  EXPECT_EQ(numbers(s.room(k, {{"DISP_PAGE", "1"}})), range(20, 1));
  // Empty board: one page, both controls alert.
  RoomSite empty;
  std::string p = empty.room(empty.key("Taro"));
  EXPECT_EQ(shown_page(p), "1/1");
  EXPECT_EQ(all_matches(p, "(TYPE=\"button\" NAME=\"MOVE_)").size(), 4u);
}

TEST(RoomCgi, RemovedNumbersArePassedOver) {
  RoomSite s;
  for (int i = 1; i <= 30; i++) s.post(3, 0, "m");
  std::vector<int> left;
  for (int i = 1; i <= 30; i++) {
    if (i == 3 || i == 7 || i == 8 || i == 15 || i == 30)
      ASSERT_EQ(DeleteINDEX_DATA(3, i), 0);
    else
      left.push_back(i);
  }
  auto join = [&](size_t from, size_t to, bool down) {
    std::string r;
    for (size_t i = 0; i < to - from; i++)
      r += (r.empty() ? "" : " ") + std::to_string(left[down ? to - 1 - i : from + i]);
    return r;
  };
  std::string k = s.key("Taro");
  for (const char* order : {"1", "2"}) {
    EXPECT_EQ(numbers(s.room(k, {{"DISP_PAGE", "1"}, {"USER_DISP_DEF", order}})), join(0, 20, false));
    EXPECT_EQ(numbers(s.room(k, {{"USER_DISP_DEF", order}})), join(20, 25, false));
  }
  EXPECT_EQ(numbers(s.room(k, {{"DISP_PAGE", "1"}, {"USER_DISP_DEF", "3"}})), join(0, 20, true));
  EXPECT_EQ(numbers(s.room(k, {{"USER_DISP_DEF", "3"}})), join(20, 25, true));
}

TEST(RoomCgi, ThreadsIndentDeletedMessagesAndAuthors) {
  RoomSite s;
  s.post(3, 0, "First", "Taro");          // 1
  s.post(3, 0, "<I>Other</I>", "Gone");   // 2, author no longer exists
  s.post(3, 1, "Reply", "Taro");          // 3, depth 1
  s.post(3, 3, "Deep", "Bad");            // 4, depth 2
  ASSERT_EQ(ReadINDEX_DATA(3, 3, 1), 0);  // 3 deleted, kept for its reply
  sINDEX_DATA.DEL_FLG = 1;
  ASSERT_EQ(ReWriteINDEX_DATA(), 0);
  std::string k = s.key("Taro");
  const std::string link = "<A HREF=\"bbs.cgi?SKEY=" + k + "&JOB=DETAILS&FOLDER_NO=3&SEL_NO=";

  std::string p = s.room(k);
  EXPECT_EQ(numbers(p), "1 3 4 2");
  EXPECT_TRUE(has(p, "<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT>&nbsp;&nbsp;&nbsp;&nbsp;" + link +
                         "4&USER_DISP_DEF=1\">Re:^2:Deep</A></TD>\n"
                         "<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT>&lt;B&gt;Bad&lt;/B&gt;</TD>\n"))
      << p;
  EXPECT_TRUE(has(p, "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>3</TD>\n"
                     "<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT>&nbsp;&nbsp;" + link +
                         "3&USER_DISP_DEF=1\">Re:^1:--Delete--</A></TD>\n"
                         "<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT>Taro Yamada</TD>\n"
                         "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>2024/05/06 07:08</TD>\n"))
      << p;
  // Titles are shown as stored; a vanished author by the stored ID.
  EXPECT_TRUE(has(p, link + "2&USER_DISP_DEF=1\"><I>Other</I></A></TD>\n"
                         "<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT>Gone</TD>\n"));

  // Orders by number keep the depth mark but not the indentation.
  p = s.room(k, {{"USER_DISP_DEF", "2"}});
  EXPECT_EQ(numbers(p), "1 2 3 4");
  EXPECT_TRUE(has(p, "ALIGN=LEFT>" + link + "4&USER_DISP_DEF=2\">Re:^2:Deep</A>")) << p;
  EXPECT_EQ(numbers(s.room(k, {{"USER_DISP_DEF", "3"}})), "4 3 2 1");

  // With DATETIME 2 only the date is shown.
  s.write_settings("DATETIME,2,\n");
  EXPECT_TRUE(has(s.room(k), "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>2024/05/06</TD>\n</TR>\n"));
}

TEST(RoomCgi, DisplayOrderOutsideOneToThreeIsThreadOrder) {
  RoomSite s;
  s.post(3, 0, "a");
  s.post(3, 0, "b");
  s.post(3, 1, "c");  // 3 stands between 1 and 2
  std::string k = s.key("NoOrder");
  for (const Fields& f : {Fields{}, Fields{{"USER_DISP_DEF", "7"}}, Fields{{"USER_DISP_DEF", "-2"}}}) {
    std::string p = s.room(k, f);
    EXPECT_EQ(numbers(p), "1 3 2");
    EXPECT_TRUE(has(p, "&SEL_NO=3&USER_DISP_DEF=1\">Re:^1:c"));
    EXPECT_FALSE(has(p, "USER_DISP_DEF\" VALUE=\"7\"")) << p;
  }
}

TEST(RoomCgi, NewMarksAndMarkAllReadAreForMembers) {
  RoomSite s;
  s.post(3, 0, "one");
  s.post(3, 0, "two");
  s.mark_read(3, 1, "Taro");
  const std::string mark = "<IMG SRC=\"http://test/pic/new.gif\" ALT=\"\x96\xA2\x93\xC7\"><BR></TD>";

  std::string p = s.room(s.key("Taro"));
  EXPECT_EQ(all_matches(p, "(new\\.gif)").size(), 1u);
  EXPECT_TRUE(has(p, "<TR>\n<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER><BR></TD>\n"
                     "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER></TD>\n"
                     "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>1</TD>\n"));
  EXPECT_TRUE(has(p, "<TR>\n<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>" + mark +
                         "\n<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER></TD>\n"
                         "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>2</TD>\n"))
      << p;
  EXPECT_TRUE(has(p, "VALUE=\"BORDALLFLG\""));

  p = s.room(s.key("Guest"));
  EXPECT_EQ(numbers(p), "1 2");
  EXPECT_FALSE(has(p, "new.gif"));
  EXPECT_FALSE(has(p, "BORDALLFLG"));
}

TEST(RoomCgi, ButtonsFollowTheUsersRight) {
  RoomSite s;
  s.post(3, 0, "one");
  auto forms = [](const std::string& p) {
    std::string jobs;
    for (const std::string& j :
         all_matches(p, "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"([A-Z]+)\">"))
      jobs += j + " ";
    return jobs;
  };
  EXPECT_EQ(forms(s.room(s.key("Reader"))), "BORDALLFLG ROOM ROOM ROOM ROOM ROOM ");
  std::string p = s.room(s.key("Taro"));
  EXPECT_EQ(forms(p), "BORDALLFLG BORDWRITE ROOM BORDWRITE ROOM ROOM ROOM ROOM ");
  EXPECT_EQ(all_matches(p, "(<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"bbs.cgi\" "
                           "METHOD=POST>\n<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"\\d+\">\n"
                           "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"BORDWRITE\">)")
                .size(),
            2u);
  // A member who writes in a window of his own gets the posting page there.
  p = s.room(s.key("Popup"));
  EXPECT_EQ(all_matches(p, "(METHOD=POST TARGET=\"WBORDWRITE\">\n<INPUT TYPE=\"hidden\" "
                           "NAME=\"SKEY\" VALUE=\"\\d+\">\n<INPUT TYPE=\"hidden\" NAME=\"JOB\" "
                           "VALUE=\"BORDWRITE\">)")
                .size(),
            2u);
  EXPECT_FALSE(has(p, "window.open"));
  p = s.room(s.key("Admin"));
  EXPECT_EQ(forms(p),
            "BORDCONFIG BORDACCESS BORDALLFLG BORDWRITE ROOM BORDWRITE ROOM ROOM ROOM ROOM ");
  EXPECT_TRUE(has(p, "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"BORDACCESS\">\n"
                     "<INPUT TYPE=\"hidden\" NAME=\"FROM\" VALUE=\"ROOM\">\n"
                     "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"3\">\n"
                     "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S191\">\n"));
}

TEST(RoomCgi, NoReadRightGivesTheRefusalOnly) {
  RoomSite s;
  s.post(7, 0, "secret");
  std::string k = s.key("Taro");
  EXPECT_EQ(s.page(k, {{"JOB", "ROOM"}, {"FOLDER_NO", "7"}}),
            "Content-type: text/html\n\n<HTML>\n<HEAD>\nS1</HEAD>\n<!--S2-->\n"
            "\t\t<BODY BACKGROUND=\"http://test/pic/back.gif\" BGPROPERTIES=FIXED >\n"
            "S3\n<FORM>\n<INPUT TYPE=\"button\" VALUE=\"S4\" onClick=\"history.back()\">\n"
            "</FORM>\n</BODY>\n</HTML>\n");
  // A folder that does not exist is refused the same way.
  EXPECT_TRUE(has(s.page(k, {{"JOB", "ROOM"}, {"FOLDER_NO", "99"}}), "S3\n<FORM>"));
}

TEST(RoomCgi, BoardPageByteForByte) {
  RoomSite s;
  std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
  ASSERT_EQ(ReadB_TITLE2(3), 0);
  set_field(sB_TITLE2.BACKPIC, "wall.gif");
  set_field(sB_TITLE2.TITLEPIC, "head.gif");
  set_field(sB_TITLE2.INFO, "Welcome\rto <B>Notes</B>");
  set_field(sB_TITLE2.FONTCOLOR, "112233");
  ASSERT_EQ(ReWriteB_TITLE2(3), 0);
  s.post(3, 0, "Hello", "Taro");
  std::string k = s.key("Taro");
  const std::string skey = "<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"" + k + "\">\n";
  auto fields = [](const char* job, const char* order = "1") {
    return std::string("<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"") + job + "\">\n" +
           "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"3\">\n"
           "<INPUT TYPE=\"hidden\" NAME=\"DISP_PAGE\" VALUE=\"1\">\n"
           "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"" + order + "\">\n";
  };
  const std::string mp = "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"bbs.cgi\" METHOD=POST>\n";
  const std::string write = "<TD>" + mp + skey + fields("BORDWRITE") +
                            "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S258\">\n</FORM></TD>\n";
  const std::string moves =
      "<INPUT TYPE=\"button\" NAME=\"MOVE_REW\" VALUE=\"S259\" onClick=\"alert('S260')\">\n"
      "<INPUT TYPE=\"button\" NAME=\"MOVE_FF\" VALUE=\"S261\" onClick=\"alert('S262')\">\n";
  const std::string option = "<OPTION VALUE=\"bbs.cgi?SKEY=" + k +
                             "&JOB=ROOM&FOLDER_NO=3&DISP_PAGE=1&USER_DISP_DEF=1\">1 Page\n";
  std::string order_forms;
  for (const auto& [o, label] : {std::pair{"1", "S175"}, {"2", "S176"}, {"3", "S177"}})
    order_forms += "<TD>" + mp + skey + fields("ROOM", o) +
                   "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"" + label + "\">\n</FORM></TD>\n";

  EXPECT_EQ(
      s.room(k, {{"FAST_FLG", "1"}}),
      "Content-type: text/html\n\n<HTML>\n<HEAD>\nS1</HEAD>\n<!--S2-->\n"
      "<SCRIPT Language=\"JavaScript\">\n<!--\nfunction f_Pjamp(){\n"
      "jidx=document.Pjamp.PPage.selectedIndex;\n"
      "jloc=document.Pjamp.PPage.options[jidx].value;\n"
      "location.href=jloc;\n}\n// -->\n</SCRIPT>\n"
      "\t\t<BODY BACKGROUND=\"http://test/pic/3/wall.gif\" BGPROPERTIES=FIXED >\n"
      "<TABLE><TR><TD BGCOLOR=\"#FFFFFF\"><FONT SIZE=\"5\"><B>[3]Notes</B></FONT></TD></TR>"
      "</TABLE>\n"
      "<TABLE><TR>\n<TD>" + mp + skey + fields("BORDALLFLG") +
          "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S256\" onClick=\"return confirm('S257')\">\n"
          "</FORM></TD>\n</TR></TABLE>\n"
          "<IMG SRC=\"http://test/pic/3/head.gif\"><BR>\n"
          "<FONT COLOR=\"#112233\">Welcome<BR>\nto <B>Notes</B></FONT>\n"
          "<HR>\n<TABLE><TR>\n" + write +
          "<TD><FORM NAME=\"Pjamp\" ACTION=\"bbs.cgi\" METHOD=POST >\n" + skey + fields("ROOM") +
          moves + "<SELECT NAME=\"PPage\" onChange=\"f_Pjamp()\">\n" + option + option +
          "</SELECT>\n</FORM></TD>\n</TR></TABLE>\n"
          "<P>\n<FONT COLOR=\"#112233\"> Page[1/1]<BR></FONT>\n"
          "<TABLE BORDER>\n<TR>\n"
          "<TD BGCOLOR=\"#E0FFFF\" ALIGN=CENTER>S263</TD>\n"
          "<TD BGCOLOR=\"#E0FFFF\" ALIGN=CENTER>S264</TD>\n"
          "<TD BGCOLOR=\"#E0FFFF\" ALIGN=CENTER>SEL</TD>\n"
          "<TD BGCOLOR=\"#E0FFFF\" ALIGN=CENTER>S265</TD>\n"
          "<TD BGCOLOR=\"#E0FFFF\" ALIGN=CENTER>S266</TD>\n"
          "<TD BGCOLOR=\"#E0FFFF\" ALIGN=CENTER>S267</TD>\n"
          "</TR>\n"
          "<TR>\n"
          "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER><BR></TD>\n"
          "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER></TD>\n"
          "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>1</TD>\n"
          "<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT><A HREF=\"bbs.cgi?SKEY=" + k +
          "&JOB=DETAILS&FOLDER_NO=3&SEL_NO=1&USER_DISP_DEF=1\">Hello</A></TD>\n"
          "<TD BGCOLOR=\"#FFFFFF\" ALIGN=LEFT>Taro Yamada</TD>\n"
          "<TD BGCOLOR=\"#FFFFFF\" ALIGN=CENTER>2024/05/06 07:08</TD>\n"
          "</TR>\n"
          "</TABLE>\n<P>\n"
          "<TABLE><TR>\n" + write + "<TD><FORM ACTION=\"bbs.cgi\" METHOD=POST >\n" + skey +
          fields("ROOM") + moves + "</FORM></TD>\n</TR></TABLE>\n"
          "<TABLE><TR>\n" + order_forms + "</TR></TABLE>\n"
          "</BODY>\n</HTML>\n");

  // Without FAST_FLG no title picture and no information text.
  std::string p = s.room(k);
  EXPECT_FALSE(has(p, "head.gif"));
  EXPECT_FALSE(has(p, "Welcome"));
}

// After a message was stored from the separate posting window, the list
// makes that window close itself.
TEST(RoomInProcess, ReturnFromPostingClosesThePostingWindow) {
  BoardSite s;
  s.folder(3, KIND_BOARD, 0, "Notes");
  setenv("REQUEST_METHOD", "GET", 1);
  setenv("QUERY_STRING", "JOB=BORDWRITEWR&FOLDER_NO=3", 1);
  ASSERT_GE(cgi_get(), 0);
  strcpy(JOB_EXE, "bbs.cgi");
  std::memset(&G_MST_USER, 0, sizeof G_MST_USER);
  set_field(G_MST_USER.USER_ID, "Admin");
  G_MST_USER.USER_LEVEL = 100;
  G_MST_USER.MODE = 1;
  for (int mode : {1, 2}) {
    G_MST_USER.WRITE_MODE = mode;
    for (const char* job : {"BORDWRITEWR", "ROOM"}) {
      strcpy(g_JOB, job);
      std::string out = capture_stdout(j_ROOM);
      bool closes = has(out, "}\nwindow.open(\"bbs.cgi?JOB=BORDWRITEFIN\",\"WBORDWRITE\")\n// -->\n");
      EXPECT_EQ(closes, mode == 2 && std::string(job) == "BORDWRITEWR") << mode << job;
    }
  }
  cgi_free();
  unsetenv("QUERY_STRING");
  unsetenv("REQUEST_METHOD");
}

}  // namespace
