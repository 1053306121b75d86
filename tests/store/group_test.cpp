// Groups ("group.mst") and memberships ("g_user.mst").
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "site.h"
#include "store/group.h"

namespace {

class GroupStore : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
  }
  std::string groups() const { return dir / "group.mst"; }
  std::string members() const { return dir / "g_user.mst"; }
  TempDir dir;
};

void set_group(int32_t id, const std::string& name) {
  std::memset(&sMST_GROUP, 0, sizeof sMST_GROUP);
  sMST_GROUP.T02_GROUP_ID = id;
  set_field(sMST_GROUP.T02_GROUP_NAME, name);
}

void set_member(int32_t group, const std::string& id) {
  std::memset(&sGROUP_USER, 0, sizeof sGROUP_USER);
  sGROUP_USER.T02_GROUP_ID = group;
  set_field(sGROUP_USER.USER_ID, id);
}

std::vector<int32_t> groups_of(const char* id, int* rc) {
  std::vector<int32_t> list(GROUP_LIST_SIZE, 0);
  *rc = ReadGROUP_USER1(id, list.data());
  std::vector<int32_t> out;
  for (int32_t g : list) {
    if (g == 0) break;
    out.push_back(g);
  }
  return out;
}

TEST_F(GroupStore, GroupsStandInOrderAndRenameInPlace) {
  for (auto [id, name] : {std::pair{5, "five"}, {2, "two"}, {9, "nine"}}) {
    set_group(id, name);
    ASSERT_EQ(ReWriteMST_GROUP(), 0);
  }
  EXPECT_EQ(read_file_bytes(groups()), "2,two,\n5,five,\n9,nine,\n");
  set_group(5, "FIVE");
  ASSERT_EQ(ReWriteMST_GROUP(), 0);
  EXPECT_EQ(read_file_bytes(groups()), "2,two,\n5,FIVE,\n9,nine,\n");
  EXPECT_FALSE(file_exists(dir / "F_GROUP_MST.tmp"));

  ASSERT_EQ(ReadGROUP_MST(5), 0);
  EXPECT_EQ(sMST_GROUP.T02_GROUP_ID, 5);
  EXPECT_STREQ(sMST_GROUP.T02_GROUP_NAME, "FIVE");
  EXPECT_EQ(ReadGROUP_MST(4), -1);
  EXPECT_STREQ(sMST_GROUP.T02_GROUP_NAME, "FIVE");  // unchanged by a miss

  set_group(9, "");
  ASSERT_EQ(DeleteMST_GROUP(), 0);
  EXPECT_EQ(read_file_bytes(groups()), "2,two,\n5,FIVE,\n");
  EXPECT_FALSE(file_exists(dir / "TEMP"));
}

TEST_F(GroupStore, GroupLinesAreReadByTheirNonEmptyFieldsAndNamesStayOnOneLine) {
  EXPECT_EQ(ReadGROUP_MST(1), -1);
  EXPECT_TRUE(file_exists(groups()));  // created empty

  write_file_bytes(groups(), ",,3,,three,\n4,\n\n7,a,b,\n");
  ASSERT_EQ(ReadGROUP_MST(3), 0);
  EXPECT_STREQ(sMST_GROUP.T02_GROUP_NAME, "three");
  EXPECT_EQ(ReadGROUP_MST(4), -1);  // no name: no group
  ASSERT_EQ(ReadGROUP_MST(7), 0);
  EXPECT_STREQ(sMST_GROUP.T02_GROUP_NAME, "a");  // a comma ends the name

  // The insert drops lines without any field and keeps the others. A name
  // is cut at a line feed (which would forge another line) and to its field.
  set_group(5, "five\n6,forged");
  ASSERT_EQ(ReWriteMST_GROUP(), 0);
  set_group(8, "");
  std::memcpy(sMST_GROUP.T02_GROUP_NAME, (std::string(82, 'g') + "\x82\xa0").data(), 84);
  ASSERT_EQ(ReWriteMST_GROUP(), 0);
  EXPECT_EQ(read_file_bytes(groups()),
            ",,3,,three,\n4,\n5,five,\n7,a,b,\n8," + std::string(82, 'g') + ",\n");
}

TEST_F(GroupStore, MembershipsAreAddedOnceAndReadPerUser) {
  int rc = 0;
  std::vector<int32_t> none = groups_of("amy", &rc);
  EXPECT_EQ(rc, -1);
  EXPECT_TRUE(none.empty());
  EXPECT_FALSE(file_exists(members()));  // not created by reading

  set_member(3, "amy");
  ASSERT_EQ(WriteGROUP_USER(), 0);
  ASSERT_EQ(WriteGROUP_USER(), 0);
  set_member(1, "bob");
  ASSERT_EQ(WriteGROUP_USER(), 0);
  set_member(7, "amy");
  ASSERT_EQ(WriteGROUP_USER(), 0);
  set_member(7, "AMY");
  ASSERT_EQ(WriteGROUP_USER(), 0);
  EXPECT_EQ(read_file_bytes(members()), "3,amy,\n1,bob,\n7,amy,\n7,AMY,\n");

  EXPECT_EQ(groups_of("amy", &rc), (std::vector<int32_t>{3, 7}));
  EXPECT_EQ(rc, 1);
  groups_of("carl", &rc);
  EXPECT_EQ(rc, -1);
}

