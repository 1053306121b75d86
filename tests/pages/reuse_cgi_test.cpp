// Numbers and IDs taken again never inherit an earlier holder's messages or rights.
#include "board_site.h"
#include "store/guest_user.h"

namespace {

namespace fs = std::filesystem;

TEST(ReuseCgi, NewFolderMovesAnEarlierFoldersFilesAside) {
  BoardSite s;
  s.folder(1, KIND_BOARD, 0, "Keep");
  s.folder(2, KIND_BOARD, 0, "Old");
  s.post(2, 0, "Secret");
  fs::create_directories(s.add + "2/x1/1");
  write_file_bytes(s.add + "2/x1/1/secret.txt", "attached");
  mkdir((s.data + "3").c_str(), 0700);  // emptied by an earlier deletion
  const std::string admin = s.key("Admin");
  // The tree replaced by one without board 2: its files stay behind.
  s.store(admin, {{"JOB", "FOLDER_UPLOAD"}}, {{"FILE1", "b_title.mst", "Keep,1,Board,\n"}});
  const Fields create = {{"JOB", "NEWFOLDERWR"}, {"DISPNO", "0"}, {"CLASS", "1"}, {"MODE", "2"}, {"NAME", "New"}};
  EXPECT_EQ(all_matches(s.store(admin, create), "S380 quarantine/folder2-(data|add)-").size(), 2u);
  std::string room = s.page(s.key("Taro"), {{"JOB", "ROOM"}, {"FOLDER_NO", "2"}});
  EXPECT_TRUE(has(room, "[2]New") && !has(room, "Secret") && !fs::exists(s.add + "2/x1")) << room;
  size_t kept = 0;  // out of the served directory
  for (const auto& e : fs::directory_iterator(s.data + "quarantine"))
    kept += fs::exists(e.path() / "index.dat") + fs::exists(e.path() / "x1/1/secret.txt");
  EXPECT_EQ(kept, 2u);
  // An empty directory is no leftover.
  EXPECT_FALSE(has(s.store(admin, create), "S380"));
  EXPECT_TRUE(fs::is_directory(s.data + "3"));
}

TEST(ReuseCgi, IdsAreCheckedAsStoredAndNewUsersGetNoEarlierRights) {
  BoardSite s;
  const std::string admin = s.key("Admin"), taro = s.key("Taro");
  const std::string users = read_file_bytes(s.data + "user.mst");
  auto make = [&](const std::string& id) {
    return s.store(admin, {{"JOB", "NEWUSERWR"}, {"USER_ID", id}, {"USER_NAME", "N"}, {"USER_PASS", "p"},
                           {"USER_LEVEL", "1"}, {"SUB1", "S171"}});
  };
  // A lead byte alone at the end, as the whole ID, or before a comma.
  for (const std::string id : {"Taro\x81", "\xff", "Jiro\x81,x"}) {
    EXPECT_TRUE(error_page(make(id), 109, 327)) << id;
    EXPECT_TRUE(error_page(s.store(taro, {{"JOB", "IDSINSEIWR"}, {"USER_ID", id}, {"USER_NAME", "N"}}), 311, 327));
  }
  // An application stored before the check is refused when decided.
  sGUEST_USER = {};
  set_field(sGUEST_USER.USER_ID, "Admin\xe0");
  ASSERT_EQ(WriteGUEST_USER(), 0);
  s.store(admin, {{"JOB", "IDSINSEIsysopWR"}, {"USER_ID", "Admin\xe0"}, {"OK_NG", "1"}, {"MES", "1"}});
  EXPECT_EQ(read_file_bytes(s.data + "user.mst"), users);
  EXPECT_EQ(s.records<GUEST_USER>("g_user.dat").at(0).OK_NG, GUEST_REFUSED);

  // Folder administration an earlier Ghost left, and Taro's own.
  for (B_U_ACL e : {B_U_ACL{1, "Ghost", 3}, B_U_ACL{1, "Taro", 3}}) sB_U_ACL = e, WriteB_U_ACL();
  make("Ghost");
  const auto left = s.records<B_U_ACL>("b_u_acl.mst");
  EXPECT_TRUE(left.size() == 1 && field(left[0].USER_ID) == "Taro");
}

}  // namespace
