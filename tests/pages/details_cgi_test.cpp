// Message details through the program: the page of a message byte for
// byte, read marks and the readers' list, the display of the three HTML
// modes, previous/next and the back button's page in each order, numbers
// without a message, the buttons each kind of user gets, deleting with and
// without followers and marking a board read; and the compact view.
#include <fstream>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "app/globals.h"
#include "capture.h"
#include "cgi/cgilib.h"
#include "pages/details.h"
#include "posting_site.h"
#include "settings/strdef.h"

namespace {

std::string normalized(std::string page, const std::string& key) {
  for (size_t at; (at = page.find(key)) != std::string::npos;) page.replace(at, key.size(), "KEY");
  return std::regex_replace(page, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d)"), "DATE");
}

std::string details(const PostingSite& s, const std::string& k, int sel, int order = -1,
                    int folder = 1) {
  Fields f = {{"JOB", "DETAILS"}, {"FOLDER_NO", std::to_string(folder)},
              {"SEL_NO", std::to_string(sel)}};
  if (order >= 0) f.push_back({"USER_DISP_DEF", std::to_string(order)});
  return s.page(k, f);
}

// The previous and next message the page offers (0: none), and the page
// its back button opens.
struct Nav {
  int prev, next, page;
  bool operator==(const Nav&) const = default;
};
std::ostream& operator<<(std::ostream& o, const Nav& n) {
  return o << "{prev " << n.prev << ", next " << n.next << ", page " << n.page << "}";
}
Nav nav(const std::string& page) {
  auto target = [&](const std::string& label) {
    std::smatch m;
    std::regex re("NAME=\"SEL_NO\" VALUE=\"(\\d+)\">\n<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"" +
                  label + "\">");
    return std::regex_search(page, m, re) ? std::stoi(m[1]) : 0;
  };
  std::smatch m;
  std::regex back("NAME=\"JOB\" VALUE=\"ROOM\">\n.*\n<INPUT TYPE=\"hidden\" NAME=\"DISP_PAGE\" "
                  "VALUE=\"(\\d+)\">");
  int page_no = std::regex_search(page, m, back) ? std::stoi(m[1]) : -1;
  return {target("S301"), target("S303"), page_no};
}

TEST(DetailsCgi, PageOfAMessageByteForByte) {
  PostingSite s;
  std::ofstream(s.data + "user.mst", std::ios::app)
      << "Mail,Mail Name,1,mail@example.com,pw,0,1,1,1,,me.png,0,\n";
  s.configure(1, [](B_TITLE2& b) {
    b.ADD_MAX = 1;
    b.REWRITE_FLG = 2;
    set_field(b.FONTCOLOR, "336699");
  });
  std::string mail = s.key("Mail"), taro = s.key("Taro"), hanako = s.key("Hanako");
  s.send(mail,
         {{"WRITE_TITLE", "Hello <i>"}, {"READ_CHK", "2"},
          {"WRITE_DATA", "> quoted\r\nsee http://x.test/a,b\r\nend <TABLE>"}},
         {{"FILE1", "f.txt", "12345"}});
  s.send(hanako, {{"SEL_NO", "1"}, {"WRITE_TITLE", "Answer"}});

  const std::string form =
      "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"bbs.cgi\" METHOD=POST>\n"
      "<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"KEY\">\n";
  EXPECT_EQ(
      normalized(details(s, taro, 1), taro),
      std::string(kFrame) +
          "\t\t<BODY BACKGROUND=\"http://test/pic/back.gif\" BGPROPERTIES=FIXED >\n"
          "<TABLE><TR><TD BGCOLOR=\"#FFFFFF\"><FONT SIZE=\"5\"><B>[1]Board</B></FONT></TD></TR>"
          "</TABLE>\n<HR>\n"
          "<TABLE BORDER=0>\n"
          "<TR><TD BGCOLOR=\"#FFFFFF\">SEL:</TD><TD BGCOLOR=\"#FFFFFF\">1</TD></TR>\n"
          "<TR><TD BGCOLOR=\"#FFFFFF\">S279</TD><TD BGCOLOR=\"#FFFFFF\">Hello <i></TD>\n"
          "<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\" ROWSPAN=3>S282<BR>\n"
          "<FORM>\n<SELECT>\n<OPTION>2 S283\n<OPTION VALUE=\"0\">Mail Name\n"
          "<OPTION VALUE=\"0\">Taro Y\n</SELECT>\n</FORM>\n</TD>\n"
          "<TD BGCOLOR=\"#FFFFFF\" ROWSPAN=3><IMG SRC=\"http://test/pic/userpic/Mail/me.png\"></TD>\n"
          "</TR>\n"
          "<TR><TD BGCOLOR=\"#FFFFFF\">S280</TD><TD BGCOLOR=\"#FFFFFF\"><A "
          "HREF=\"mailto:mail@example.com?subject=Re:Hello &lt;i&gt;\">Mail Name  [Mail]</A>"
          "</TD></TR>\n"
          "<TR><TD BGCOLOR=\"#FFFFFF\">S281</TD><TD BGCOLOR=\"#FFFFFF\">DATE</TD></TR>\n"
          "</TABLE>\n<HR>\n"
          "<FONT COLOR=\"#336699\">\n"
          "<FONT COLOR=\"#0000FF\">> quoted<BR>\n"
          "</FONT>see <A HREF=\"http://x.test/a\">http://x.test/a</A>,b<BR>\n"
          "end &lt;TABLE>\n"
          "<HR>\n<P>\n"
          "S273 1:<A HREF=\"http://test/add/1/x1/1/f.txt\">f.txt (5 byte)</A><P>\n"
          "</FONT>\n"
          "<TABLE BORDER>\n<TR><TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\"><B>S297</B></TD>"
          "<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">S298</TD><TD BGCOLOR=\"#E0FFFF\" "
          "ALIGN=\"CENTER\">S299</TD><TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\">S300</TD></TR>\n"
          "<TR><TD BGCOLOR=\"#FFB6C1\">NowDisp</TD><TD BGCOLOR=\"#FFFFFF\"><A "
          "HREF=\"bbs.cgi?SKEY=KEY&JOB=DETAILS&FOLDER_NO=1&SEL_NO=1&USER_DISP_DEF=1\">Hello "
          "<i></A></TD><TD BGCOLOR=\"#FFFFFF\">Mail Name</TD><TD BGCOLOR=\"#FFFFFF\">DATE</TD>"
          "</TR>\n"
          "<TR><TD BGCOLOR=\"#FFFFFF\"></TD><TD BGCOLOR=\"#FFFFFF\">&nbsp;&nbsp;<A "
          "HREF=\"bbs.cgi?SKEY=KEY&JOB=DETAILS&FOLDER_NO=1&SEL_NO=2&USER_DISP_DEF=1\">"
          "Re:^1:Answer</A></TD><TD BGCOLOR=\"#FFFFFF\">Hanako S</TD><TD "
          "BGCOLOR=\"#FFFFFF\">DATE</TD></TR>\n"
          "</TABLE>\n"
          "<TABLE><TR>\n<TD>\n" +
          form +
          "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"ROOM\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"DISP_PAGE\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"submit\" VALUE=\"S4\">\n</FORM>\n</TD>\n<TD>\n" +
          form +
          "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"DETAILS\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"button\" VALUE=\"S301\" onClick=\"alert('S302')\">\n</FORM>\n</TD>\n"
          "<TD>\n" +
          form +
          "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"DETAILS\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"SEL_NO\" VALUE=\"2\">\n"
          "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S303\">\n</FORM>\n</TD>\n"
          "</TR></TABLE>\n"
          "<TABLE><TR>\n<TD>\n" +
          form +
          "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"BORDWRITE\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S270\">\n</FORM>\n</TD>\n<TD>\n" +
          form +
          "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"BORDWRITE\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"SEL_NO\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"1\">\n"
          "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S271\">\n</FORM>\n</TD>\n"
          "</TR></TABLE>\n"
          "</BODY>\n</HTML>\n");
}

TEST(DetailsCgi, OpeningMarksReadOnceAndListsReaders) {
  PostingSite s;
  int32_t m = s.post(1, 0, "Confirm", "Sysop");
  sINDEX_DATA = s.message(m);
  sINDEX_DATA.READ_CHK = 2;
  ASSERT_EQ(ReWriteINDEX_DATA(), 0);
  s.mark_read(1, m, "Ghost");  // a reader whose user ID was removed since
  std::string taro = s.key("Taro"), hanako = s.key("Hanako");

  details(s, taro, m);
  details(s, taro, m);
  std::string p = details(s, hanako, m);
  EXPECT_EQ(s.readers(m), (std::vector<std::string>{"Sysop", "Ghost", "Taro", "Hanako"}));
  EXPECT_TRUE(has(p, "<SELECT>\n<OPTION>4 S283\n<OPTION VALUE=\"0\">Sysop\n<OPTION "
                     "VALUE=\"0\">Ghost\n<OPTION VALUE=\"0\">Taro Y\n<OPTION VALUE=\"0\">Hanako "
                     "S\n</SELECT>"))
      << p;
  // The room list no longer shows the message as new to Taro.
  EXPECT_FALSE(has(s.page(taro, {{"JOB", "ROOM"}, {"FOLDER_NO", "1"}}), "new.gif"));

  // Without read confirmation no readers' list.
  int32_t plain = s.post(1, 0, "Plain", "Sysop");
  EXPECT_FALSE(has(details(s, taro, plain), "S282"));

  // Without read right: the refusal, and no mark.
  s.folder(2, KIND_BOARD, 0, "Closed", 5, 5);
  int32_t closed = s.post(2, 0, "Secret", "Sysop");
  p = details(s, taro, closed, -1, 2);
  EXPECT_TRUE(has(p, "S3\n<FORM>\n<INPUT TYPE=\"button\" VALUE=\"S4\" onClick=\"history.back()\">"));
  EXPECT_FALSE(has(p, "Secret"));
  EXPECT_EQ(s.readers(closed, 2), std::vector<std::string>{"Sysop"});
}

TEST(DetailsCgi, BodyShownByHtmlMode) {
  PostingSite s;
  std::string k = s.key("Taro");
  s.send(k, {{"HTML_MODE", "1"}, {"WRITE_DATA", "a\r\nb <TABLE> http://x.test/"}});
  s.send(k, {{"HTML_MODE", "2"}, {"WRITE_DATA", "<b>x</b>\r\n<TABLE BORDER=1><tr>"}});
  EXPECT_TRUE(has(details(s, k, 1), "<HR>\n<PRE>a\rb &lt;TABLE> http://x.test/</PRE>\n<HR>"));
  EXPECT_TRUE(has(details(s, k, 2), "<HR>\n<b>x</b>\r&lt;TABLE BORDER=1><tr>\n<HR>"));
}

TEST(DetailsCgi, PreviousNextAndPageFollowTheDisplayOrder) {
  PostingSite s;
  s.user("Numbers", 1, 1, "", 2);  // displays in number order by default
  s.post(1, 0, "A");     // 1
  s.post(1, 0, "B");     // 2
  s.post(1, 1, "C");     // 3, stored between 1 and 2
  std::string k = s.key("Taro"), n = s.key("Numbers");

  EXPECT_EQ(nav(details(s, k, 3, 1)), (Nav{1, 2, 1}));
  EXPECT_EQ(nav(details(s, k, 2, 1)), (Nav{3, 0, 1}));
  EXPECT_EQ(nav(details(s, k, 1, 1)), (Nav{0, 3, 1}));
  for (int order : {2, 3}) {
    EXPECT_EQ(nav(details(s, k, 1, order)), (Nav{0, 2, 1})) << order;
    EXPECT_EQ(nav(details(s, k, 2, order)), (Nav{1, 3, 1})) << order;
    EXPECT_EQ(nav(details(s, k, 3, order)), (Nav{2, 0, 1})) << order;
  }
  // No order in the request: the user's own, carried on in the links.
  std::string p = details(s, n, 2);
  EXPECT_EQ(nav(p), (Nav{1, 3, 1}));
  EXPECT_TRUE(has(p, "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"2\">"));
  EXPECT_TRUE(has(details(s, n, 1), "&SEL_NO=3&USER_DISP_DEF=2\">Re:^1:C</A>"));
  EXPECT_EQ(nav(details(s, k, 2)), (Nav{3, 0, 1}));

  // 44 more threads, five of them removed, and a late reply to 1 (number
  // 48) that stands third in the index: its page differs by order.
  for (int i = 4; i <= 47; i++) s.post(1, 0, "T" + std::to_string(i));
  for (int gone = 10; gone <= 14; gone++) ASSERT_EQ(DeleteINDEX_DATA(1, gone), 0);
  ASSERT_EQ(s.post(1, 1, "Late"), 48);
  EXPECT_EQ(nav(details(s, k, 48, 1)).page, 1);
  EXPECT_EQ(nav(details(s, k, 48, 2)).page, 3);  // the 43rd existing number
  EXPECT_EQ(nav(details(s, k, 25, 2)).page, 1);  // the 20th
  EXPECT_EQ(nav(details(s, k, 26, 3)).page, 2);
  EXPECT_EQ(nav(details(s, k, 15, 2)), (Nav{9, 16, 1}));
  EXPECT_EQ(nav(details(s, k, 47, 2)), (Nav{46, 48, 3}));
  EXPECT_EQ(nav(details(s, k, 48, 1)), (Nav{3, 2, 1}));
}

TEST(DetailsCgi, NumberWithoutMessageShowsAndStoresNothing) {
  PostingSite s;
  s.post(1, 0, "Existing title");
  std::string k = s.key("Taro");
  const std::string index = read_file_bytes(s.data + "1/index.dat");
  for (int sel : {0, 7, -1}) {
    std::string p = details(s, k, sel);
    EXPECT_TRUE(has(p, "S285<BR>\nS286<BR>\nS287<BR>\nS288<P>\n")) << sel;
    EXPECT_FALSE(has(p, "Existing title")) << sel;
    EXPECT_FALSE(has(p, "SEL:")) << sel;
    EXPECT_FALSE(has(p, "NAME=\"JOB\" VALUE=\"BORDWRITE\"")) << sel;
    EXPECT_TRUE(has(p, "NAME=\"DISP_PAGE\" VALUE=\"0\"")) << sel;
  }
  EXPECT_EQ(read_file_bytes(s.data + "1/index.dat"), index);
  EXPECT_FALSE(file_exists(s.data + "1/r7.dat"));
}

TEST(DetailsCgi, EditAndDeleteButtonsByKindOfUser) {
  PostingSite s;
  s.user("Window", 1, 1, "", 1, 2);  // writes in a separate window
  s.folder(2, KIND_BOARD, 0, "ReadOnly", 0, 5);
  s.configure(1, [](B_TITLE2& b) { b.REWRITE_FLG = 2; });
  int32_t taros = s.post(1, 0, "Taro's", "Taro");
  int32_t sysops = s.post(1, 0, "Sysop's", "Sysop");
  int32_t guests = s.post(1, 0, "Guest's", "Guest");
  int32_t windows = s.post(1, 0, "Window's", "Window");
  int32_t other = s.post(2, 0, "Elsewhere", "Sysop");
  const std::string edit = "VALUE=\"EDITMSG\"", del = "VALUE=\"DELMSG\"";
  const std::string reply = "NAME=\"SEL_NO\" VALUE=\"" + std::to_string(taros) + "\">";

  std::string taro = s.key("Taro");
  std::string p = details(s, taro, taros);
  EXPECT_TRUE(has(p, edit));
  EXPECT_TRUE(has(p, "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S289\" onClick=\"return "
                     "confirm('S290')\">"));
  p = details(s, s.key("Hanako"), taros);
  EXPECT_FALSE(has(p, edit));
  EXPECT_FALSE(has(p, del));
  EXPECT_TRUE(has(p, reply));
  // The system administrator deletes anything but edits only his own.
  std::string sysop = s.key("Sysop");
  p = details(s, sysop, taros);
  EXPECT_FALSE(has(p, edit));
  EXPECT_TRUE(has(p, del));
  EXPECT_TRUE(has(details(s, sysop, sysops), edit));
  // A guest account neither edits nor deletes, not even its own.
  p = details(s, s.key("Guest"), guests);
  EXPECT_FALSE(has(p, edit));
  EXPECT_FALSE(has(p, del));
  EXPECT_TRUE(has(p, "VALUE=\"BORDWRITE\""));
  // Without write right only navigation.
  p = details(s, taro, other, -1, 2);
  EXPECT_TRUE(has(p, "VALUE=\"S4\""));
  EXPECT_FALSE(has(p, "VALUE=\"BORDWRITE\""));
  // Editing own messages only where the board allows it.
  s.configure(1, [](B_TITLE2& b) { b.REWRITE_FLG = 1; });
  p = details(s, taro, taros);
  EXPECT_FALSE(has(p, edit));
  EXPECT_TRUE(has(p, del));
  // The posting forms of a separate-window writer open there.
  p = details(s, s.key("Window"), windows);
  EXPECT_EQ(all_matches(p, "(METHOD=POST TARGET=\"WBORDWRITE\">)").size(), 3u) << p;
}

// 1 (Taro) > 2 (Hanako) > 3 (Taro); 4 (Taro, with an attachment).
struct DeleteSite : PostingSite {
  std::string taro, hanako;
  DeleteSite() {
    configure(1, [](B_TITLE2& b) { b.ADD_MAX = 1; });
    taro = key("Taro");
    hanako = key("Hanako");
    send(taro, {{"WRITE_TITLE", "One"}});
    send(hanako, {{"SEL_NO", "1"}, {"WRITE_TITLE", "Two"}});
    send(taro, {{"SEL_NO", "2"}, {"WRITE_TITLE", "Three"}});
    send(taro, {{"WRITE_TITLE", "Four"}}, {{"FILE1", "a.txt", "AAA"}});
    details(*this, hanako, 4);
  }
  Response del(const std::string& k, int sel) const {
    return multipart({{"SKEY", k}, {"JOB", "DELMSG"}, {"FOLDER_NO", "1"},
                      {"SEL_NO", std::to_string(sel)}, {"USER_DISP_DEF", "1"}});
  }
  std::vector<int32_t> numbers() const {
    std::vector<int32_t> out;
    for (const INDEX_DATA& m : index()) out.push_back(m.MSG_NO);
    return out;
  }
};

TEST(DetailsCgi, DeletingWithAndWithoutFollowers) {
  DeleteSite s;
  // Someone else's message: nothing happens, the room list follows.
  Response r = s.del(s.hanako, 1);
  EXPECT_TRUE(room_list(r.out)) << r.out;
  EXPECT_EQ(s.numbers(), (std::vector<int32_t>{1, 2, 3, 4}));

  // No followers: record, read marks, attachment records and files go.
  EXPECT_TRUE(room_list(s.del(s.taro, 4).out));
  EXPECT_EQ(s.numbers(), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_TRUE(s.readers(4).empty());
  EXPECT_TRUE(s.attachments().empty());
  EXPECT_TRUE(file_exists(s.add + "1/x4"));
  EXPECT_FALSE(file_exists(s.add + "1/x4/1"));

  // A deeper reply follows 2: it stays, marked deleted.
  s.del(s.hanako, 2);
  EXPECT_EQ(s.numbers(), (std::vector<int32_t>{1, 2, 3}));
  EXPECT_EQ(s.message(2).DEL_FLG, 1);
  std::string p = details(s, s.taro, 2);
  EXPECT_TRUE(has(p, "<HR>\nS285<BR>\nS286<BR>\nS287<BR>\nS288<P>\n<TABLE BORDER>"));
  EXPECT_FALSE(has(p, "SEL:"));
  EXPECT_TRUE(has(details(s, s.taro, 1),
                  "&SEL_NO=2&USER_DISP_DEF=1\">Re:^1:--Delete--</A></TD><TD "
                  "BGCOLOR=\"#FFFFFF\"></TD>"));
  // Once its follower is gone it can be removed.
  s.del(s.taro, 3);
  s.del(s.hanako, 2);
  EXPECT_EQ(s.numbers(), (std::vector<int32_t>{1}));

  // Guests never delete; administrators delete anybody's message.
  s.send(s.key("Guest"), {{"WRITE_TITLE", "Guest's"}});
  s.del(s.key("Guest"), 2);
  EXPECT_EQ(s.numbers(), (std::vector<int32_t>{1, 2}));
  s.del(s.key("Sysop"), 1);
  EXPECT_EQ(s.numbers(), (std::vector<int32_t>{2}));
}

TEST(DetailsCgi, MarkingABoardReadNeedsReadRight) {
  PostingSite s;
  s.folder(2, KIND_BOARD, 0, "Closed", 5, 5);
  for (int i = 0; i < 3; i++) {
    s.post(1, 0, "Open", "Sysop");
    s.post(2, 0, "Closed", "Sysop");
  }
  s.mark_read(1, 2, "Taro");
  std::string k = s.key("Taro");
  auto all_read = [&](const Fields& f) {
    Fields req = {{"JOB", "BORDALLFLG"}, {"USER_DISP_DEF", "1"}};
    req.insert(req.end(), f.begin(), f.end());
    return s.page(k, req);
  };

  EXPECT_TRUE(room_list(all_read({{"FOLDER_NO", "1"}})));
  for (int m = 1; m <= 3; m++)
    EXPECT_EQ(s.readers(m), (std::vector<std::string>{"Sysop", "Taro"})) << m;
  const std::string before = read_file_bytes(s.data + "1/r1.dat");
  all_read({{"FOLDER_NO", "1"}});
  EXPECT_EQ(read_file_bytes(s.data + "1/r1.dat"), before);

  all_read({{"FOLDER_NO", "2"}});
  for (int m = 1; m <= 3; m++)
    EXPECT_EQ(s.readers(m, 2), std::vector<std::string>{"Sysop"}) << m;
}

// The compact view, called in this process as the unread list and the
// search call it.
TEST(DetailsCgi, CompactView) {
  PostingSite s;
  s.user("Orders", 1, 1, "", 3);
  s.post(1, 0, "Head", "Sysop");
  int32_t m = s.post(1, 1, "Reply", "Taro");
  sINDEX_DATA = s.message(m);
  sINDEX_DATA.READ_CHK = 2;
  ASSERT_EQ(ReWriteINDEX_DATA(), 0);
  sINDEX_DATA = s.message(m);
  ASSERT_EQ(WriteContentsDATA("see http://x.test/"), 0);
  int32_t gone = s.post(1, 0, "Gone", "Sysop");
  sINDEX_DATA = s.message(gone);
  sINDEX_DATA.DEL_FLG = 1;
  ASSERT_EQ(ReWriteINDEX_DATA(), 0);

  StrdefFileOpen((s.cgi_dir + "/test.lng").c_str());
  copy_text(SYSINFO.ADD_FILE_WEB_PATH, sizeof SYSINFO.ADD_FILE_WEB_PATH, s.add_web);
  copy_text(JOB_EXE, sizeof JOB_EXE, "bbs.cgi");
  copy_text(g_SKEY, sizeof g_SKEY, "42");
  char id[] = "Orders";
  ASSERT_EQ(ReadMST_USER(id), 0);
  G_MST_USER = sMST_USER;
  setenv("REQUEST_METHOD", "GET", 1);
  setenv("QUERY_STRING", "CHK_ALL=1", 1);
  cgi_get();

  std::string p = capture_stdout([&] { j_DETAILS_sub1(1, m, 1); });
  EXPECT_EQ(p.rfind("<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"1,2\" checked >SEL:2<BR>\n"
                    "<TABLE BORDER=0>\n<TR><TD BGCOLOR=\"#FFFFFF\">S279</TD><TD "
                    "BGCOLOR=\"#FFFFFF\"><A HREF=\"bbs.cgi?SKEY=42&JOB=DETAILS&FOLDER_NO=1&"
                    "SEL_NO=2&USER_DISP_DEF=3\">Re:^1:Reply</A></TD>\n"
                    "<TD BGCOLOR=\"#E0FFFF\" ALIGN=\"CENTER\" ROWSPAN=3>S282<BR>\n<SELECT>\n"
                    "<OPTION>1 S283\n<OPTION VALUE=\"0\">Taro Y\n</SELECT>\n</TD>\n",
                    0),
            0u)
      << p;
  EXPECT_TRUE(has(p, "see <A HREF=\"http://x.test/\">http://x.test/</A>\n<P>\n"));
  EXPECT_TRUE(has(p, "&SEL_NO=1&USER_DISP_DEF=3\">Head</A>"));  // the thread table
  EXPECT_EQ(p.substr(p.size() - 5), "<HR>\n");
  EXPECT_EQ(s.readers(m), std::vector<std::string>{"Taro"});  // no mark for the viewer

  setenv("QUERY_STRING", "", 1);
  cgi_get();
  p = capture_stdout([&] { j_DETAILS_sub1(1, gone, 1); });
  EXPECT_EQ(p, "<INPUT TYPE=\"checkbox\" NAME=\"FOLSEL\" VALUE=\"1,3\">SEL:3<BR>\n<BR>\n"
               "S285<BR>\nS286<BR>\nS287<BR>\nS288<P>\n<HR>\n");
  EXPECT_EQ(capture_stdout([&] { j_DETAILS_sub1(1, gone, 0); }),
            "<BR>\nS285<BR>\nS286<BR>\nS287<BR>\nS288<P>\n<HR>\n");
  EXPECT_EQ(capture_stdout([&] { j_DETAILS_sub1(1, 99, 1); }), "");
  cgi_free();
  unsetenv("QUERY_STRING");
  unsetenv("REQUEST_METHOD");
}

}  // namespace
