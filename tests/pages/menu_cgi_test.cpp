// The folder menu through the program: which folders show for which open
// branch, the links that open and close directories, unread counts of
// boards and directory subtrees, and the buttons each kind of user gets.
#include <string>

#include "board_site.h"

namespace {

size_t rows(const std::string& page) { return all_matches(page, "(<TR><TD NOWRAP>)").size(); }

// Top (1) > Sub (2) > Notes (3) and Hidden (4, not readable for level 1);
// Top > Talk (5, chat); Lobby (6) and Closed (7, not readable) at the top.
struct MenuSite : BoardSite {
  MenuSite() {
    user("Admin", 100, 1);
    user("Taro", 1, 1);
    user("Guest", 1, 2);
    user("Quiet", 1, 1, "", 1, 1, 1);
    folder(1, KIND_DIR, 0, "Top");
    folder(2, KIND_DIR, 1, "Sub");
    folder(3, KIND_BOARD, 2, "Notes");
    folder(4, KIND_BOARD, 2, "Hidden", 50, 50);
    folder(5, KIND_CHAT, 1, "Talk");
    folder(6, KIND_BOARD, 0, "Lobby");
    folder(7, KIND_BOARD, 0, "Closed", 50, 50);
  }
  std::string menu(const std::string& k, Fields open = {}) const {
    open.insert(open.begin(), {"JOB", "FRM21"});
    return page(k, open);
  }
};

TEST(MenuCgi, DirectoryLinksOpenOneBranchAndCloseIt) {
  MenuSite s;
  std::string k = s.key("Taro");
  const std::string dir = "<A HREF=\"bbs.cgi?SKEY=" + k + "&JOB=FRM21";

  // Nothing open: the readable top-level folders; Top's link opens it.
  std::string p = s.menu(k);
  EXPECT_EQ(rows(p), 2u) << p;
  EXPECT_TRUE(has(p, "<TR><TD NOWRAP>" + dir + "&DISP_NO=1\"><IMG SRC=\"http://test/pic/"
                     "folderclose.gif\" ALT=\"Top\" BORDER=0>Top</A><BR></TD></TR>\n"))
      << p;
  EXPECT_TRUE(has(p, "ALT=\"Lobby\""));
  EXPECT_FALSE(has(p, "ALT=\"Closed\""));

  // Top open: its children appear; Top's link closes everything, Sub's link
  // opens Sub and keeps Top open.
  p = s.menu(k, {{"DISP_NO", "1"}});
  EXPECT_EQ(rows(p), 4u) << p;
  EXPECT_TRUE(has(p, dir + "\"><IMG SRC=\"http://test/pic/folderclose.gif\" ALT=\"Top\""));
  EXPECT_TRUE(has(p, "<TR><TD NOWRAP>&nbsp;&nbsp;" + dir +
                         "&DISP_NO=2&DISP_NO=1\"><IMG SRC=\"http://test/pic/folderclose.gif\" "
                         "ALT=\"Sub\" BORDER=0>Sub</A><BR></TD></TR>\n"))
      << p;
  EXPECT_TRUE(has(p, "<TR><TD NOWRAP>&nbsp;&nbsp;<A HREF=\"bbs.cgi?SKEY=" + k +
                         "&JOB=CHAT&FOLDER_NO=5&FAST_FLG=1\" TARGET=\"FRM22\"><IMG SRC=\"http://"
                         "test/pic/folderchat.gif\" ALT=\"Talk\" BORDER=0>Talk</A><BR></TD></TR>\n"))
      << p;
  EXPECT_FALSE(has(p, "ALT=\"Notes\""));

  // Sub open too: its readable board appears; Sub's link now closes Sub only.
  p = s.menu(k, {{"DISP_NO", "2"}, {"DISP_NO", "1"}});
  EXPECT_EQ(rows(p), 5u) << p;
  EXPECT_TRUE(has(p, dir + "\"><IMG SRC=\"http://test/pic/folderclose.gif\" ALT=\"Top\""));
  EXPECT_TRUE(has(p, dir + "&DISP_NO=1\"><IMG SRC=\"http://test/pic/folderclose.gif\" ALT=\"Sub\""));
  EXPECT_TRUE(has(p, "<TR><TD NOWRAP>&nbsp;&nbsp;&nbsp;&nbsp;<A HREF=\"bbs.cgi?SKEY=" + k +
                         "&JOB=ROOM&FOLDER_NO=3&FAST_FLG=1\" TARGET=\"FRM22\"><IMG SRC=\"http://"
                         "test/pic/folderbook.gif\" ALT=\"Notes\" BORDER=0>Notes</A><BR>"
                         "</TD></TR>\n"))
      << p;
  EXPECT_FALSE(has(p, "ALT=\"Hidden\""));
  // The administrator reads everything.
  p = s.menu(s.key("Admin"), {{"DISP_NO", "2"}, {"DISP_NO", "1"}});
  EXPECT_EQ(rows(p), 7u) << p;
}

TEST(MenuCgi, UnreadCountsSumSubtreesOfReadableBoards) {
  MenuSite s;
  for (int i = 0; i < 3; i++) s.post(3, 0, "n");
  for (int i = 0; i < 4; i++) s.post(4, 0, "h");  // unreadable for Taro
  s.post(6, 0, "l");
  s.post(7, 0, "c");
  s.mark_read(3, 1, "Taro");

  std::string k = s.key("Taro");
  const Fields open = {{"DISP_NO", "2"}, {"DISP_NO", "1"}};
  std::string p = s.menu(k, open);
  // Top and Sub sum Notes (the nested board) but not Hidden.
  EXPECT_TRUE(has(p, "ALT=\"Top\" BORDER=0>(2)Top</A>")) << p;
  EXPECT_TRUE(has(p, "ALT=\"Sub\" BORDER=0>(2)Sub</A>")) << p;
  EXPECT_TRUE(has(p, "ALT=\"Notes\" BORDER=0>(2)Notes</A>")) << p;
  EXPECT_TRUE(has(p, "ALT=\"Lobby\" BORDER=0>(1)Lobby</A>")) << p;
  // A closed directory shows the count of its whole subtree too.
  EXPECT_TRUE(has(s.menu(k), "ALT=\"Top\" BORDER=0>(2)Top</A>"));

  // All read: no "(0)".
  s.mark_read(6, 1, "Taro");
  s.mark_read(3, 2, "Taro");
  s.mark_read(3, 3, "Taro");
  p = s.menu(k, open);
  EXPECT_TRUE(has(p, "ALT=\"Lobby\" BORDER=0>Lobby</A>")) << p;
  EXPECT_TRUE(has(p, "ALT=\"Top\" BORDER=0>Top</A>")) << p;
  EXPECT_FALSE(has(p, "(0)"));

  // The administrator gets Hidden's count (his own messages are read).
  s.post(4, 0, "by taro", "Taro");
  p = s.menu(s.key("Admin"), open);
  EXPECT_TRUE(has(p, "ALT=\"Top\" BORDER=0>(1)Top</A>")) << p;
  EXPECT_TRUE(has(p, "ALT=\"Hidden\" BORDER=0>(1)Hidden</A>")) << p;

  // Guests and members who switched unread tracking off see no counts.
  for (const char* who : {"Guest", "Quiet"}) {
    p = s.menu(s.key(who), open);
    EXPECT_EQ(rows(p), 5u) << who;
    EXPECT_EQ(all_matches(p, "BORDER=0>(\\()").size(), 0u) << who << p;
  }
}

TEST(MenuCgi, ButtonsDependOnTheKindOfUser) {
  MenuSite s;
  auto buttons = [](const std::string& p) {
    std::string jobs;
    for (const std::string& j :
         all_matches(p, "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"([A-Za-z_]+)\">"))
      jobs += j + " ";
    return jobs;
  };
  EXPECT_EQ(buttons(s.menu(s.key("Guest"))), "BATCH_UPLOAD SEARCH IDSINSEI IDSINSEIlist ");
  EXPECT_EQ(buttons(s.menu(s.key("Taro"))),
            "NRDETAILS BATCH_UPLOAD SEARCH MYDATA SETNOREAD IDSINSEI IDSINSEIlist LOGOFF ");
  EXPECT_EQ(buttons(s.menu(s.key("Admin"))),
            "NRDETAILS BATCH_UPLOAD SEARCH ADMIN MYDATA SETNOREAD IDSINSEI IDSINSEIlist LOGOFF ");
  s.write_settings("MYDATA,1,\n");
  EXPECT_EQ(buttons(s.menu(s.key("Taro"))),
            "NRDETAILS BATCH_UPLOAD SEARCH SETNOREAD IDSINSEI IDSINSEIlist LOGOFF ");
}

TEST(MenuCgi, MemberPageByteForByte) {
  BoardSite s;
  s.user("Taro", 1, 1);
  s.folder(6, KIND_BOARD, 0, "Q&A \"Lobby\"");
  std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
  ASSERT_EQ(ReadB_TITLE2(6), 0);
  set_field(sB_TITLE2.DIRPIC, "icon.gif");
  ASSERT_EQ(ReWriteB_TITLE2(6), 0);
  s.post(6, 0, "hello");
  write_file_bytes(s.pic + "link.html", "<A HREF=\"x\">Links</A>\n<HR>\n");
  std::string k = s.key("Taro");

  auto form = [&](const char* job, const char* label, bool named) {
    return std::string("<FORM ACTION=\"bbs.cgi\" METHOD=GET TARGET=\"FRM22\">\n") +
           "<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"" + k + "\">\n" +
           "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"" + job + "\">\n" +
           "<INPUT TYPE=\"submit\"" + (named ? " NAME=\"SUB\"" : "") + " VALUE=\"" + label +
           "\">\n</FORM>\n";
  };
  EXPECT_EQ(s.page(k, {{"JOB", "FRM21"}}),
            "Content-type: text/html\n\n<HTML>\n<HEAD>\nS1</HEAD>\n<!--S2-->\n"
            "<BODY BACKGROUND=\"http://test/pic/back.gif\" BGPROPERTIES=FIXED >\n"
            "<A HREF=\"x\">Links</A>\n<HR>\n"
            "<TABLE>\n"
            "<TR><TD NOWRAP><A HREF=\"bbs.cgi?SKEY=" + k +
                "&JOB=ROOM&FOLDER_NO=6&FAST_FLG=1\" TARGET=\"FRM22\"><IMG SRC=\"http://test/"
                "pic/6/icon.gif\" ALT=\"Q&amp;A &quot;Lobby&quot;\" BORDER=0>(1)Q&A \"Lobby\"</A>"
                "<BR></TD></TR>\n"
            "</TABLE>\n" +
                form("NRDETAILS", "S102", true) + form("BATCH_UPLOAD", "S365", false) +
                form("SEARCH", "S103", true) + form("MYDATA", "S105", true) +
                form("SETNOREAD", "S373", true) + form("IDSINSEI", "S106", true) +
                form("IDSINSEIlist", "S107", true) +
                "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"bbs.cgi\" METHOD=POST "
                "TARGET=\"_parent\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"" + k + "\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"LOGOFF\">\n"
                "<INPUT TYPE=\"submit\" VALUE=\"S13\" onClick=\"return confirm('S14')\">\n"
                "</FORM>\n</BODY>\n</HTML>\n");
}

TEST(MenuCgi, NoTreeFileGivesAnEmptyTableAndTheButtons) {
  BoardSite s;
  s.user("Taro", 1, 1);
  std::string p = s.page(s.key("Taro"), {{"JOB", "FRM21"}});
  EXPECT_TRUE(has(p, "<TABLE>\n</TABLE>\n<FORM ACTION=\"bbs.cgi\" METHOD=GET")) << p;
  EXPECT_FALSE(file_exists(s.data_file("b_title.mst")));
}

}  // namespace
