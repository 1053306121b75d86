// Groups ("group.mst") and memberships ("g_user.mst").
#include <cstring>
#include <random>
#include <utility>
#include <vector>

#include "data_dir.h"
#include "store/group.h"

namespace {

class GroupStore : public DataDir {
 protected:
  static void set_member(int32_t group, const std::string& id) {
    sGROUP_USER = GROUP_USER{group, {}};
    set_field(sGROUP_USER.USER_ID, id);
  }
  std::string groups() const { return dir / "group.mst"; }
  std::string members() const { return dir / "g_user.mst"; }
};

TEST_F(GroupStore, GroupsStandInOrderAndRenameInPlace) {
  write_file_bytes(groups(), ",,3,,three,\n\n7,a,b,\n");
  for (auto [id, name] : {std::pair{5, "five\n6,forged"}, {2, "two"}, {9, "nine"}, {5, "FIVE"}}) {
    sMST_GROUP = MST_GROUP{id, {}};
    set_field(sMST_GROUP.T02_GROUP_NAME, name);
    ASSERT_EQ(ReWriteMST_GROUP(), 0);
  }
  sMST_GROUP = MST_GROUP{8, {}};  // a full field, cut before a character it would split
  std::memcpy(sMST_GROUP.T02_GROUP_NAME, (std::string(82, 'g') + "\x82\xa0").data(), 84);
  ASSERT_EQ(ReWriteMST_GROUP(), 0);
  // The line without any field goes; a line feed in a name would forge
  // another line, so the name ends before it.
  EXPECT_EQ(read_file_bytes(groups()), "2,two,\n,,3,,three,\n5,FIVE,\n7,a,b,\n8," +
                                           std::string(82, 'g') + ",\n9,nine,\n");
  ASSERT_EQ(ReadGROUP_MST(3), 0);  // fields are the non-empty ones
  EXPECT_STREQ(sMST_GROUP.T02_GROUP_NAME, "three");
  EXPECT_EQ(ReadGROUP_MST(4), -1);
  sMST_GROUP.T02_GROUP_ID = 8;
  ASSERT_EQ(DeleteMST_GROUP(), 0);
  EXPECT_EQ(read_file_bytes(groups()), "2,two,\n,,3,,three,\n5,FIVE,\n7,a,b,\n9,nine,\n");
}

TEST_F(GroupStore, MembershipsAreAddedOnceOnLinesOfTheirOwn) {
  std::vector<int32_t> list(GROUP_LIST_SIZE, 0);
  EXPECT_EQ(ReadGROUP_USER1("amy", list.data()), -1);
  EXPECT_FALSE(file_exists(members()));  // not created by reading
  write_file_bytes(members(), "3,amy,");  // the last line lacks its line feed
  for (auto [group, id] : {std::pair{3, "amy"}, {1, "bob"}, {7, "amy"}, {7, "AMY"},
                           {5, "x,y"}, {6, "z\x81"}}) {  // cut where the line would break
    set_member(group, id);
    ASSERT_EQ(WriteGROUP_USER(), 0);
  }
  EXPECT_EQ(read_file_bytes(members()), "3,amy,\n1,bob,\n7,amy,\n7,AMY,\n5,x,\n6,z,\n");
  EXPECT_EQ(ReadGROUP_USER1("amy", list.data()), 1);
  EXPECT_EQ(std::vector<int32_t>(list.begin(), list.begin() + 3), (std::vector<int32_t>{3, 7, 0}));

  std::string many;  // more groups than the caller's list holds
  for (int g = 1; g <= 10001; g++) many += std::to_string(g) + ",amy,\n";
  write_file_bytes(members(), many);
  list.assign(GROUP_LIST_SIZE + 1, -1);
  EXPECT_EQ(ReadGROUP_USER1("amy", list.data()), 9998);
  EXPECT_EQ(list[GROUP_LIST_SIZE - 1], 0);
  EXPECT_EQ(list[GROUP_LIST_SIZE], -1);  // nothing written past it
}

TEST_F(GroupStore, RemovalsByMembershipGroupAndUser) {
  struct {
    int mode;  // 3: every membership of the user
    const char* left;
  } cases[] = {{1, "1,b,\n3,c,\n2,a,\n"}, {2, "1,b,\n2,a,\n"}, {3, "1,b,\n3,c,\n"}};
  for (const auto& c : cases) {
    write_file_bytes(members(), "3,a,\n1,b,\nbroken\n3,c,\n2,a,\n3,a,\n");
    set_member(3, "a");
    ASSERT_EQ(c.mode == 3 ? DeleteGROUP_USER2("a") : DeleteGROUP_USER(c.mode), 0);
    EXPECT_EQ(read_file_bytes(members()), c.left) << c.mode;
  }
}

// The membership sort, pass by pass as a bubble sort that carries the
// earlier of two equal numbers past the later one.
std::string bubble_sorted(std::vector<std::pair<int32_t, std::string>> m) {
  for (size_t n = m.size(); n >= 2; n--)
    for (size_t i = 0; i + 1 < n; i++)
      if (m[i].first >= m[i + 1].first) std::swap(m[i], m[i + 1]);
  std::string s;
  for (auto& [g, id] : m) s += std::to_string(g) + "," + id + ",\n";
  return s;
}

TEST_F(GroupStore, SortGivesTheOrderOfThePassByPassBubbleSort) {
  write_file_bytes(members(), "junk\n3,a,\n1,b,\n3,c,\n2,d,\n");
  ASSERT_EQ(SortGROUP_USER(), 0);
  EXPECT_EQ(read_file_bytes(members()), "1,b,\n2,d,\n3,c,\n3,a,\n");
  std::mt19937 rng(7);
  for (int k = 0; k < 20; k++) {
    std::vector<std::pair<int32_t, std::string>> m;
    std::string lines;
    for (int i = 0, n = 2 + static_cast<int>(rng() % 30); i < n; i++) {
      m.emplace_back(static_cast<int32_t>(rng() % 4), "u" + std::to_string(i));
      lines += std::to_string(m.back().first) + "," + m.back().second + ",\n";
    }
    write_file_bytes(members(), lines);
    ASSERT_EQ(SortGROUP_USER(), 0);
    EXPECT_EQ(read_file_bytes(members()), bubble_sorted(m)) << lines;
  }
}

}  // namespace
