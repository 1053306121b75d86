// The folder tree ("b_title.mst") and folder settings ("b_title2.mst").

#include "data_dir.h"

namespace {

using FolderStore = DataDir;

int insert(int32_t position, int32_t no, int32_t kind, const std::string& name, int32_t depth = 0) {
  sB_TITLE = B_TITLE{no, kind, {}, depth};
  set_field(sB_TITLE.NAME, name);
  return InsertB_TITLE(position);
}

B_TITLE2 settings_of(int32_t no, int32_t add_max) { return B_TITLE2{.FOLDER_NO = no, .ADD_MAX = add_max}; }
std::string rec(int32_t no, int32_t add_max) { return bytes_of(settings_of(no, add_max)); }

TEST_F(FolderStore, LinesParseIntoDepthNameNumberAndKind) {
  EXPECT_EQ(ReadB_TITLE(1, 2), -1);
  EXPECT_FALSE(file_exists(dir / "b_title.mst"));  // reading never creates the tree
  EXPECT_EQ(NextFOLDER_NO(), 1);
  put("b_title.mst",
      "  Sub,7,Board,\na,1,Dir,\nb,2,board,\nc,3,chat,\nd,4,Xyz,\ne,5,,\n"
      "no third comma,9,Board\n"
      "\x81,x,8,Dir,\n");  // the comma after 0x81 is its second byte
  ASSERT_EQ(ReadB_TITLE(1, 2), 0);
  EXPECT_EQ(std::tuple(sB_TITLE.FOLDER_NO, field(sB_TITLE.NAME), sB_TITLE.DEPTH),
            std::tuple(7, "Sub", 2));
  for (int no = 1; no <= 5; no++)
    EXPECT_EQ(ReadB_TITLE(no, 1) ? -1 : sB_TITLE.KIND, (std::array{1, 2, 3, 0, 0}[no - 1])) << no;
  // The line without its third comma has neither a number nor a position.
  EXPECT_EQ(ReadB_TITLE(9, 1), -1);
  ASSERT_EQ(ReadB_TITLE(7, 2), 0);
  EXPECT_STREQ(sB_TITLE.NAME, "\x81,x");
  EXPECT_EQ(ReadB_TITLE(8, 2), -1);
  EXPECT_EQ(NextFOLDER_NO(), 9);
}

TEST_F(FolderStore, InsertAndDeleteCountPhysicalLines) {
  EXPECT_EQ(insert(0, 1, KIND_DIR, "Top"), -1);
  EXPECT_EQ(insert(1, 1, 4, "Top"), -1);  // no kind word
  EXPECT_EQ(insert(1, 1, KIND_DIR, "Top", 990), -1);  // a line too long to read back
  EXPECT_FALSE(file_exists(dir / "b_title.mst"));
  put("b_title.mst", "a,1,Dir,\nnot a folder\n b,2,Board,\nd,4,Dir,");
  ASSERT_EQ(insert(2, 5, KIND_BOARD, "Notices", 1), 0);
  ASSERT_EQ(insert(10, 6, KIND_CHAT, "e"), 0);  // past the end, after a line without its line feed
  EXPECT_EQ(get("b_title.mst"),
            "a,1,Dir,\nnot a folder\n Notices,5,Board,\n b,2,Board,\nd,4,Dir,\ne,6,Chat,\n");
  EXPECT_EQ(DeleteB_TITLE(7), -1);
  EXPECT_EQ(DeleteB_TITLE(0), -1);
  EXPECT_EQ(DeleteB_TITLE(2), 0);
  sB_TITLE = B_TITLE{5, KIND_DIR, "Renamed", 0};
  EXPECT_EQ(ReWriteB_TITLE(5), 0);
  EXPECT_EQ(get("b_title.mst"), "a,1,Dir,\nRenamed,5,Dir,\n b,2,Board,\nd,4,Dir,\ne,6,Chat,\n");
}

TEST_F(FolderStore, NamesAreCutToFitTheirLine) {
  // A name ends before a comma, line feed or a lead byte standing last.
  ASSERT_EQ(insert(1, 2, KIND_BOARD, "one,two"), 0);
  ASSERT_EQ(insert(1, 3, KIND_DIR, "three\n4,Dir"), 0);
  ASSERT_EQ(insert(2, 4, KIND_DIR, "four\x81"), 0);
  // A full field without a terminator, 82 bytes and a two-byte character.
  sB_TITLE = B_TITLE{1, KIND_BOARD, {}, 0};
  std::memcpy(sB_TITLE.NAME, (std::string(82, 'n') + "\x82\xa0").data(), 84);
  ASSERT_EQ(InsertB_TITLE(3), 0);
  EXPECT_EQ(get("b_title.mst"),
            "one,2,Board,\nthree,3,Dir,\nfour,4,Dir,\n" + std::string(82, 'n') + ",1,Board,\n");
}

TEST_F(FolderStore, SettingsRewriteReplacesEveryCopyOrAppends) {
  put("b_title2.mst", rec(1, 1) + rec(2, 2) + rec(1, 3));
  sB_TITLE2 = settings_of(0, 9);
  ASSERT_EQ(ReWriteB_TITLE2(1), 0);  // stored under the number asked for
  ASSERT_EQ(ReWriteB_TITLE2(7), 0);
  EXPECT_EQ(get("b_title2.mst"), rec(1, 9) + rec(2, 2) + rec(1, 9) + rec(7, 9));
  EXPECT_EQ(DeleteB_TITLE2(1), 0);
  EXPECT_EQ(get("b_title2.mst"), rec(2, 2) + rec(7, 9));
  // Records moved up are still found; another folder's record is no match.
  ASSERT_EQ(ReadB_TITLE2(7), 0);
  EXPECT_EQ(sB_TITLE2.ADD_MAX, 9);
  ASSERT_EQ(ReadB_TITLE2(2), 0);
  EXPECT_EQ(sB_TITLE2.FOLDER_NO, 2);

  std::string disk;
  for (int no = 1; no <= 40; no++) disk += rec(no, no * 10);
  // Several folders at once, across the chunks the file is streamed in.
  put("b_title2.mst", disk + "junk");
  EXPECT_EQ(DeleteB_TITLE2(std::vector<int32_t>{40, 1, 17}), 0);
  std::string left;
  for (int no = 2; no < 40; no++) left += no == 17 ? "" : rec(no, no * 10);
  EXPECT_EQ(get("b_title2.mst"), left);
  EXPECT_EQ(DeleteB_TITLE2(std::vector<int32_t>{99}), -1);
  EXPECT_EQ(get("b_title2.mst"), left);
}


// The heads the menus read agree with the whole records, wherever these stand.
TEST_F(FolderStore, HeadsAgreeWithWholeRecords) {
  EXPECT_EQ(FolderHeads().find(1), nullptr);  // no settings file
  auto full = [](int32_t no, int32_t level, const std::string& pic) {
    B_TITLE2 r{.FOLDER_NO = no, .ADD_MAX = no, .READ_LEVEL = level, .WRITE_LEVEL = level + 1};
    set_field(r.DIRPIC, pic);
    set_field(r.INFO, "about " + pic);
    return bytes_of(r);
  };
  B_TITLE2 unterminated = settings_of(5, 5);
  std::memset(unterminated.DIRPIC, 'p', sizeof unterminated.DIRPIC);
  // 5 stands where 3 would, so the first look at it finds another folder.
  put("b_title2.mst", full(1, 3, "one.gif") + full(2, 0, "") + bytes_of(unterminated) +
                          full(4, 7, "four.gif") + full(4, 9, "late.gif") +
                          full(6, 1, "six.gif").substr(0, 800));
  FolderHeads heads;
  for (int32_t no : {1, 2, 4, 5, 6, 3}) {
    const FolderHead* h = heads.find(no);
    sB_TITLE2 = B_TITLE2{};
    ASSERT_EQ(h != nullptr, ReadB_TITLE2(no) == 0) << no;
    if (!h) continue;
    const B_TITLE2 want = sB_TITLE2;
    EXPECT_EQ(std::tuple(h->READ_LEVEL, h->WRITE_LEVEL, h->DIRPIC),
              std::tuple(want.READ_LEVEL, want.WRITE_LEVEL, std::string(field(want.DIRPIC))))
        << no;
    B_TITLE2 got{};
    ASSERT_EQ(heads.read_record(no, got), 0);
    EXPECT_EQ(bytes_of(got), bytes_of(want)) << no;
  }

  // A tree whose first folder was removed, read in batches of heads.
  std::string many;
  for (int32_t no = 2; no <= 150; no++) many += full(no, no, no % 3 ? "" : std::to_string(no));
  put("b_title2.mst", many);
  auto check = [](int32_t last, int32_t changed) {
    FolderHeads moved;
    for (int32_t no = 1; no <= last + 1; no++) {
      const FolderHead* h = moved.find(no);
      ASSERT_EQ(h != nullptr, no >= 2 && no <= last) << no;
      if (h) {
        EXPECT_EQ(std::tuple(h->READ_LEVEL, h->DIRPIC),
                  std::tuple(no == changed ? 99 : no, no % 3 ? "" : std::to_string(no)))
            << no;
      }
    }
  };
  check(150, 0);
  // The copy of the heads never outlives a change; a damaged copy is read past.
  EXPECT_TRUE(file_exists(dir / "b_title2.heads"));
  sB_TITLE2 = B_TITLE2{.READ_LEVEL = 99, .WRITE_LEVEL = 100};
  set_field(sB_TITLE2.DIRPIC, "75");
  ASSERT_EQ(ReWriteB_TITLE2(75), 0);
  check(150, 75);
  sB_TITLE2 = B_TITLE2{.FOLDER_NO = 151, .READ_LEVEL = 151};
  ASSERT_EQ(InsertB_TITLE2(), 0);
  check(151, 75);
  const std::string copy = get("b_title2.heads");
  for (size_t cut : {size_t{20}, size_t{1000}}) {  // the last head; a piece of several
    put("b_title2.heads", copy.substr(0, copy.size() - cut));
    check(151, 75);
  }
}

}  // namespace
