// Folder access entries and the access decision.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <string>

#include "app/globals.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "site.h"
#include "store/acl.h"
#include "store/folder.h"
#include "store/group.h"
#include "store/unread.h"

namespace {

class AclStore : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
    login("amy", 5, 0);
  }
  void login(const std::string& id, int32_t level, int32_t primary) {
    std::memset(&G_MST_USER, 0, sizeof G_MST_USER);
    set_field(G_MST_USER.USER_ID, id);
    G_MST_USER.USER_LEVEL = level;
    G_MST_USER.P_GROUP = primary;
  }
  // Settings for the folder with its two minimum levels.
  void folder(int32_t no, int32_t read_level, int32_t write_level) {
    std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
    sB_TITLE2.FOLDER_NO = no;
    sB_TITLE2.READ_LEVEL = read_level;
    sB_TITLE2.WRITE_LEVEL = write_level;
    ASSERT_EQ(ReWriteB_TITLE2(no), 0);
  }
  int user_entry(int32_t no, const std::string& id, int32_t mode) {
    std::memset(&sB_U_ACL, 0, sizeof sB_U_ACL);
    sB_U_ACL.FOLDER_NO = no;
    set_field(sB_U_ACL.USER_ID, id);
    sB_U_ACL.USERMODE = mode;
    return WriteB_U_ACL();
  }
  int group_entry(int32_t no, int32_t group, int32_t mode) {
    sB_G_ACL = B_G_ACL{no, group, mode};
    return WriteB_G_ACL();
  }
  void member(int32_t group, const std::string& id) {
    std::memset(&sGROUP_USER, 0, sizeof sGROUP_USER);
    sGROUP_USER.T02_GROUP_ID = group;
    set_field(sGROUP_USER.USER_ID, id);
    WriteGROUP_USER();
  }
  std::string gfile() const { return dir / "b_g_acl.mst"; }
  std::string ufile() const { return dir / "b_u_acl.mst"; }
  TempDir dir;
};

