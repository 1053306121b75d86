// The message details page: HTML modes, rights, previous/next in each order, deleting, marking read.
#include "board_site.h"

namespace {

std::string details(const PostingSite& s, const std::string& k, int sel, int order = 1, int folder = 1) {
  return s.page(k, {{"JOB", "DETAILS"}, {"FOLDER_NO", std::to_string(folder)},
                    {"SEL_NO", std::to_string(sel)}, {"USER_DISP_DEF", std::to_string(order)}});
}

// Previous and next message offered (0: none), the back button's page.
std::vector<int> nav(const std::string& page) {
  std::vector<int> out;
  for (const char* re : {"VALUE=\"(\\d+)\">\n<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S301\">",
                         "VALUE=\"(\\d+)\">\n<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S303\">",
                         "\"ROOM\">\n.*\n<INPUT TYPE=\"hidden\" NAME=\"DISP_PAGE\" VALUE=\"(\\d+)\">"}) {
    auto m = all_matches(page, re);
    out.push_back(m.empty() ? 0 : std::stoi(m[0]));
  }
  return out;
}

const char kGone[] = "S285<BR>\nS286<BR>\nS287<BR>\nS288<P>\n";

// Mail's message with an attachment and readers' list, read by a user who
// no longer exists and, twice, by Taro; Hanako's reply.
TEST(DetailsCgi, PageOfAMessage) {
  PostingSite s;
  s.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 1, b.REWRITE_FLG = 2, set_field(b.FONTCOLOR, "336699"); });
  std::string mail = s.key("Mail"), taro = s.key("Taro");
  s.send(mail, {{"WRITE_TITLE", "Hi & #1"}, {"READ_CHK", "2"},
                {"WRITE_DATA", "> quoted\r\nsee http://x.test/a,b\r\nend <TABLE>"}},
         {{"FILE1", "f.txt", std::string(1234, 'f')}});
  s.send(s.key("Hanako"), {{"SEL_NO", "1"}, {"WRITE_TITLE", "Answer <i>"}});
  s.mark_read(1, 1, "Ghost");
  // The unread list, with the readers and the size read ahead; a file
  // replaced under the same name shows its new size there.
  const std::string unread = s.page(taro, {{"JOB", "NRDETAILS"}});
  EXPECT_TRUE(has(unread, "f.txt (1,234 byte)") &&
              has(unread, "<OPTION>2 S283\n<OPTION VALUE=\"0\">Mail Name\n<OPTION VALUE=\"0\">Ghost\n"))
      << unread;
  s.send(mail, {{"FJOB", "EDITMSG"}, {"SEL_NO", "1"}, {"WRITE_TITLE", "Hi & #1"}, {"READ_CHK", "2"},
                {"WRITE_DATA", "> quoted\r\nsee http://x.test/a,b\r\nend <TABLE>"}},
         {{"FILE1", "f.txt", std::string(4321, 'f')}});
  s.mark_read(1, 1, "Ghost");
  EXPECT_TRUE(has(s.page(taro, {{"JOB", "NRDETAILS"}}), "f.txt (4,321 byte)"));
  details(s, taro, 1);
  std::string p = details(s, taro, 1);
  for (const std::string& piece : Names{
           "<OPTION>3 S283\n<OPTION VALUE=\"0\">Mail Name\n<OPTION VALUE=\"0\">Ghost\n<OPTION VALUE=\"0\">Taro Y\n",
           "<A HREF=\"mailto:m@x.test?subject=Re:Hi%20%26%20%231\">Mail Name  [Mail]</A>",
           "<FONT COLOR=\"#336699\">\n<FONT COLOR=\"#0000FF\">> quoted<BR>\n</FONT>see <A HREF=\"http://x.test/a\">"
           "http://x.test/a</A>,b<BR>\nend &lt;TABLE>\n",
           "S273 1:<A HREF=\"http://test/add/1/x1/1/f.txt\">f.txt (4,321 byte)</A>"})
    EXPECT_TRUE(has(p, piece)) << piece << "\n" << p;
  EXPECT_EQ(s.readers(1), (Names{"Mail", "Ghost", "Taro"}));
}

