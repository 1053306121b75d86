// The folder menu through the program: which folders show for which open
// branch, the links that open and close directories, unread counts of
// boards and directory subtrees, and the buttons each kind of user gets.
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
  // A row `depth` levels in whose link carries `query` after SKEY.
  auto row = [&](int depth, const std::string& query, const std::string& pic, const std::string& name) {
    std::string indent;
    for (int i = 0; i < depth; i++) indent += "&nbsp;&nbsp;";
    return "<TR><TD NOWRAP>" + indent + "<A HREF=\"bbs.cgi?SKEY=" + k + "&JOB=" + query +
           "><IMG SRC=\"http://test/pic/" + pic + ".gif\" ALT=\"" + name + "\" BORDER=0>" + name +
           "</A><BR></TD></TR>\n";
  };
  const std::string dir = "folderclose", leaf = "\" TARGET=\"FRM22\"";
  // A directory's link opens it with its ancestors, or closes it when open.
  const std::tuple<Fields, size_t, std::vector<std::string>, std::vector<std::string>> cases[] = {
      {{}, 2, {row(0, "FRM21&DISP_NO=1\"", dir, "Top"), row(0, "ROOM&FOLDER_NO=6&FAST_FLG=1" + leaf,
                                                          "folderbook", "Lobby")}, {"Sub", "Closed"}},
      {{{"DISP_NO", "1"}}, 4,
       {row(0, "FRM21\"", dir, "Top"), row(1, "FRM21&DISP_NO=2&DISP_NO=1\"", dir, "Sub"),
        row(1, "CHAT&FOLDER_NO=5&FAST_FLG=1" + leaf, "folderchat", "Talk")},
       {"Notes"}},
      {{{"DISP_NO", "2"}, {"DISP_NO", "1"}}, 5,
       {row(0, "FRM21\"", dir, "Top"), row(1, "FRM21&DISP_NO=1\"", dir, "Sub"),
        row(2, "ROOM&FOLDER_NO=3&FAST_FLG=1" + leaf, "folderbook", "Notes")},
       {"Hidden"}}};
  for (const auto& [open, n, shown, hidden] : cases) {
    std::string p = s.menu(k, open);
    EXPECT_EQ(rows(p), n) << p;
    for (const std::string& r : shown) EXPECT_TRUE(has(p, r)) << r << "\n" << p;
    for (const std::string& h : hidden) EXPECT_FALSE(has(p, "ALT=\"" + h + "\"")) << h;
  }
  // The administrator reads everything.
  EXPECT_EQ(rows(s.menu(s.key("Admin"), {{"DISP_NO", "2"}, {"DISP_NO", "1"}})), 7u);
}

TEST(MenuCgi, UnreadCountsSumSubtreesOfReadableBoards) {
  MenuSite s;
  for (int i = 0; i < 3; i++) s.post(3, 0, "n");
  for (int i = 0; i < 4; i++) s.post(4, 0, "h");  // unreadable for Taro
  s.post(6, 0, "l");
  s.post(7, 0, "c");
  s.mark_read(3, 1, "Taro");
  auto label = [](const std::string& name, int unread) {
    return "ALT=\"" + name + "\" BORDER=0>" + (unread ? "(" + std::to_string(unread) + ")" : "") +
           name + "</A>";
  };

  std::string k = s.key("Taro");
  const Fields open = {{"DISP_NO", "2"}, {"DISP_NO", "1"}};
  std::string p = s.menu(k, open);
  // Top and Sub sum Notes (the nested board) but not Hidden; a closed
  // directory shows its whole subtree's count too.
  for (const auto& [name, n] : {std::pair{"Top", 2}, {"Sub", 2}, {"Notes", 2}, {"Lobby", 1}})
    EXPECT_TRUE(has(p, label(name, n))) << name << "\n" << p;
  EXPECT_TRUE(has(s.menu(k), label("Top", 2)));

  // All read: no "(0)".
  for (auto [f, m] : {std::pair{6, 1}, {3, 2}, {3, 3}}) s.mark_read(f, m, "Taro");
  p = s.menu(k, open);
  EXPECT_TRUE(has(p, label("Top", 0))) << p;
  EXPECT_FALSE(has(p, "(0)"));

  // The administrator gets Hidden's count (his own messages are read).
  s.post(4, 0, "by taro", "Taro");
  p = s.menu(s.key("Admin"), open);
  EXPECT_TRUE(has(p, label("Top", 1))) << p;
  EXPECT_TRUE(has(p, label("Hidden", 1))) << p;

  // Guests and members who switched unread tracking off see no counts.
  for (const char* who : {"Guest", "Quiet"}) {
    p = s.menu(s.key(who), open);
    EXPECT_EQ(rows(p), 5u) << who;
    EXPECT_EQ(all_matches(p, "BORDER=0>(\\()").size(), 0u) << who << p;
  }
}

TEST(MenuCgi, PageAndButtonsByKindOfUser) {
  MenuSite s;
  ASSERT_EQ(ReadB_TITLE2(6), 0);
  set_field(sB_TITLE2.DIRPIC, "icon.gif");
  ASSERT_EQ(ReWriteB_TITLE2(6), 0);
  s.folder(8, KIND_BOARD, 0, "Q&A \"x\"");
  write_file_bytes(s.pic + "link.html", "<A HREF=\"x\">Links</A>\n");
  std::string k = s.key("Taro"), p = s.menu(k);
  EXPECT_TRUE(has(p, "BGPROPERTIES=FIXED >\n<A HREF=\"x\">Links</A>\n<TABLE>\n"));
  EXPECT_TRUE(has(p, "<IMG SRC=\"http://test/pic/6/icon.gif\" ALT=\"Lobby\" BORDER=0>"));
  EXPECT_TRUE(has(p, "ALT=\"Q&amp;A &quot;x&quot;\" BORDER=0>Q&A \"x\"</A>")) << p;
  EXPECT_TRUE(has(p, "<FORM ENCTYPE=\"multipart/form-data\" ACTION=\"bbs.cgi\" METHOD=POST "
                     "TARGET=\"_parent\">\n<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"" + k + "\">\n"
                     "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"LOGOFF\">\n<INPUT TYPE=\"submit\" "
                     "VALUE=\"S13\" onClick=\"return confirm('S14')\">\n</FORM>\n</BODY>"));
  auto buttons = [](const std::string& p) { return joined(p, "NAME=\"JOB\" VALUE=\"([A-Za-z_]+)\">"); };
  EXPECT_EQ(buttons(p), "NRDETAILS BATCH_UPLOAD SEARCH MYDATA SETNOREAD IDSINSEI IDSINSEIlist LOGOFF");
  EXPECT_EQ(buttons(s.menu(s.key("Guest"))), "BATCH_UPLOAD SEARCH IDSINSEI IDSINSEIlist");
  EXPECT_EQ(buttons(s.menu(s.key("Admin"))),
            "NRDETAILS BATCH_UPLOAD SEARCH ADMIN MYDATA SETNOREAD IDSINSEI IDSINSEIlist LOGOFF");

  // Without a tree file: an empty table and the buttons; nothing is created.
  BoardSite bare;
  bare.user("Taro", 1, 1);
  EXPECT_TRUE(has(bare.page(bare.key("Taro"), {{"JOB", "FRM21"}}), "<TABLE>\n</TABLE>\n<FORM ACTION="));
  EXPECT_FALSE(file_exists(bare.data_file("b_title.mst")));
}

}  // namespace