std::string urec(int32_t no, const std::string& id, int32_t mode) {
  B_U_ACL r;
  std::memset(&r, 0, sizeof r);
  r.FOLDER_NO = no;
  set_field(r.USER_ID, id);
  r.USERMODE = mode;
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

std::string grec(int32_t no, int32_t group, int32_t mode) {
  B_G_ACL r{no, group, mode};
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}

TEST_F(AclStore, AdministratorsGetEverythingWithoutAnyRead) {
  login("root", 100, 0);
  EXPECT_EQ(chk_ACL(12345), 3);
  EXPECT_FALSE(file_exists(ufile()));
  EXPECT_FALSE(file_exists(dir / "b_title2.mst"));
  login("amy", 99, 0);
  EXPECT_EQ(chk_ACL(12345), 0);  // no settings, no entries
}

TEST_F(AclStore, UserEntriesAndFolderLevels) {
  folder(1, 3, 10);
  EXPECT_EQ(chk_ACL(1), 1);
  user_entry(1, "amy", 2);
  EXPECT_EQ(chk_ACL(1), 2);
  user_entry(1, "amy", 3);
  EXPECT_EQ(chk_ACL(1), 3);

  // A read-only entry takes nothing away from what the levels give.
  folder(2, 0, 5);
  user_entry(2, "amy", 1);
  EXPECT_EQ(chk_ACL(2), 2);
  // An entry lifts a user whom the levels keep out.
  folder(3, 50, 60);
  EXPECT_EQ(chk_ACL(3), 0);
  user_entry(3, "amy", 1);
  EXPECT_EQ(chk_ACL(3), 1);
  // Entries of other users and other folders do not count, nor does case.
  folder(4, 50, 60);
  user_entry(4, "AMY", 3);
  user_entry(5, "amy", 3);
  EXPECT_EQ(chk_ACL(4), 0);
  // The folder's settings are left in the buffer.
  EXPECT_EQ(sB_TITLE2.FOLDER_NO, 4);
  EXPECT_EQ(sB_TITLE2.READ_LEVEL, 50);
}

TEST_F(AclStore, GroupEntriesForPrimaryGroupAndMemberships) {
  login("amy", 0, 4);
  folder(1, 1, 1);
  EXPECT_EQ(chk_ACL(1), 0);
  group_entry(1, 4, 2);  // the primary group
  EXPECT_EQ(chk_ACL(1), 2);

  folder(2, 1, 1);
  member(6, "amy");
  group_entry(2, 6, 1);  // a group the user is a member of
  EXPECT_EQ(chk_ACL(2), 1);
  group_entry(2, 8, 2);  // a group the user is not in
  EXPECT_EQ(chk_ACL(2), 1);
  member(7, "amy");
  group_entry(2, 7, 2);
  EXPECT_EQ(chk_ACL(2), 2);

  // Without any settings record the group entries still decide.
  group_entry(3, 6, 1);
  EXPECT_EQ(chk_ACL(3), 1);
}

TEST_F(AclStore, LevelTwoFromAnySourceEndsTheSearch) {
  // A group entry with a mode above 2 would lift the user further, but
  // level 2 from the folder's levels or an earlier entry stops first.
  login("amy", 5, 4);
  folder(1, 0, 0);
  group_entry(1, 4, 3);
  EXPECT_EQ(chk_ACL(1), 2);

  folder(2, 10, 10);
  group_entry(2, 4, 2);
  group_entry(2, 9, 3);
  member(9, "amy");
  EXPECT_EQ(chk_ACL(2), 2);

  // Without such a stop the out-of-range mode carries through.
  folder(3, 10, 10);
  group_entry(3, 9, 3);
  EXPECT_EQ(chk_ACL(3), 3);

  // A user entry of 1 lets the levels lift the user to 2 before any group
  // entry counts.
  folder(4, 0, 0);
  user_entry(4, "amy", 1);
  group_entry(4, 4, 3);
  EXPECT_EQ(chk_ACL(4), 2);
}

TEST_F(AclStore, UserEntriesAreReplacedInPlaceAndReadPerFolder) {
  user_entry(1, "amy", 1);
  user_entry(2, "bob", 2);
  user_entry(1, "bob", 1);
  EXPECT_EQ(read_file_bytes(ufile()), urec(1, "amy", 1) + urec(2, "bob", 2) + urec(1, "bob", 1));
  EXPECT_EQ(user_entry(1, "amy", 3), 0);  // replaced in place
  EXPECT_EQ(read_file_bytes(ufile()), urec(1, "amy", 3) + urec(2, "bob", 2) + urec(1, "bob", 1));

  ASSERT_EQ(ReadB_U_ACL(1, 1), 0);
  EXPECT_STREQ(sB_U_ACL.USER_ID, "bob");
  EXPECT_EQ(ReadB_U_ACL(1, 2), -1);
  EXPECT_STREQ(sB_U_ACL.USER_ID, "bob");
  EXPECT_EQ(ReadB_U_ACL(1, -1), -1);

  EXPECT_EQ(DeleteB_U_ACL(1, "carl"), -1);
  EXPECT_EQ(DeleteB_U_ACL(1, "amy"), 0);
  EXPECT_EQ(read_file_bytes(ufile()), urec(2, "bob", 2) + urec(1, "bob", 1));
  EXPECT_FALSE(file_exists(ufile() + ".tmp"));
}

TEST_F(AclStore, LongUserIdsAreCutToTheField) {
  std::string id(22, 'x');
  id += "\x82\xa0";  // a two-byte character across the 23-byte limit
  std::memset(&sB_U_ACL, 0, sizeof sB_U_ACL);
  sB_U_ACL.FOLDER_NO = 1;
  std::memcpy(sB_U_ACL.USER_ID, id.data(), 24);
  sB_U_ACL.USERMODE = 2;
  EXPECT_EQ(WriteB_U_ACL(), -1);  // added
  EXPECT_EQ(read_file_bytes(ufile()), urec(1, std::string(22, 'x'), 2));
  EXPECT_EQ(DeleteB_U_ACL(1, id.c_str()), 0);
  EXPECT_EQ(read_file_bytes(ufile()), "");
}

TEST_F(AclStore, GroupEntriesAreRemovedPerFolderOrEverywhere) {
  group_entry(4, 7, 1);
  group_entry(5, 7, 2);
  group_entry(4, 8, 1);
  EXPECT_EQ(group_entry(4, 7, 2), 0);  // replaces the first
  std::string all = grec(4, 7, 2) + grec(5, 7, 2) + grec(4, 8, 1);
  EXPECT_EQ(read_file_bytes(gfile()), all);
  ASSERT_EQ(ReadB_G_ACL(4, 1), 0);
  EXPECT_EQ(sB_G_ACL.T02_GROUP_ID, 8);

  EXPECT_EQ(DeleteB_G_ACL(4, 9), -1);
  EXPECT_EQ(read_file_bytes(gfile()), all);
  EXPECT_EQ(DeleteB_G_ACL(4, 7), 0);
  EXPECT_EQ(read_file_bytes(gfile()), grec(5, 7, 2) + grec(4, 8, 1));

  write_file_bytes(gfile(), all);
  EXPECT_EQ(DeleteB_G_ACL(0, 7), 0);
  EXPECT_EQ(read_file_bytes(gfile()), grec(4, 8, 1));
}

TEST_F(AclStore, PartialRecordsAreIgnoredAndNeverMisalignAnAppend) {
  write_file_bytes(gfile(), grec(1, 2, 1) + "junk");
  EXPECT_EQ(ReadB_G_ACL(1, 1), -1);
  group_entry(1, 3, 2);
  EXPECT_EQ(read_file_bytes(gfile()), grec(1, 2, 1) + grec(1, 3, 2));

  write_file_bytes(ufile(), urec(1, "amy", 1) + "junk");
  EXPECT_EQ(DeleteB_U_ACL(9, "amy"), -1);
  EXPECT_EQ(read_file_bytes(ufile()), urec(1, "amy", 1));
}

// Every writer of these stores at once from several processes, each with
// its own keys: nothing may be lost or doubled.
TEST_F(AclStore, SimultaneousWritersLoseNothing) {
  constexpr int kProcs = 8;
  int gate[2];
  ASSERT_EQ(pipe(gate), 0);
  pid_t pids[kProcs];
  for (int i = 0; i < kProcs; i++) {
    pids[i] = fork();
    ASSERT_GE(pids[i], 0);
    if (pids[i] == 0) {
      close(gate[1]);
      char c;
      (void)!read(gate[0], &c, 1);  // start all together
      std::string id = "user" + std::to_string(i);
      user_entry(1, id, 1 + i % 3);
      group_entry(1, 100 + i, 1);
      member(kProcs - i, id);
      SortGROUP_USER();
      WriteUNREAD(12, id.c_str());
      WriteUNREAD(12, ("tmp" + id).c_str());
      DeleteUNREAD(12, ("tmp" + id).c_str());
      std::memset(&sB_TITLE, 0, sizeof sB_TITLE);
      sB_TITLE.FOLDER_NO = 100 + i;
      sB_TITLE.KIND = KIND_BOARD;
      int rc = InsertB_TITLE(1);
      std::memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
      sB_TITLE2.FOLDER_NO = 100 + i;
      rc |= InsertB_TITLE2();
      _exit(rc == 0 ? 0 : 1);
    }
  }
  close(gate[0]);
  close(gate[1]);
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  EXPECT_EQ(read_file_bytes(ufile()).size(), kProcs * sizeof(B_U_ACL));
  EXPECT_EQ(read_file_bytes(gfile()).size(), kProcs * sizeof(B_G_ACL));
  EXPECT_EQ(read_file_bytes(dir / "b_title2.mst").size(), kProcs * sizeof(B_TITLE2));
  std::string sorted;
  for (int g = 1; g <= kProcs; g++) sorted += std::to_string(g) + ",user" + std::to_string(kProcs - g) + ",\n";
  EXPECT_EQ(read_file_bytes(dir / "g_user.mst"), sorted);
  for (int i = 0; i < kProcs; i++) {
    std::string id = "user" + std::to_string(i);
    login(id, 0, 100 + i);
    EXPECT_EQ(chk_ACL(1), 1 + i % 3) << i;
    EXPECT_GT(ChkUNREAD(12, id.c_str()), 0) << i;
    EXPECT_EQ(ReadB_TITLE(100 + i, 1), 0) << i;
    EXPECT_EQ(ReadB_TITLE2(100 + i), 0) << i;
  }
  for (const char* name : {"12/unread.dat", "b_title.mst"}) {
    std::string text = read_file_bytes(dir / name);
    EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), kProcs) << name;
  }
}

}  // namespace