TEST_F(GroupStore, AdditionStartsOnALineOfItsOwn) {
  write_file_bytes(members(), "3,amy,");
  set_member(4, "bob");
  ASSERT_EQ(WriteGROUP_USER(), 0);
  EXPECT_EQ(read_file_bytes(members()), "3,amy,\n4,bob,\n");
  // An ID that would break the line is cut where it would break it.
  set_member(5, "x,y");
  ASSERT_EQ(WriteGROUP_USER(), 0);
  set_member(6, "z\x81");
  ASSERT_EQ(WriteGROUP_USER(), 0);
  EXPECT_EQ(read_file_bytes(members()), "3,amy,\n4,bob,\n5,x,\n6,z,\n");
}

TEST_F(GroupStore, RemovalsByMembershipGroupAndUser) {
  std::string start = "3,a,\n1,b,\nbroken\n3,c,\n2,a,\n3,a,\n";
  write_file_bytes(members(), start);
  set_member(3, "a");
  EXPECT_EQ(DeleteGROUP_USER(4), -1);
  EXPECT_EQ(read_file_bytes(members()), start);

  ASSERT_EQ(DeleteGROUP_USER(1), 0);
  EXPECT_EQ(read_file_bytes(members()), "1,b,\n3,c,\n2,a,\n");
  EXPECT_FALSE(file_exists(members() + ".tmp"));

  write_file_bytes(members(), start);
  ASSERT_EQ(DeleteGROUP_USER(2), 0);
  EXPECT_EQ(read_file_bytes(members()), "1,b,\n2,a,\n");

  write_file_bytes(members(), start);
  ASSERT_EQ(DeleteGROUP_USER2("a"), 0);
  EXPECT_EQ(read_file_bytes(members()), "1,b,\n3,c,\n");
  EXPECT_FALSE(file_exists(members() + ".TMP"));

  std::remove(members().c_str());
  DeleteGROUP_USER2("a");
  EXPECT_FALSE(file_exists(members()));
}

// The membership sort as a pass-by-pass bubble sort over the file's lines,
// exactly as the store has to order them.
std::vector<std::pair<int32_t, std::string>> bubble_passes(
    std::vector<std::pair<int32_t, std::string>> m) {
  size_t n = m.size();
  while (n >= 2) {
    std::vector<std::pair<int32_t, std::string>> out;
    auto held = m[0];
    size_t i = 1;
    for (; i < n && i < m.size(); i++) {
      if (m[i].first > held.first) {
        out.push_back(held);
        held = m[i];
      } else {
        out.push_back(m[i]);
      }
    }
    out.push_back(held);
    for (; i < m.size(); i++) out.push_back(m[i]);
    m = out;
    n--;
  }
  return m;
}

std::string lines_of(const std::vector<std::pair<int32_t, std::string>>& m) {
  std::string s;
  for (auto& [g, id] : m) s += std::to_string(g) + "," + id + ",\n";
  return s;
}

TEST_F(GroupStore, SortGivesTheOrderOfThePassByPassBubbleSort) {
  write_file_bytes(members(), "3,a,\n1,b,\n3,c,\n2,d,\n");
  ASSERT_EQ(SortGROUP_USER(), 0);
  EXPECT_EQ(read_file_bytes(members()), "1,b,\n2,d,\n3,c,\n3,a,\n");
  EXPECT_FALSE(file_exists(members() + ".tmp"));

  std::mt19937 rng(7);
  std::vector<std::vector<std::pair<int32_t, std::string>>> inputs = {
      {{1, "a"}, {1, "b"}},
      {{2, "a"}, {1, "b"}, {2, "c"}, {1, "d"}, {2, "e"}},
      {{5, "a"}, {5, "b"}, {5, "c"}, {5, "d"}},
      {{9, "a"}, {8, "b"}, {7, "c"}, {6, "d"}},
      {{2, "a"}, {1, "b"}, {3, "c"}, {4, "d"}},
  };
  for (int k = 0; k < 20; k++) {
    std::vector<std::pair<int32_t, std::string>> m;
    int n = 2 + static_cast<int>(rng() % 30);
    for (int i = 0; i < n; i++)
      m.emplace_back(static_cast<int32_t>(rng() % 4), "u" + std::to_string(i));
    inputs.push_back(m);
  }
  for (const auto& m : inputs) {
    write_file_bytes(members(), lines_of(m));
    ASSERT_EQ(SortGROUP_USER(), 0);
    EXPECT_EQ(read_file_bytes(members()), lines_of(bubble_passes(m))) << lines_of(m);
  }
}

TEST_F(GroupStore, SortDropsBrokenLinesOnlyWhenItSorts) {
  write_file_bytes(members(), "junk\n4,a,\n");
  ASSERT_EQ(SortGROUP_USER(), 0);
  EXPECT_EQ(read_file_bytes(members()), "junk\n4,a,\n");  // one membership: untouched
  write_file_bytes(members(), "junk\n4,a,\n 2,b,\n");
  ASSERT_EQ(SortGROUP_USER(), 0);
  EXPECT_EQ(read_file_bytes(members()), "2,b,\n4,a,\n");
  std::remove(members().c_str());
  SortGROUP_USER();
  EXPECT_FALSE(file_exists(members()));
}

}  // namespace