// Script stored in a title, a body or a folder's texts prints as text or
// loses its attribute, on the details page, the room list and the menu.
TEST(DetailsCgi, StoredScriptHtmlModesAndRights) {
  PostingSite s;
  s.configure(1, [](B_TITLE2& b) { set_field(b.INFO, "<b>Info</b>\r<svg onload=alert(4)>"); });
  s.folder(2, KIND_BOARD, 0, "<i>Two</i><img src=x onerror=alert(5)>");
  std::string k = s.key("Taro");
  s.send(k, {{"WRITE_TITLE", "<img src=x onerror=alert(1)>T"},
             {"WRITE_DATA", "http://x.test/\"onmouseover=alert(3)// <ScRiPt>x</sCrIpT>"}});
  s.send(k, {{"SEL_NO", "1"}, {"WRITE_TITLE", "<a href=\"java&#115;cript:x\">R</a>"}, {"HTML_MODE", "2"},
             {"WRITE_DATA", "<b onclick=x>B</b><a\thref='javascript:y'>L</a>"}});
  std::string one = details(s, k, 1), two = details(s, k, 2);
  for (const std::string& piece :
       Names{"<TD BGCOLOR=\"#FFFFFF\"><img src=x>T</TD>",
             "<A HREF=\"http://x.test/&quot;onmouseover=alert(3)//\">http://x.test/\"onmouseover=alert(3)//</A>"
             " &lt;ScRiPt>x&lt;/sCrIpT>",
             "&nbsp;&nbsp;<A HREF=\"bbs.cgi?SKEY=" + k + "&JOB=DETAILS&FOLDER_NO=1&SEL_NO=2&USER_DISP_DEF=1\">"
             "Re:^1:<a>R</a></A></TD>"})
    EXPECT_TRUE(has(one, piece)) << piece << "\n" << one;
  EXPECT_TRUE(has(two, "<HR>\n<b>B</b><a>L</a>\n<HR>")) << two;
  std::string room = s.page(k, {{"JOB", "ROOM"}, {"FOLDER_NO", "1"}, {"FAST_FLG", "1"}});
  EXPECT_TRUE(has(room, "<b>Info</b><BR>\n&lt;svg onload=alert(4)>")) << room;
  EXPECT_FALSE(has(s.page(k, {{"JOB", "ROOM"}, {"FOLDER_NO", "1"}}), "Info</b>"));  // only with FAST_FLG
  EXPECT_TRUE(has(room, "\"><img src=x>T</A></TD>") && has(room, "\">Re:^1:<a>R</a></A></TD>")) << room;
  std::string room2 = s.page(k, {{"JOB", "ROOM"}, {"FOLDER_NO", "2"}}), menu = s.page(k, {{"JOB", "FRM21"}});
  EXPECT_TRUE(has(room2, "<B>[2]<i>Two</i><img src=x></B>") && has(menu, "<i>Two</i><img src=x></A>")) << menu;
  for (const std::string& p : {one, two, room, room2, menu})
    EXPECT_FALSE(has(p, "<img src=x onerror") || has(p, "<svg") || has(p, "javascript") || has(p, "java&#115;"))
        << p;

  // Preformatted, or the writer's own HTML, with table tags neutralised;
  // without read confirmation no readers' list, without write right no reply.
  s.send(k, {{"HTML_MODE", "1"}, {"WRITE_DATA", "a\r\nb <TABLE> http://x.test/"}});
  s.send(k, {{"HTML_MODE", "2"}, {"WRITE_DATA", "<b>x</b>\r\n<TABLE BORDER=1><tr>"}});
  std::string p = details(s, k, 3);
  EXPECT_TRUE(has(p, "<HR>\n<PRE>a\rb &lt;TABLE> http://x.test/</PRE>\n<HR>"));
  EXPECT_TRUE(has(details(s, k, 4), "<HR>\n<b>x</b>\r&lt;TABLE BORDER=1><tr>\n<HR>"));
  EXPECT_TRUE(!has(p, "S282") && has(p, "\"BORDWRITE\""));
  s.configure(1, [](B_TITLE2& b) { b.WRITE_LEVEL = 5; });
  EXPECT_FALSE(has(details(s, k, 3), "\"BORDWRITE\""));

  // Buttons: the author edits and deletes, the administrator deletes, a guest neither.
  s.configure(1, [](B_TITLE2& b) { b.REWRITE_FLG = 2, b.WRITE_LEVEL = 0; });
  s.post(1, 0, "m", "Guest");
  auto buttons = [&](const char* who, int no) {
    std::string p = details(s, s.key(who), no);
    return std::string(has(p, "\"EDITMSG\"") ? "edit " : "") + (has(p, "\"DELMSG\"") ? "delete" : "");
  };
  EXPECT_EQ(buttons("Taro", 3) + "|" + buttons("Hanako", 3) + "|" + buttons("Admin", 3) + "|" +
                buttons("Guest", 5), "edit delete||delete|");
}

