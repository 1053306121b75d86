// The folder tree store: folder lines in "b_title.mst" and settings records
// in "b_title2.mst".
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "site.h"
#include "store/folder.h"

namespace {

class FolderStore : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
  }
  std::string tree() const { return dir / "b_title.mst"; }
  std::string settings() const { return dir / "b_title2.mst"; }
  TempDir dir;
};

void set_folder(int32_t no, int32_t kind, const std::string& name, int32_t depth) {
  std::memset(&sB_TITLE, 0, sizeof sB_TITLE);
  sB_TITLE.FOLDER_NO = no;
  sB_TITLE.KIND = kind;
  set_field(sB_TITLE.NAME, name);
  sB_TITLE.DEPTH = depth;
}

B_TITLE2 settings_of(int32_t no, int32_t add_max) {
  B_TITLE2 r;
  std::memset(&r, 0, sizeof r);
  r.FOLDER_NO = no;
  r.ADD_MAX = add_max;
  return r;
}

std::string rec(int32_t no, int32_t add_max) {
  B_TITLE2 r = settings_of(no, add_max);
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

TEST_F(FolderStore, LinesParseIntoDepthNameNumberAndKind) {
  write_file_bytes(tree(),
                   "  Sub,7,Board,\n"
                   "a,1,Dir,\nb,2,board,\nc,3,chat,\nd,4,Xyz,\ne,5,,\n"
                   "no third comma,6,Board\n"
                   "\x81,x,8,Dir,\n");  // the comma after 0x81 is its second byte
  ASSERT_EQ(ReadB_TITLE(1, 2), 0);
  EXPECT_EQ(sB_TITLE.FOLDER_NO, 7);
  EXPECT_EQ(sB_TITLE.KIND, 2);
  EXPECT_STREQ(sB_TITLE.NAME, "Sub");
  EXPECT_EQ(sB_TITLE.DEPTH, 2);
  int kinds[] = {1, 2, 3, 0, 0};
  for (int no = 1; no <= 5; no++) {
    ASSERT_EQ(ReadB_TITLE(no, 1), 0) << no;
    EXPECT_EQ(sB_TITLE.KIND, kinds[no - 1]) << no;
  }
  // The line without its third comma has neither a number nor a position.
  EXPECT_EQ(ReadB_TITLE(6, 1), -1);
  ASSERT_EQ(ReadB_TITLE(7, 2), 0);
  EXPECT_EQ(sB_TITLE.FOLDER_NO, 8);
  EXPECT_STREQ(sB_TITLE.NAME, "\x81,x");
  EXPECT_EQ(ReadB_TITLE(8, 2), -1);
  EXPECT_EQ(sB_TITLE.FOLDER_NO, 8);  // a miss leaves the buffer alone
}

TEST_F(FolderStore, ReadingNeverCreatesTheTreeAndNumbersStartAtOne) {
  EXPECT_EQ(ReadB_TITLE(1, 2), -1);
  EXPECT_FALSE(file_exists(tree()));
  EXPECT_EQ(NextFOLDER_NO(), 1);
  write_file_bytes(tree(), "a,1,Dir,\n b,5,Board,\n c,3,Chat,\n");
  EXPECT_EQ(NextFOLDER_NO(), 6);
}

TEST_F(FolderStore, InsertGoesAfterThePhysicalLineOrAtTheEnd) {
  set_folder(1, 1, "Top", 0);
  ASSERT_EQ(InsertB_TITLE(1), 0);  // creates the file
  EXPECT_EQ(read_file_bytes(tree()), "Top,1,Dir,\n");

  write_file_bytes(tree(), "a,1,Dir,\nnot a folder\n b,2,Board,\n");
  set_folder(4, 2, "Notices", 1);
  ASSERT_EQ(InsertB_TITLE(2), 0);  // physical lines count, folder or not
  EXPECT_EQ(read_file_bytes(tree()), "a,1,Dir,\nnot a folder\n Notices,4,Board,\n b,2,Board,\n");
  EXPECT_FALSE(file_exists(tree() + ".TMP"));

  // Past the end, and after a last line that lacks its line feed.
  write_file_bytes(tree(), "a,1,Dir,\nb,2,Dir,\nc,3,Dir,\nd,4,Dir,");
  set_folder(5, 3, "e", 0);
  ASSERT_EQ(InsertB_TITLE(10), 0);
  EXPECT_EQ(read_file_bytes(tree()), "a,1,Dir,\nb,2,Dir,\nc,3,Dir,\nd,4,Dir,\ne,5,Chat,\n");
}

TEST_F(FolderStore, CallsOutsideTheContractWriteNothing) {
  set_folder(1, 1, "Top", 0);
  EXPECT_EQ(InsertB_TITLE(0), -1);
  for (int kind : {0, 4}) {
    set_folder(1, kind, "Top", 0);
    EXPECT_EQ(InsertB_TITLE(1), -1) << kind;
  }
  EXPECT_FALSE(file_exists(tree()));
  write_file_bytes(tree(), "Top,1,Dir,\n");
  EXPECT_EQ(ReWriteB_TITLE(1), -1);
  EXPECT_EQ(read_file_bytes(tree()), "Top,1,Dir,\n");
}

TEST_F(FolderStore, NamesAreCutToFitTheirLine) {
  // 82 bytes and a two-byte character that does not fit in 83.
  std::string name = std::string(82, 'n') + "\x82\xa0";
  set_folder(1, 2, "", 0);
  std::memcpy(sB_TITLE.NAME, name.data(), 84);  // no terminator
  ASSERT_EQ(InsertB_TITLE(1), 0);
  // A comma or line feed would split the line; the name ends before it.
  set_folder(2, 2, "one,two", 0);
  ASSERT_EQ(InsertB_TITLE(1), 0);
  set_folder(3, 1, "three\n4,Dir", 0);
  ASSERT_EQ(InsertB_TITLE(2), 0);
  // A lead byte at the end would take the comma after it for its pair.
  set_folder(4, 1, "four\x81", 0);
  ASSERT_EQ(InsertB_TITLE(3), 0);
  EXPECT_EQ(read_file_bytes(tree()),
            std::string(82, 'n') + ",1,Board,\none,2,Board,\nthree,3,Dir,\nfour,4,Dir,\n");
}

TEST_F(FolderStore, RewriteReplacesEveryCopyAndDropsOtherLines) {
  write_file_bytes(tree(), "A,4,Dir,\n B,4,Board,\ngarbage line\nC,5,Chat,\n");
  ASSERT_EQ(ReadB_TITLE(4, 1), 0);
  EXPECT_STREQ(sB_TITLE.NAME, "A");
  set_folder(4, 2, "New", 1);
  EXPECT_EQ(ReWriteB_TITLE(4), 0);
  EXPECT_EQ(read_file_bytes(tree()), " New,4,Board,\n New,4,Board,\nC,5,Chat,\n");
  EXPECT_FALSE(file_exists(tree() + ".tmp"));

  write_file_bytes(tree(), "A,1,Dir,\njunk\n");
  EXPECT_EQ(ReWriteB_TITLE(9), -1);
  EXPECT_EQ(read_file_bytes(tree()), "A,1,Dir,\n");
}

TEST_F(FolderStore, DeleteRemovesOnePhysicalLine) {
  std::string four = "a,1,Dir,\nb,2,Dir,\nc,3,Dir,\nd,4,Dir,\n";
  write_file_bytes(tree(), four);
  EXPECT_EQ(DeleteB_TITLE(9), -1);
  EXPECT_EQ(DeleteB_TITLE(0), -1);
  EXPECT_EQ(read_file_bytes(tree()), four);
  EXPECT_EQ(DeleteB_TITLE(2), 0);
  EXPECT_EQ(read_file_bytes(tree()), "a,1,Dir,\nc,3,Dir,\nd,4,Dir,\n");
}

TEST_F(FolderStore, SettingsRecordsHoldTheirFieldsAtTheirOffsets) {
  EXPECT_EQ(ReadB_TITLE2(1), -1);
  EXPECT_TRUE(file_exists(settings()));  // created empty by the access

  sB_TITLE2 = settings_of(3, 2);
  std::memcpy(sB_TITLE2.FONTCOLOR, "FF00001X", 8);  // no room for a terminator
  std::string info = std::string(3999, 'i') + "\x82\xa0";  // one byte over 4000
  std::memcpy(sB_TITLE2.INFO, info.data(), info.size());
  ASSERT_EQ(InsertB_TITLE2(), 0);
  std::string bytes = read_file_bytes(settings());
  ASSERT_EQ(bytes.size(), 8800u);
  EXPECT_EQ(bytes.substr(0, 8), std::string("\x03\0\0\0\x02\0\0\0", 8));
  EXPECT_EQ(bytes.substr(780, 4002), std::string(3999, 'i') + std::string(3, '\0'));
  EXPECT_EQ(bytes.substr(8784, 8), std::string("FF00001\0", 8));

  sB_TITLE2.ADD_MAX = 77;
  EXPECT_EQ(ReadB_TITLE2(4), -1);
  EXPECT_EQ(sB_TITLE2.ADD_MAX, 77);  // a miss leaves the buffer alone
  ASSERT_EQ(ReadB_TITLE2(3), 0);
  EXPECT_EQ(sB_TITLE2.ADD_MAX, 2);
}

TEST_F(FolderStore, SettingsRewriteReplacesEveryCopyOrAppends) {
  write_file_bytes(settings(), rec(1, 1) + rec(2, 2) + rec(1, 3));
  sB_TITLE2 = settings_of(1, 9);
  ASSERT_EQ(ReWriteB_TITLE2(1), 0);
  EXPECT_EQ(read_file_bytes(settings()), rec(1, 9) + rec(2, 2) + rec(1, 9));
  EXPECT_FALSE(file_exists(settings() + ".TMP"));

  // A folder without a record gets one at the end, under the number asked
  // for even when the buffer still holds another.
  sB_TITLE2 = settings_of(0, 5);
  ASSERT_EQ(ReWriteB_TITLE2(7), 0);
  EXPECT_EQ(read_file_bytes(settings()), rec(1, 9) + rec(2, 2) + rec(1, 9) + rec(7, 5));

  EXPECT_EQ(DeleteB_TITLE2(8), -1);
  EXPECT_EQ(DeleteB_TITLE2(1), 0);
  EXPECT_EQ(read_file_bytes(settings()), rec(2, 2) + rec(7, 5));
}

TEST_F(FolderStore, PartialTailIsIgnoredAndDropped) {
  std::string tail = rec(2, 2).substr(0, 100);
  write_file_bytes(settings(), rec(1, 1) + tail);
  EXPECT_EQ(ReadB_TITLE2(2), -1);
  EXPECT_EQ(DeleteB_TITLE2(5), -1);  // nothing removed, but the tail goes
  EXPECT_EQ(read_file_bytes(settings()), rec(1, 1));

  write_file_bytes(settings(), rec(1, 1) + tail);
  sB_TITLE2 = settings_of(3, 3);
  ASSERT_EQ(InsertB_TITLE2(), 0);  // lands on a record boundary
  EXPECT_EQ(read_file_bytes(settings()), rec(1, 1) + rec(3, 3));

  write_file_bytes(settings(), rec(1, 1) + tail);
  sB_TITLE2 = settings_of(1, 4);
  ASSERT_EQ(ReWriteB_TITLE2(1), 0);
  EXPECT_EQ(read_file_bytes(settings()), rec(1, 4));
}

TEST_F(FolderStore, LookupFindsRecordsBeyondTheFirstRead) {
  std::string disk;
  for (int no = 1; no <= 40; no++) disk += rec(no, no * 10);
  write_file_bytes(settings(), disk + "partial");
  for (int no : {1, 16, 17, 33, 40}) {
    ASSERT_EQ(ReadB_TITLE2(no), 0) << no;
    EXPECT_EQ(sB_TITLE2.ADD_MAX, no * 10);
  }
  EXPECT_EQ(ReadB_TITLE2(41), -1);
}

}  // namespace
