// The user master: case-insensitive look-up, the line reading rules, field
// cutting, in-place rewrites and deletes, appends, and the three sorted
// copies with their tie order.
#include "store/user.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "settings/sysinfo.h"
#include "site.h"

namespace {

class UserStore : public ::testing::Test {
 protected:
  void SetUp() override {
    snprintf(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, "%s/", dir.path().c_str());
    memset(&sMST_USER, 0, sizeof sMST_USER);
  }
  void master(const std::string& text) { write_file_bytes(dir / "user.mst", text); }
  std::string file(const char* name) { return read_file_bytes(dir / name); }
  // Master line for a user with the given level and group.
  static std::string line(const std::string& id, int level = 1, int group = 0,
                          const std::string& name = "") {
    return id + "," + (name.empty() ? id : name) + "," + std::to_string(level) + ",m@x,pw," +
           std::to_string(group) + ",1,1,2,lng,pic,0,\n";
  }
  // The IDs of a sorted copy, in order, separated by spaces.
  std::string ids(const char* name) {
    std::string out, text = file(name);
    for (size_t pos = 0; pos < text.size();) {
      size_t nl = text.find('\n', pos);
      if (!out.empty()) out += ' ';
      out += text.substr(pos, text.find(',', pos) - pos);
      pos = nl + 1;
    }
    return out;
  }
  TempDir dir;
};

TEST_F(UserStore, LookupIgnoresCaseAndKeepsStoredSpelling) {
  master(line("Taro", 5) + line("TARO", 7));
  char id[24] = "taro";
  ASSERT_EQ(ReadMST_USER(id), 0);
  EXPECT_STREQ(id, "Taro");
  EXPECT_STREQ(sMST_USER.USER_ID, "Taro");
  EXPECT_EQ(sMST_USER.USER_LEVEL, 5);  // the first of the two lines wins

  char other[24] = "jiro";
  EXPECT_EQ(ReadMST_USER(other), -1);
  EXPECT_STREQ(other, "JIRO");
  EXPECT_STREQ(sMST_USER.USER_ID, "Taro");  // unchanged by the miss
}

TEST_F(UserStore, LineReadingRules) {
  master("Ten,n,1,m,p,0,1,1,1,l,p\n"         // ten commas: not a record
         "Eleven,n,3,m,p,4,1,1,1,l,p,1\n"    // last comma missing: NO_READ_MODE 0
         "Empty,,,,,,,,,,,\n"                // empty fields: "" and 0
         "Full,Name,7,a@b,pw,2,3,2,1,j.lng,me.gif,1,\n");
  ASSERT_EQ(ReadMST_USERcount(0), 0);
  EXPECT_STREQ(sMST_USER.USER_ID, "Eleven");
  EXPECT_EQ(sMST_USER.P_GROUP, 4);
  EXPECT_EQ(sMST_USER.NO_READ_MODE, 0);
  ASSERT_EQ(ReadMST_USERcount(1), 0);
  EXPECT_STREQ(sMST_USER.USER_ID, "Empty");
  EXPECT_EQ(sMST_USER.USER_LEVEL, 0);
  EXPECT_STREQ(sMST_USER.PICFILE, "");
  ASSERT_EQ(ReadMST_USERcount(2), 0);
  EXPECT_STREQ(sMST_USER.USER_NAME, "Name");
  EXPECT_EQ(sMST_USER.MODE, 2);
  EXPECT_EQ(sMST_USER.WRITE_MODE, 1);
  EXPECT_STREQ(sMST_USER.LANGUAGE, "j.lng");
  EXPECT_EQ(sMST_USER.NO_READ_MODE, 1);
  EXPECT_EQ(ReadMST_USERcount(3), -1);
  ASSERT_EQ(ReadMST_USERcount(-4), 0);
  EXPECT_STREQ(sMST_USER.USER_ID, "Eleven");
}

TEST_F(UserStore, OverlongFieldsAreCutAtTheirWidth) {
  std::string long_id(30, 'i'), long_name(100, 'n');
  // A two-byte character straddling the name's last byte is dropped whole.
  std::string sjis_name = std::string(80, 'a') + "\x82\xa0" + "zz";
  master(long_id + "," + long_name + ",1," + std::string(400, 'e') + "," +
         std::string(40, 'p') + ",0,1,1,1," + std::string(300, 'l') + ",,0,\n" +
         "Kana," + sjis_name + ",1,,,0,1,1,1,,,0,\n");
  ASSERT_EQ(ReadMST_USERcount(0), 0);
  EXPECT_EQ(std::string(sMST_USER.USER_ID), std::string(21, 'i'));
  EXPECT_EQ(std::string(sMST_USER.USER_NAME), std::string(81, 'n'));
  EXPECT_EQ(strlen(sMST_USER.E_MAIL_ADDR), 251u);
  EXPECT_EQ(strlen(sMST_USER.USER_PASS), 23u);
  EXPECT_EQ(strlen(sMST_USER.LANGUAGE), 255u);
  EXPECT_EQ(sMST_USER.NO_READ_MODE, 0);
  ASSERT_EQ(ReadMST_USERcount(1), 0);
  EXPECT_EQ(std::string(sMST_USER.USER_NAME), std::string(80, 'a'));
}

TEST_F(UserStore, ToUppersLeavesTwoByteCharactersAlone) {
  // 0x83 0x61 is one character whose second byte looks like "a".
  char s[] = "ab\x83\x61z\xb1q";
  ToUppers(s);
  EXPECT_STREQ(s, "AB\x83\x61Z\xb1Q");
  char lone[] = "a\x83";  // a lead byte at the very end
  ToUppers(lone);
  EXPECT_STREQ(lone, "A\x83");
}

TEST_F(UserStore, RewriteReplacesLineInPlaceByExactId) {
  master(line("Alice") + "no comma here\n" + "short,line\n" + line("Bob") + line("Carol"));
  char id[24] = "bob";
  ASSERT_EQ(ReadMST_USER(id), 0);
  strcpy(sMST_USER.USER_NAME, "Robert");
  sMST_USER.NO_READ_MODE = 1;
  EXPECT_EQ(ReWriteMST_USER(), 0);
  EXPECT_EQ(file("user.mst"), line("Alice") + "short,line\n" +
                                  "Bob,Robert,1,m@x,pw,0,1,1,2,lng,pic,1,\n" + line("Carol"));
  EXPECT_FALSE(file_exists(dir / "user.mst.tmp"));

  // An ID that differs only in case is another user for a rewrite.
  strcpy(sMST_USER.USER_ID, "BOB");
  std::string before = file("user.mst");
  EXPECT_EQ(ReWriteMST_USER(), -1);
  EXPECT_EQ(file("user.mst"), before);
}

TEST_F(UserStore, DeleteRemovesOnlyTheExactId) {
  master(line("Alice") + line("Bob") + line("bob"));
  EXPECT_EQ(DeleteMST_USER("Bob"), 0);
  EXPECT_EQ(file("user.mst"), line("Alice") + line("bob"));
  EXPECT_EQ(DeleteMST_USER("Nobody"), -1);
  EXPECT_EQ(file("user.mst"), line("Alice") + line("bob"));
}

TEST_F(UserStore, InsertAppendsEvenAfterMissingFinalLineFeed) {
  std::string first = line("Admin", 100);
  first.pop_back();  // typed by hand without the last line feed
  master(first);
  memset(&sMST_USER, 0, sizeof sMST_USER);
  strcpy(sMST_USER.USER_ID, "New");
  strcpy(sMST_USER.USER_NAME, "Newcomer");
  sMST_USER.USER_LEVEL = 1;
  sMST_USER.MODE = 1;
  ASSERT_EQ(InsertMST_USER(), 0);
  EXPECT_EQ(file("user.mst"), first + "\nNew,Newcomer,1,,,0,0,1,0,,,0,\n");
  char id[24] = "new";
  EXPECT_EQ(ReadMST_USER(id), 0);
  char admin[24] = "admin";
  EXPECT_EQ(ReadMST_USER(admin), 0);
}

TEST_F(UserStore, SortedCopiesOrderAndFormat) {
  master(line("carol", 5, 3) + line("Bob", 100, 0) + line("alice", 20, 1) +
         line("dave", 10000, 2) + line("erin", 999, 0) + line("frank", 1001, 2) +
         ",noid,1,,,0,0,0,0,,,0,\n");
  MakeOderID();
  EXPECT_EQ(ids("user2.mst"), "alice Bob carol dave erin frank");
  // Ten fields, WRITE_MODE and PICFILE left out.
  EXPECT_EQ(file("user2.mst").substr(0, 35), "alice,alice,20,m@x,pw,1,1,1,lng,0,\n");
  MakeOderLevel();
  // Levels compare as four-digit texts: 10000 counts as 1000, below 1001.
  EXPECT_EQ(ids("user3.mst"), "frank dave erin Bob alice carol");
  MakeOderPgroup();
  // Group 0 first; dave and frank tie and come out swapped.
  EXPECT_EQ(ids("user4.mst"), "erin Bob alice dave frank carol");
}

TEST_F(UserStore, SortedCopiesKeepTheExchangeSortTieOrder) {
  // In ID order a(5) b(5) c(7). Swapping a with c puts b ahead of a, which
  // a stable sort would not do; the list has always shown them that way.
  master(line("a", 5) + line("b", 5) + line("c", 7));
  MakeOderID();
  MakeOderLevel();
  EXPECT_EQ(ids("user3.mst"), "c b a");
}

TEST_F(UserStore, SortedCopiesTakeRecordsFromTheMaster) {
  master(line("Alice", 1, 0, "Fresh") + line("Bob"));
  // A stale ID-order copy: an old name, and a user since deleted.
  write_file_bytes(dir / "user2.mst",
                   "Alice,Stale,1,m@x,pw,0,1,1,lng,0,\nGone,Gone,1,,,0,1,1,,0,\n");
  MakeOderLevel();
  EXPECT_EQ(file("user3.mst"), "Alice,Fresh,1,m@x,pw,0,1,1,lng,0,\n");
}

TEST_F(UserStore, MissingMasterGivesEmptyFiles) {
  char id[24] = "x";
  EXPECT_EQ(ReadMST_USER(id), -1);
  write_file_bytes(dir / "user2.mst", "old,old,1,,,0,1,1,,0,\n");
  MakeOderID();
  MakeOderLevel();
  MakeOderPgroup();
  for (const char* f : {"user.mst", "user2.mst", "user3.mst", "user4.mst"}) {
    EXPECT_TRUE(file_exists(dir / f)) << f;
    EXPECT_EQ(file(f), "") << f;
  }
}

}  // namespace
