// Groups ("group.mst") and memberships ("g_user.mst").

#include "data_dir.h"

namespace {

using GroupStore = DataDir;

void set_member(int32_t group, const std::string& id) {
  sGROUP_USER = GROUP_USER{group, {}};
  set_field(sGROUP_USER.USER_ID, id);
}

TEST_F(GroupStore, GroupsStandInOrderAndRenameInPlace) {
  put("group.mst", ",,3,,three,\n\n7,a,b,\n");
  for (auto [id, name] : {std::pair{5, "five\n6,forged"}, {2, "two"}, {9, "nine"}, {5, "FIVE"}}) {
    sMST_GROUP = MST_GROUP{id, {}};
    set_field(sMST_GROUP.T02_GROUP_NAME, name);
    ASSERT_EQ(ReWriteMST_GROUP(), 0);
  }
  sMST_GROUP = MST_GROUP{8, {}};  // a full field, cut before a character it would split
  std::memcpy(sMST_GROUP.T02_GROUP_NAME, (std::string(82, 'g') + "\x82\xa0").data(), 84);
  ASSERT_EQ(ReWriteMST_GROUP(), 0);
  // A line without fields goes; a name ends before a line feed.
  EXPECT_EQ(get("group.mst"),
            "2,two,\n,,3,,three,\n5,FIVE,\n7,a,b,\n8," + std::string(82, 'g') + ",\n9,nine,\n");
  ASSERT_EQ(ReadGROUP_MST(3), 0);  // fields are the non-empty ones
  EXPECT_STREQ(sMST_GROUP.T02_GROUP_NAME, "three");
  EXPECT_EQ(ReadGROUP_MST(4), -1);
  sMST_GROUP.T02_GROUP_ID = 8;
  ASSERT_EQ(DeleteMST_GROUP(), 0);
  EXPECT_EQ(get("group.mst"), "2,two,\n,,3,,three,\n5,FIVE,\n7,a,b,\n9,nine,\n");
}

TEST_F(GroupStore, MembershipsAreAddedOnceOnLinesOfTheirOwn) {
  std::vector<int32_t> list(GROUP_LIST_SIZE, 0);
  EXPECT_EQ(ReadGROUP_USER1("amy", list.data()), -1);
  EXPECT_FALSE(file_exists(dir / "g_user.mst"));  // not created by reading
  put("g_user.mst", "3,amy,");  // the last line lacks its line feed
  for (auto [group, id] : {std::pair{3, "amy"}, {1, "bob"}, {7, "amy"}, {7, "AMY"},
                           {5, "x,y"}, {6, "z\x81"}}) {  // cut where the line would break
    set_member(group, id);
    ASSERT_EQ(WriteGROUP_USER(), 0);
  }
  EXPECT_EQ(get("g_user.mst"), "3,amy,\n1,bob,\n7,amy,\n7,AMY,\n5,x,\n6,z,\n");
  EXPECT_EQ(ReadGROUP_USER1("amy", list.data()), 1);
  EXPECT_EQ(std::vector<int32_t>(list.begin(), list.begin() + 3), (std::vector<int32_t>{3, 7, 0}));

  std::string many;  // more groups than the caller's list holds
  for (int g = 1; g <= 10001; g++) many += std::to_string(g) + ",amy,\n";
  put("g_user.mst", many);
  list.assign(GROUP_LIST_SIZE + 1, -1);
  EXPECT_EQ(ReadGROUP_USER1("amy", list.data()), 9998);
  EXPECT_EQ(std::vector(list.end() - 2, list.end()), (std::vector{0, -1}));  // nothing past it
}

// Equal numbers keep the order of the plain pass-by-pass bubble sort.
TEST_F(GroupStore, SortOrdersByGroupNumber) {
  // Many ties, negative numbers, a sorted file with lines added, one group;
  // a line that is no membership is dropped.
  for (int shape = 0; shape < 4; shape++) {
    std::vector<std::pair<int, std::string>> m;
    for (int i = 0; i < 300; i++) {
      int g = shape == 0 ? (i * 7919) % 11 - 3 : shape == 1 ? i / 7 : shape == 2 ? 5 : i % 3;
      if (shape == 1 && i >= 290) g = i % 13;
      m.emplace_back(g, "u" + std::to_string(i));
    }
    std::string text = "junk\n";
    for (const auto& [g, id] : m) text += std::to_string(g) + "," + id + ",\n";
    put("g_user.mst", text);
    for (size_t n = m.size(); n >= 2; n--) {
      auto held = m[0];
      for (size_t i = 1; i < n; i++) {
        if (m[i].first > held.first) std::swap(held, m[i]);
        m[i - 1] = m[i];
      }
      m[n - 1] = held;
    }
    text.clear();
    for (const auto& [g, id] : m) text += std::to_string(g) + "," + id + ",\n";
    ASSERT_EQ(SortGROUP_USER(), 0);
    EXPECT_EQ(get("g_user.mst"), text) << "shape " << shape;
  }
}

}  // namespace