TEST(DetailsCgi, PreviousNextAndPageFollowTheDisplayOrder) {
  PostingSite s;
  s.post(1, 0, "A");
  s.post(1, 0, "B");
  s.post(1, 1, "C");  // 3, stored between 1 and 2
  std::string k = s.key("Taro");
  using V = std::vector<int>;
  // {message, order, previous, next}, the back button on page 1.
  for (const V& c : {V{3, 1, 1, 2}, V{2, 1, 3, 0}, V{1, 1, 0, 3}, V{2, 3, 1, 3}, V{3, 2, 2, 0}})
    EXPECT_EQ(nav(details(s, k, c[0], c[1])), (V{c[2], c[3], 1})) << c[0] << " " << c[1];
  // No order asked: the user's own, carried on.
  std::string p = s.page(s.key("Numbers"), {{"JOB", "DETAILS"}, {"FOLDER_NO", "1"}, {"SEL_NO", "2"}});
  EXPECT_EQ(nav(p), (V{1, 3, 1}));
  EXPECT_TRUE(has(p, "NAME=\"USER_DISP_DEF\" VALUE=\"2\">"));

  // 44 more threads, five removed, a late reply 48 third in the index.
  for (int i = 4; i <= 47; i++) s.post(1, 0, "T");
  for (int gone = 10; gone <= 14; gone++) ASSERT_EQ(DeleteINDEX_DATA(1, gone), 0);
  ASSERT_EQ(s.post(1, 1, "Late"), 48);
  // {message, order, previous, next, page}; 25 is the 20th existing number.
  for (const V& c : {V{48, 1, 3, 2, 1}, V{25, 2, 24, 26, 1}, V{26, 3, 25, 27, 2}, V{15, 2, 9, 16, 1},
                     V{47, 2, 46, 48, 3}})
    EXPECT_EQ(nav(details(s, k, c[0], c[1])), (V{c[2], c[3], c[4]})) << c[0] << " " << c[1];
}

