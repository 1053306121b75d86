// The folder menu: open branches and links, unread counts, the buttons each user gets.
#include "board_site.h"

namespace {

// Top (1) > Sub (2) > Notes (3) and Hidden (4, not readable for level 1);
// Top > Talk (5, chat); Lobby (6) and Closed (7, not readable) at the top.
struct MenuSite : BoardSite {
  MenuSite() {
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

std::string labels(const std::string& page) { return joined(page, "BORDER=0>([^<]*)</A><BR></TD></TR>"); }

const Fields kOpen = {{"DISP_NO", "2"}, {"DISP_NO", "1"}};  // Top and Sub open

TEST(MenuCgi, DirectoryLinksAndUnreadCounts) {
  MenuSite s;
  std::string k = s.key("Taro");
  const std::tuple<Fields, std::string, std::string> cases[] = {
      {{}, "Top Lobby", "FRM21&DISP_NO=1"},
      {{{"DISP_NO", "1"}}, "Top Sub Talk Lobby", "FRM21 FRM21&DISP_NO=2&DISP_NO=1"},
      {kOpen, "Top Sub Notes Talk Lobby", "FRM21 FRM21&DISP_NO=1"}};
  for (const auto& [open, shown, links] : cases) {
    std::string p = s.menu(k, open);
    EXPECT_EQ(labels(p), shown);
    EXPECT_EQ(joined(p, "&JOB=(FRM21[^\"]*)\"><IMG SRC=\"http://test/pic/folderclose.gif\""), links) << shown;
  }
  EXPECT_EQ(labels(s.menu(s.key("Admin"), kOpen)), "Top Sub Notes Hidden Talk Lobby Closed");

  // Unread counts: directories sum the readable boards below them, open or closed.
  for (int i = 0; i < 3; i++) s.post(3, 0, "n");
  for (int i = 0; i < 4; i++) s.post(4, 0, "h");  // unreadable for Taro
  s.post(6, 0, "l");
  s.post(7, 0, "c");
  s.mark_read(3, 1, "Taro");
  EXPECT_EQ(labels(s.menu(k, kOpen)), "(2)Top (2)Sub (2)Notes Talk (1)Lobby");
  EXPECT_EQ(labels(s.menu(k)), "(2)Top (1)Lobby");
  for (auto [f, m] : {std::pair{6, 1}, {3, 2}, {3, 3}}) s.mark_read(f, m, "Taro");
  EXPECT_EQ(labels(s.menu(k, kOpen)), "Top Sub Notes Talk Lobby");
  s.post(4, 0, "by taro", "Taro");
  EXPECT_EQ(labels(s.menu(s.key("Admin"), kOpen)), "(1)Top (1)Sub Notes (1)Hidden Talk Lobby Closed");
  // Guests and members who switched unread tracking off see no counts.
  for (const char* who : {"Guest", "Quiet"})
    EXPECT_EQ(labels(s.menu(s.key(who), kOpen)), "Top Sub Notes Talk Lobby") << who;
}

TEST(MenuCgi, PageAndButtonsByKindOfUser) {
  MenuSite s;
  s.folder(8, KIND_BOARD, 0, "Q&A \"x\"");
  write_file_bytes(s.pic + "link.html", "<A HREF=\"x\">Links</A>\n");
  std::string k = s.key("Taro"), p = s.menu(k);
  EXPECT_TRUE(has(p, "BGPROPERTIES=FIXED >\n<A HREF=\"x\">Links</A>\n<TABLE>\n"));
  EXPECT_TRUE(has(p, "ALT=\"Q&amp;A &quot;x&quot;\" BORDER=0>Q&A \"x\"</A>")) << p;
  for (const auto& [who, jobs] :
       {std::pair{"Taro", "NRDETAILS BATCH_UPLOAD SEARCH MYDATA SETNOREAD IDSINSEI IDSINSEIlist LOGOFF"},
        {"Guest", "BATCH_UPLOAD SEARCH IDSINSEI IDSINSEIlist"},
        {"Admin", "NRDETAILS BATCH_UPLOAD SEARCH ADMIN MYDATA SETNOREAD IDSINSEI IDSINSEIlist LOGOFF"}})
    EXPECT_EQ(joined(s.menu(s.key(who)), "NAME=\"JOB\" VALUE=\"([A-Za-z_]+)\">"), jobs) << who;

  // Without a tree file nothing is created.
  BoardSite bare;
  EXPECT_TRUE(has(bare.page(bare.key("Taro"), {{"JOB", "FRM21"}}), "<TABLE>\n</TABLE>\n<FORM ACTION="));
  EXPECT_FALSE(file_exists(bare.data_file("b_title.mst")));
}

}  // namespace
