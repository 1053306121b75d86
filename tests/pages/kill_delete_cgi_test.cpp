// Killed deletions never leave a folder's messages or a holder's rights to the next one.
#include "board_site.h"

namespace {

namespace fs = std::filesystem;

bool has_line(const std::string& path, const std::string& start) {
  return has("\n" + read_file_bytes(path), "\n" + start);
}

TEST(KillDeleteCgi, KilledFolderDeletionsNeverLeaveMessagesForANewFolder) {
  BoardSite s;
  s.folder(1, KIND_BOARD, 0, "Board");
  const std::string admin = s.key("Admin");
  // Which creation each folder number came from: its messages and attachments carry that mark.
  std::map<int32_t, int> born{{1, 0}};
  int made = 0;
  auto del = [&](size_t pos, long kill) {
    return s.multipart({{"SKEY", admin}, {"JOB", "DELFOLDERWR"}, {"DISPNO", std::to_string(pos)}}, {}, kill);
  };
  kill_loop("folder deletion", 70, 15, [&](auto count, long kill, auto&) {
    std::vector<B_TITLE> t;
    while (load_folders(t), t.size() > 3) del(1, -1);
    // The last (highest-numbered) folder gets a message with an attachment and is deleted.
    const int32_t no = t.back().FOLDER_NO;
    const std::string mark = "G" + std::to_string(born[no]),
                      dir = s.add + std::to_string(no) + "/x" + std::to_string(s.post(no, 0, mark)) + "/1";
    fs::create_directories(dir);
    write_file_bytes(dir + "/a.txt", mark);
    count(del(t.size(), kill));
    // A new folder takes the number again when the deletion reached the tree.
    s.store(admin, {{"JOB", "NEWFOLDERWR"}, {"DISPNO", "0"}, {"CLASS", "1"}, {"MODE", "2"}, {"NAME", "F"}});
    load_folders(t);
    born[t.back().FOLDER_NO] = ++made;
    for (const B_TITLE& f : t) {
      const std::string no_s = std::to_string(f.FOLDER_NO), want = "G" + std::to_string(born[f.FOLDER_NO]);
      for (const INDEX_DATA& r : s.records<INDEX_DATA>(no_s + "/index.dat"))
        EXPECT_EQ(field(r.WRITE_TITLE), want) << "folder " << no_s;
      if (!fs::exists(s.add + no_s)) continue;
      for (const auto& e : fs::recursive_directory_iterator(s.add + no_s))
        EXPECT_TRUE(!e.is_regular_file() || read_file_bytes(e.path()) == want) << e.path();
    }
  });
}

TEST(KillDeleteCgi, KilledUserAndGroupDeletionsLeaveNoRightsBehind) {
  BoardSite s;
  s.folder(1, KIND_BOARD, 0, "Board", 50, 50);
  const std::string admin = s.key("Admin");
  // Victim's rights: folder administration, a membership of group 5. Group 5's:
  // writing on the board, Taro's membership, Jiro's primary group.
  auto victim_rights = [&] {
    return has_line(s.data + "g_user.mst", "5,Victim,") +
           std::ranges::count_if(s.records<B_U_ACL>("b_u_acl.mst"),
                                 [](auto& e) { return field(e.USER_ID) == "Victim"; });
  };
  auto group_rights = [&] {
    return has_line(s.data + "g_user.mst", "5,Taro,") + has_line(s.data + "user.mst", "Jiro,Jiro,1,,pw,5,") +
           std::ranges::count_if(s.records<B_G_ACL>("b_g_acl.mst"), [](auto& e) { return e.T02_GROUP_ID == 5; });
  };
  auto user = [&](const char* job, const char* button) {
    return Fields{{"SKEY", admin}, {"JOB", job}, {"USER_ID", "Victim"}, {"USER_NAME", "V"}, {"USER_PASS", "pw"},
                  {button, "x"}};
  };
  auto group = [&](const char* job) {
    return Fields{{"SKEY", admin}, {"JOB", job}, {"T02_GROUP_ID", "5"}, {"T02_GROUP_NAME", "Five"}};
  };
  s.multipart(group("NEWGROUPWR"));
  s.multipart(user("NEWUSERWR", "SUB1"));
  kill_loop("user deletion", 70, 15, [&](auto count, long kill, auto&) {
    sB_U_ACL = {1, "Victim", 3}, WriteB_U_ACL();
    sGROUP_USER = {5, "Victim"}, WriteGROUP_USER();
    count(s.multipart(user("USERWR", "SUB3"), {}, kill));
    // Gone, or there to be deleted again; a new user of the ID starts without rights.
    const bool gone = !has_line(s.data + "user.mst", "Victim,");
    EXPECT_TRUE(!gone || victim_rights() == 0);
    s.multipart(user("NEWUSERWR", "SUB1"));
    EXPECT_TRUE(!gone || victim_rights() == 0);
  });
  kill_loop("group deletion", 70, 15, [&](auto count, long kill, auto&) {
    sB_G_ACL = {1, 5, 2}, WriteB_G_ACL();
    sGROUP_USER = {5, "Taro"}, WriteGROUP_USER();
    char jiro[22] = "Jiro";
    ASSERT_EQ(ReadMST_USER(jiro), 0);
    sMST_USER.P_GROUP = 5, ReWriteMST_USER();
    count(s.multipart(group("DELGROUPWR"), {}, kill));
    const bool gone = !has_line(s.data + "group.mst", "5,");
    EXPECT_TRUE(!gone || group_rights() == 0);
    s.multipart(group("NEWGROUPWR"));
    EXPECT_TRUE(!gone || group_rights() == 0);
  });
}

}  // namespace
