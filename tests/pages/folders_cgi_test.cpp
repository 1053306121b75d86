// Folder administration: creating, deleting and moving folders with their subtrees.
#include "board_site.h"

namespace {

// A (dir 1) holds B (board 2) and C (dir 3), which holds D (board 4);
// E (board 5) stands at the top level.
struct TreeSite : BoardSite {
  TreeSite() {
    folder(1, KIND_DIR, 0, "A");
    folder(2, KIND_BOARD, 1, "B");
    folder(3, KIND_DIR, 1, "C");
    folder(4, KIND_BOARD, 2, "D");
    folder(5, KIND_BOARD, 0, "E");
    admin = key("Admin");
  }
  std::string admin;

  // "name+number" per folder, a dot per depth level.
  std::string shape() const {
    std::vector<B_TITLE> tree;
    load_folders(tree);
    std::string out;
    for (const B_TITLE& f : tree)
      out += (out.empty() ? "" : " ") + std::string(f.DEPTH, '.') + std::string(field(f.NAME)) + std::to_string(f.FOLDER_NO);
    return out;
  }
};

constexpr const char* kTree = "A1 .B2 .C3 ..D4 E5";

bool folder_list(const std::string& out) { return has(out, "<B>S184</B>"); }

TEST(FolderCgi, CreatePlacesDepthsAndResults) {
  // Position, class, kind, name; the tree after (empty: unchanged); the error slot.
  const std::tuple<std::string, std::string, std::string, std::string, std::string, int> cases[] = {
      {"0", "2", "2", "N", "A1 .B2 .C3 ..D4 E5 N6", 0},     // position 0: end, top level
      {"1", "2", "1", "N", "A1 .N6 .B2 .C3 ..D4 E5", 0},    // first entry of A
      {"2", "1", "2", "N", "A1 .B2 .N6 .C3 ..D4 E5", 0},    // after B on its level
      {"3", "1", "2", "N", "A1 .B2 .C3 ..D4 .N6 E5", 0},    // after C's subtree, C's level
      {"1", "1", "3", "N", "A1 .B2 .C3 ..D4 N6 E5", 0},     // after A's subtree
      {"5", "7", "2", "  N", "A1 .B2 .C3 ..D4 E5 N6", 0},   // blanks dropped; class 7 is 1
      {"2", "2", "2", "N", "", 207},                        // inside a board
      {"-4", "1", "2", "", "", 206},                        // no name
      {"1", "1", "2", "a,b", "", 362},                      // a comma would split the line
      {"1", "1", "4", "N", "", 3},                          // no such kind
  };
  for (const auto& [pos, cls, mode, name, shape, message] : cases) {
    TreeSite s;
    std::string settings = read_file_bytes(s.data + "b_title2.mst");
    std::string out = s.store(s.admin, {{"JOB", "NEWFOLDERWR"}, {"DISPNO", pos}, {"CLASS", cls},
                                        {"MODE", mode}, {"NAME", name}});
    std::string label = pos + "/" + cls + "/" + name;
    EXPECT_EQ(s.shape(), shape.empty() ? kTree : shape) << label;
    if (message) {
      EXPECT_TRUE(error_page(out, 193, message)) << label << out;
      EXPECT_EQ(read_file_bytes(s.data + "b_title2.mst"), settings) << label;
    } else {
      EXPECT_TRUE(folder_list(out)) << label;
    }
  }
}

TEST(FolderCgi, NewFolderStartsCleanAndOnlyAdministratorsCreate) {
  TreeSite s;
  // Leftovers of a folder 6 that was deleted behind the board's back.
  sB_G_ACL = {6, 9, 2}, WriteB_G_ACL();
  sB_U_ACL = {6, "Taro", 3}, WriteB_U_ACL();
  sB_TITLE2 = {}, sB_TITLE2.FOLDER_NO = 6, sB_TITLE2.READ_LEVEL = 80, InsertB_TITLE2();

  Fields create = {{"JOB", "NEWFOLDERWR"}, {"DISPNO", "0"}, {"CLASS", "1"}, {"MODE", "2"}, {"NAME", "New"}};
  EXPECT_TRUE(error_page(s.store(s.key("Taro"), create), 193, 3));
  EXPECT_EQ(s.shape(), kTree);
  EXPECT_TRUE(folder_list(s.store(s.admin, create)));
  EXPECT_EQ(s.shape(), std::string(kTree) + " New6");
  std::vector<std::vector<int32_t>> sixes;
  for (const B_TITLE2& r : s.records<B_TITLE2>("b_title2.mst"))
    if (r.FOLDER_NO == 6) sixes.push_back({r.READ_LEVEL, r.WRITE_LEVEL, r.READ_CHK, r.REWRITE_FLG});
  EXPECT_EQ(sixes, std::vector<std::vector<int32_t>>({{0, 0, 1, 1}}));
  EXPECT_TRUE(s.records<B_G_ACL>("b_g_acl.mst").empty());
  EXPECT_TRUE(s.records<B_U_ACL>("b_u_acl.mst").empty());

  // The highest number leaves no room for another.
  write_file_bytes(s.data + "b_title.mst", "Top,2147483647,Dir,\n");
  EXPECT_TRUE(error_page(s.store(s.admin, create), 193, 3));
  EXPECT_EQ(s.shape(), "Top2147483647");
}

TEST(FolderCgi, TwoCreationsAtOnceGetDistinctNumbers) {
  TreeSite s;
  EXPECT_TRUE(run_together(2, [&s](int i) {
    std::string out = s.store(s.admin, {{"JOB", "NEWFOLDERWR"}, {"DISPNO", "0"}, {"CLASS", "1"},
                                        {"MODE", "2"}, {"NAME", "N" + std::to_string(i)}});
    return folder_list(out) ? 0 : 1;
  }));
  std::string shape = s.shape();
  EXPECT_TRUE(shape == std::string(kTree) + " N06 N17" || shape == std::string(kTree) + " N16 N07") << shape;
}

TEST(FolderCgi, DeleteRemovesSubtreeWithMessagesAndRights) {
  TreeSite s;
  // A line that is no folder line does not count as a position.
  write_file_bytes(s.data + "b_title.mst", "junk line\n" + read_file_bytes(s.data + "b_title.mst"));
  for (int f : {2, 4, 5}) {
    s.post(f, 0, "m");
    mkdir((s.add + std::to_string(f)).c_str(), 0700);
    write_file_bytes(s.add + std::to_string(f) + "/1_1_a.txt", "x");
  }
  for (int32_t f : {3, 4, 5}) sB_U_ACL = {f, "Taro", 2}, WriteB_U_ACL(), sB_G_ACL = {f, 1, 1}, WriteB_G_ACL();
  Fields del = {{"JOB", "DELFOLDERWR"}, {"DISPNO", "3"}};  // C with D
  std::string out = s.store(s.key("Taro"), del);
  EXPECT_TRUE(refused(out)) << out;
  EXPECT_TRUE(file_exists(s.data + "4/index.dat"));

  EXPECT_TRUE(folder_list(s.store(s.admin, del)));
  EXPECT_EQ(s.shape(), "A1 .B2 E5");
  std::vector<int32_t> left;
  for (const B_TITLE2& r : s.records<B_TITLE2>("b_title2.mst")) left.push_back(r.FOLDER_NO);
  EXPECT_EQ(left, std::vector<int32_t>({1, 2, 5}));
  for (const B_U_ACL& r : s.records<B_U_ACL>("b_u_acl.mst")) EXPECT_EQ(r.FOLDER_NO, 5);
  for (const B_G_ACL& r : s.records<B_G_ACL>("b_g_acl.mst")) EXPECT_EQ(r.FOLDER_NO, 5);
  EXPECT_FALSE(file_exists(s.data + "4/index.dat"));
  EXPECT_FALSE(file_exists(s.add + "4/1_1_a.txt"));
  EXPECT_TRUE(file_exists(s.data + "2/index.dat") && file_exists(s.add + "5/1_1_a.txt"));

  // A position beyond the end deletes nothing.
  EXPECT_TRUE(folder_list(s.store(s.admin, {{"JOB", "DELFOLDERWR"}, {"DISPNO", "9"}})));
  EXPECT_EQ(s.shape(), "A1 .B2 E5");
}

TEST(FolderCgi, MoveCases) {
  // Folder moved, target, class; the tree afterwards (empty: unchanged); the error message slot.
  const std::tuple<std::string, std::string, std::string, std::string, int> cases[] = {
      {"5", "0", "2", "E5 A1 .B2 .C3 ..D4", 0},   // to the top
      {"3", "5", "1", "A1 .B2 E5 C3 .D4", 0},     // after E, E's level
      {"2", "3", "2", "A1 .C3 ..B2 ..D4 E5", 0},  // first entry of C
      {"5", "1", "1", "A1 .B2 .C3 ..D4 E5", 242},  // where it already stands
      {"3", "1", "9", "A1 .B2 C3 .D4 E5", 0},     // class 9 counts as 1: after A's subtree
      {"2", "3", "1", "A1 .C3 ..D4 .B2 E5", 0},   // after C's subtree, C's level
      {"1", "3", "2", "", 242},                    // into its own subdirectory
      {"3", "3", "2", "", 242},                    // onto itself
      {"2", "1", "2", "", 242},                    // into the directory right above it
      {"2", "5", "2", "", 207},                    // into a board
      {"2", "6", "1", "", 207},                    // target beyond the end
  };
  for (const auto& [src, target, cls, shape, message] : cases) {
    TreeSite s;
    write_file_bytes(s.data + "b_title.mst", "junk\n" + read_file_bytes(s.data + "b_title.mst"));
    std::string out = s.store(s.admin, {{"JOB", "BORDMOVEWR"}, {"SRC_DISPNO", src},
                                        {"DISPNO", target}, {"CLASS", cls}});
    std::string label = src + ">" + target + "/" + cls;
    EXPECT_EQ(s.shape(), shape.empty() ? kTree : shape) << label;
    if (message)
      EXPECT_TRUE(error_page(out, 239, message)) << label << out;
    else
      EXPECT_TRUE(folder_list(out)) << label;
  }
}

TEST(FolderCgi, PagesShowTheTreeEscapedAndMovesRefusedOrFailedKeepIt) {
  TreeSite s;
  s.configure(2, [](B_TITLE2& b) { set_field(b.DIRPIC, "b\".gif"); });
  ASSERT_EQ(ReadB_TITLE(5, 1), 0);
  set_field(sB_TITLE.NAME, "<E&>");
  ASSERT_EQ(ReWriteB_TITLE(5), 0);
  std::string list = s.page(s.admin, {{"JOB", "FOLDERLIST"}});
  EXPECT_TRUE(has(list, "b&quot;.gif\">B</TD>") && has(list, "ALT=\"&lt;E&amp;&gt;\"")) << list;
  std::string form = s.page(s.admin, {{"JOB", "BORDMOVE"}, {"DISPNO", "3"}});
  EXPECT_TRUE(has(form, "(C) S239") && has(form, "<OPTION VALUE=\"5\">5:&lt;E&amp;&gt;\n")) << form;
  EXPECT_TRUE(error_page(s.page(s.admin, {{"JOB", "BORDMOVE"}, {"DISPNO", "6"}}), 239, 207));
  EXPECT_TRUE(refused(s.page(s.key("Taro"), {{"JOB", "BORDMOVE"}, {"DISPNO", "1"}})));

  Fields move = {{"JOB", "BORDMOVEWR"}, {"SRC_DISPNO", "5"}, {"DISPNO", "0"}, {"CLASS", "1"}};
  EXPECT_TRUE(error_page(s.store(s.key("Taro"), move), 239, 3));
  // A failing write leaves the old tree in place and no side files.
  std::string before = read_file_bytes(s.data + "b_title.mst");
  mkdir((s.data + "b_title.mst.tmp").c_str(), 0700);
  EXPECT_TRUE(error_page(s.store(s.admin, move), 239, 3));
  EXPECT_EQ(read_file_bytes(s.data + "b_title.mst"), before);
  rmdir((s.data + "b_title.mst.tmp").c_str());
  // A line that would grow beyond what a reader takes is refused.
  std::string deep = std::string(80, 'x') + ",3,Board,\nD,1,Dir,\n" + std::string(950, ' ') + "Deep,2,Dir,\n";
  write_file_bytes(s.data + "b_title.mst", deep);
  move = {{"JOB", "BORDMOVEWR"}, {"SRC_DISPNO", "1"}, {"DISPNO", "3"}, {"CLASS", "2"}};
  EXPECT_TRUE(error_page(s.store(s.admin, move), 239, 207));
  EXPECT_EQ(read_file_bytes(s.data + "b_title.mst"), deep);
}

}  // namespace