// 1 (Taro) > 2 (Hanako) > 3 (Taro); 4 (Taro, with an attachment).
TEST(DetailsCgi, DeletingWithAndWithoutFollowers) {
  PostingSite s;
  s.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 1; });
  std::string taro = s.key("Taro"), hanako = s.key("Hanako");
  s.send(taro, {});
  s.send(hanako, {{"SEL_NO", "1"}});
  s.send(taro, {{"SEL_NO", "2"}});
  s.send(taro, {}, {{"FILE1", "a.txt", "AAA"}});
  details(s, hanako, 4);
  auto del = [&](const std::string& k, int sel) {
    EXPECT_TRUE(room_list(s.multipart({{"SKEY", k}, {"JOB", "DELMSG"}, {"FOLDER_NO", "1"},
                                       {"SEL_NO", std::to_string(sel)}}).out));
    std::vector<int32_t> out;
    for (const INDEX_DATA& m : s.index()) out.push_back(m.MSG_NO);
    return out;
  };
  using V = std::vector<int32_t>;
  EXPECT_EQ(del(hanako, 1), (V{1, 2, 3, 4}));  // someone else's message
  // No followers: record, marks, attachments go.
  EXPECT_EQ(del(taro, 4), (V{1, 2, 3}));
  EXPECT_TRUE(s.readers(4).empty() && s.attachments().empty());
  EXPECT_FALSE(file_exists(s.add + "1/x4/1"));
  // A reply follows 2: it stays marked deleted and shows nothing.
  EXPECT_EQ(del(hanako, 2), (V{1, 2, 3}));
  EXPECT_EQ(s.message(2).DEL_FLG, 1);
  EXPECT_TRUE(has(details(s, taro, 2), std::string("<HR>\n") + kGone + "<TABLE BORDER>"));
  EXPECT_TRUE(has(details(s, taro, 1), "&SEL_NO=2&USER_DISP_DEF=1\">Re:^1:--Delete--</A>"));
  del(taro, 3);
  EXPECT_EQ(del(hanako, 2), (V{1}));
  // Guests never delete; administrators delete anybody's message.
  s.send(s.key("Guest"), {});
  EXPECT_EQ(del(s.key("Guest"), 2), (V{1, 2}));
  EXPECT_EQ(del(s.key("Admin"), 1), (V{2}));
}

// Without read right a board's messages are neither shown nor marked read;
// a number without a message shows and stores nothing.
TEST(DetailsCgi, ReadRightNumbersWithoutMessageOrFolderAndPreformattedBodies) {
  PostingSite s;
  s.folder(2, KIND_BOARD, 0, "Closed", 5, 5);
  for (int i = 0; i < 3; i++) s.post(1, 0, "Open"), s.post(2, 0, "Secret");
  s.mark_read(1, 2, "Taro");
  std::string k = s.key("Taro"), p = details(s, k, 1, 1, 2);
  EXPECT_TRUE(refused(p) && !has(p, "Secret")) << p;
  const std::string index = read_file_bytes(s.data + "1/index.dat");
  for (int sel : {0, 7, -1}) {
    p = details(s, k, sel);
    EXPECT_TRUE(has(p, kGone) && !has(p, "Open") && !has(p, "VALUE=\"BORDWRITE\"")) << sel;
  }
  EXPECT_EQ(read_file_bytes(s.data + "1/index.dat"), index);
  EXPECT_FALSE(file_exists(s.data + "1/r7.dat"));
  auto all_read = [&](const char* f) { return s.page(k, {{"JOB", "BORDALLFLG"}, {"FOLDER_NO", f}}); };
  EXPECT_TRUE(room_list(all_read("1")));
  all_read("1");  // a second time adds nothing
  all_read("2");
  for (int m = 1; m <= 3; m++) EXPECT_TRUE((s.readers(m) == Names{"Admin", "Taro"} && s.readers(m, 2) == Names{"Admin"})) << m;

  // A tag left open in a preformatted body stays inside it. A folder not in
  // the tree is refused and its leftover directory stays empty.
  std::filesystem::create_directory(s.data + "7");
  k = s.key("Admin");
  s.send(k, {{"HTML_MODE", "1"}, {"WRITE_DATA", "a <img src=x onerror=alert(1)"}});
  EXPECT_TRUE(has(details(s, k, 4), "<PRE>a &lt;img src=x onerror=alert(1)</PRE>\n<HR>"));
  for (const char* job : {"ROOM", "DETAILS", "DELMSG", "BORDALLFLG", "EDITMSG", "BORDWRITE"})
    EXPECT_TRUE(refused(s.page(k, {{"JOB", job}, {"FOLDER_NO", "7"}, {"SEL_NO", "1"}}))) << job;
  EXPECT_EQ(files_named(s.data + "7", ""), 0u);
}

}  // namespace
