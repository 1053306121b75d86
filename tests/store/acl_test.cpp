// Folder access entries and the access decision.

#include "data_dir.h"

namespace {

using AclStore = DataDir;

int user_entry(int32_t no, const std::string& id, int32_t mode) {
  sB_U_ACL = B_U_ACL{no, {}, mode};
  set_field(sB_U_ACL.USER_ID, id);
  return WriteB_U_ACL();
}

std::string urec(int32_t no, const std::string& id, int32_t mode) {
  B_U_ACL r{no, {}, mode};
  set_field(r.USER_ID, id);
  return bytes_of(r);
}

std::string grec(int32_t no, int32_t g, int32_t mode) { return bytes_of(B_G_ACL{no, g, mode}); }

TEST_F(AclStore, LevelsUserEntriesAndGroupEntriesCombine) {
  // amy is in groups 6 and 9, not 8. Each case has a folder of its own.
  put("g_user.mst", "6,amy,\n9,amy,\n");
  struct Case {
    int32_t level, primary, read_level, write_level;  // levels -1: no settings
    std::vector<std::pair<std::string, int32_t>> users;
    std::vector<std::pair<int32_t, int32_t>> groups;
    int want;
  } cases[] = {
      {100, 0, 50, 60, {}, {}, 3},  // 1: administrators get everything
      {99, 0, -1, -1, {}, {}, 0},
      {5, 0, 3, 10, {}, {}, 1},
      {5, 0, 3, 10, {{"amy", 3}}, {}, 3},
      {5, 0, 0, 5, {{"amy", 1}}, {}, 2},  // a read entry takes nothing away
      {5, 0, 50, 60, {{"amy", 1}}, {}, 1},  // an entry lifts a user kept out
      {5, 0, 50, 60, {{"AMY", 3}, {"bob", 3}}, {}, 0},
      {0, 4, 1, 1, {}, {{4, 2}}, 2},  // the primary group
      {0, 4, 1, 1, {}, {{6, 1}, {8, 2}}, 1},
      {0, 4, -1, -1, {}, {{6, 2}}, 2},  // without settings groups still decide
      // Level 2 from the levels or an earlier entry ends the search.
      {5, 4, 0, 0, {}, {{4, 3}}, 2},
      {5, 4, 10, 10, {}, {{4, 2}, {9, 3}}, 2},
      {5, 4, 10, 10, {}, {{9, 3}}, 3},
      // Modes outside 1-3 never give a level outside 0-3.
      {5, 4, 10, 10, {}, {{9, 9}}, 3},
      {5, 4, -1, -1, {{"amy", -4}}, {}, 0},
      {5, 0, 5, 6, {}, {}, 1},  // a level equal to the read level reads
  };
  G_MST_USER = MST_USER{};
  set_field(G_MST_USER.USER_ID, "amy");
  for (int32_t no = 1; const Case& c : cases) {
    sB_TITLE2 = B_TITLE2{};
    sB_TITLE2.READ_LEVEL = c.read_level, sB_TITLE2.WRITE_LEVEL = c.write_level;
    ASSERT_EQ(c.read_level < 0 ? 0 : ReWriteB_TITLE2(no), 0);
    for (const auto& [id, mode] : c.users) user_entry(no, id, mode);
    for (const auto& [group, mode] : c.groups) sB_G_ACL = B_G_ACL{no, group, mode}, WriteB_G_ACL();
    G_MST_USER.USER_LEVEL = c.level, G_MST_USER.P_GROUP = c.primary;
    EXPECT_EQ(chk_ACL(no), c.want) << "case " << no;
    no++;
  }
  // The menu decides every folder over one load of the files: same answers.
  AclTables shared(true);
  for (int32_t no = 1; const Case& c : cases) {
    G_MST_USER.USER_LEVEL = c.level, G_MST_USER.P_GROUP = c.primary;
    EXPECT_EQ(chk_ACL(no, shared), c.want) << "shared tables, case " << no;
    no++;
  }
}

TEST_F(AclStore, EntriesAreReplacedInPlaceAndRemoved) {
  put("b_u_acl.mst", urec(1, "amy", 1) + urec(2, "bob", 2));
  EXPECT_EQ(user_entry(1, "amy", 3), 0);  // replaced in place
  EXPECT_EQ(user_entry(3, "x", 2), -1);   // added
  EXPECT_EQ(DeleteB_U_ACL(1, "carl"), -1);
  EXPECT_EQ(DeleteB_U_ACL(1, "amy"), 0);
  EXPECT_EQ(get("b_u_acl.mst"), urec(2, "bob", 2) + urec(3, "x", 2));

  std::string all = grec(4, 7, 2) + grec(5, 7, 2) + grec(4, 8, 1);
  put("b_g_acl.mst", all);
  ASSERT_EQ(ReadB_G_ACL(4, 1), 0);  // the folder's second entry
  EXPECT_EQ(sB_G_ACL.T02_GROUP_ID, 8);
  EXPECT_EQ(DeleteB_G_ACL(4, 7), 0);
  EXPECT_EQ(get("b_g_acl.mst"), grec(5, 7, 2) + grec(4, 8, 1));
  put("b_g_acl.mst", all);
  EXPECT_EQ(DeleteB_G_ACL(0, 7), 0);  // folder 0: in every folder
  EXPECT_EQ(get("b_g_acl.mst"), grec(4, 8, 1));
}

}  // namespace
