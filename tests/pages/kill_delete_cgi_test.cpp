// Deletions of folders, users and groups killed at random moments never
// leave state in which a folder shows messages it did not have, or in which
// a deleted user's or group's rights stay in force or pass to whoever takes
// the number or ID next. The seed is printed; MORVEL_KILL_SEED replays a run.
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <map>
#include <random>

#include "board_site.h"
#include "store/acl.h"
#include "store/group.h"

namespace {

namespace fs = std::filesystem;

// Random kill moments within a span that follows how long the requests
// take: shorter after a request that ended first, longer after a kill.
struct Killer {
  explicit Killer(const char* what) {
    const char* replay = std::getenv("MORVEL_KILL_SEED");
    seed = replay ? static_cast<unsigned>(std::atol(replay)) : std::random_device{}();
    std::cout << what << " kill test seed " << seed << " (MORVEL_KILL_SEED replays it)\n";
    rng.seed(seed);
  }
  long delay() { return static_cast<long>(rng() % (static_cast<unsigned long>(span) + 1)); }
  void count(const Response& r) {
    const bool killed = r.status == 128 + 9;
    kills += killed;
    span = killed ? span * 1.1 : span * 0.9;
  }
  bool more() const { return kills < 70 && std::chrono::steady_clock::now() - start < std::chrono::seconds(25); }

  unsigned seed;
  std::mt19937 rng;
  double span = 15000;
  int kills = 0;
  std::chrono::steady_clock::time_point start = std::chrono::steady_clock::now();
};

template <class R>
std::vector<R> records_of(const std::string& path) {
  std::vector<R> v;
  split_records(read_file_bytes(path), v);
  return v;
}

bool has_line(const std::string& path, const std::string& start) {
  return has("\n" + read_file_bytes(path), "\n" + start);
}

TEST(KillDeleteCgi, KilledFolderDeletionsNeverLeaveMessagesForANewFolder) {
  BoardSite s;
  s.folder(1, KIND_BOARD, 0, "Board");
  const std::string admin = s.key("Admin");
  Killer k("folder deletion");
  SCOPED_TRACE("seed " + std::to_string(k.seed));
  // Which creation each folder number came from; its messages and
  // attachments carry that mark.
  std::map<int32_t, int> born{{1, 0}};
  int creations = 0;
  auto tree = [] {
    std::vector<B_TITLE> t;
    load_folders(t);
    return t;
  };
  auto del = [&](size_t pos, long kill) {
    return s.multipart({{"SKEY", admin}, {"JOB", "DELFOLDERWR"}, {"DISPNO", std::to_string(pos)}}, {}, kill);
  };
  while (k.more()) {
    std::vector<B_TITLE> t = tree();
    while (t.size() > 3) del(1, -1), t = tree();
    // The last folder, which has the highest number, gets a message with an
    // attachment, and is deleted.
    if (!t.empty()) {
      const int32_t no = t.back().FOLDER_NO;
      const std::string mark = "G" + std::to_string(born[no]);
      const int32_t msg = s.post(no, 0, mark);
      const std::string dir = s.add + std::to_string(no) + "/x" + std::to_string(msg) + "/1";
      fs::create_directories(dir);
      write_file_bytes(dir + "/a.txt", mark);
      k.count(del(t.size(), k.delay()));
    }
    // The next request makes a folder, which takes the number again when
    // the deletion got as far as the tree.
    std::string out = s.store(admin, {{"JOB", "NEWFOLDERWR"}, {"DISPNO", "0"}, {"CLASS", "1"}, {"MODE", "2"},
                                      {"NAME", "F"}});
    ASSERT_TRUE(has(out, "<B>S184</B>")) << out;
    t = tree();
    born[t.back().FOLDER_NO] = ++creations;
    for (const B_TITLE& f : t) {
      const std::string mark = "G" + std::to_string(born[f.FOLDER_NO]);
      SCOPED_TRACE("folder " + std::to_string(f.FOLDER_NO) + " mark " + mark);
      for (const INDEX_DATA& r : records_of<INDEX_DATA>(s.data + std::to_string(f.FOLDER_NO) + "/index.dat"))
        ASSERT_EQ(field(r.WRITE_TITLE), mark);
      const std::string add = s.add + std::to_string(f.FOLDER_NO);
      if (fs::exists(add))
        for (const auto& e : fs::recursive_directory_iterator(add))
          if (e.is_regular_file()) {
            ASSERT_EQ(read_file_bytes(e.path().string()), mark) << e.path();
          }
    }
  }
  EXPECT_GE(k.kills, 30);
  std::cout << k.kills << " folder deletions killed, " << creations << " folders made\n";
}

TEST(KillDeleteCgi, KilledUserDeletionsLeaveNoRightsBehind) {
  BoardSite s;
  s.folder(1, KIND_BOARD, 0, "Board", 50, 50);
  write_file_bytes(s.data + "group.mst", "5,Five,\n");
  sB_G_ACL = {1, 5, 2}, WriteB_G_ACL();
  const std::string admin = s.key("Admin");
  Killer k("user deletion");
  SCOPED_TRACE("seed " + std::to_string(k.seed));
  const Fields victim = {{"USER_ID", "Victim"}, {"USER_NAME", "V"}, {"USER_PASS", "pw"}, {"USER_LEVEL", "1"}};
  auto user_rights = [&] {
    size_t n = 0;
    for (const B_U_ACL& e : records_of<B_U_ACL>(s.data + "b_u_acl.mst")) n += field(e.USER_ID) == "Victim";
    return n;
  };
  auto exists = [&] { return has_line(s.data + "user.mst", "Victim,"); };
  Fields make = victim, remove = victim;
  make.push_back({"SUB1", "S171"});
  remove.push_back({"SUB3", "S173"});
  ASSERT_EQ(s.save(admin, "NEWUSERWR", make).status, 0);
  while (k.more()) {
    // Folder administration, a membership of the group that may write,
    // and a session key.
    sB_U_ACL = {1, "Victim", 3}, WriteB_U_ACL();
    sGROUP_USER = {5, "Victim"}, WriteGROUP_USER();
    ASSERT_FALSE(s.key("Victim").empty());
    Fields f = remove;
    f.insert(f.begin(), {{"SKEY", admin}, {"JOB", "USERWR"}});
    k.count(s.multipart(f, {}, k.delay()));
    const bool gone = !exists();
    if (gone) {
      EXPECT_EQ(user_rights(), 0u);
      EXPECT_FALSE(has_line(s.data + "g_user.mst", "5,Victim,"));
      EXPECT_FALSE(has(read_file_bytes(s.data + "skey.mst"), "Victim"));
    }
    // The next request gives the ID to a new user, who starts without rights.
    s.save(admin, "NEWUSERWR", make);
    ASSERT_TRUE(exists());
    if (gone) {
      EXPECT_EQ(user_rights(), 0u);
    }
    if (HasFailure()) break;
  }
  EXPECT_GE(k.kills, 30);
  std::cout << k.kills << " user deletions killed\n";
}

TEST(KillDeleteCgi, KilledGroupDeletionsLeaveNoRightsBehind) {
  BoardSite s;
  s.folder(1, KIND_BOARD, 0, "Board", 50, 50);
  const std::string admin = s.key("Admin");
  Killer k("group deletion");
  SCOPED_TRACE("seed " + std::to_string(k.seed));
  auto rights = [&] {
    size_t n = 0;
    for (const B_G_ACL& e : records_of<B_G_ACL>(s.data + "b_g_acl.mst")) n += e.T02_GROUP_ID == 5;
    n += has_line(s.data + "g_user.mst", "5,Taro,");
    n += has_line(s.data + "user.mst", "Jiro,Jiro,1,,pw,5,");
    return n;
  };
  auto exists = [&] { return has_line(s.data + "group.mst", "5,"); };
  const Fields group = {{"T02_GROUP_ID", "5"}, {"T02_GROUP_NAME", "Five"}};
  ASSERT_TRUE(has(s.save(admin, "NEWGROUPWR", group).out, "T02_GROUP_ID=5\""));
  while (k.more()) {
    // The group may write on the board; Taro is a member and Jiro has it
    // as his primary group.
    sB_G_ACL = {1, 5, 2}, WriteB_G_ACL();
    sGROUP_USER = {5, "Taro"}, WriteGROUP_USER();
    char jiro[22] = "Jiro";
    ASSERT_EQ(ReadMST_USER(jiro), 0);
    sMST_USER.P_GROUP = 5;
    ASSERT_EQ(ReWriteMST_USER(), 0);
    ASSERT_EQ(rights(), 3u);
    k.count(s.multipart({{"SKEY", admin}, {"JOB", "DELGROUPWR"}, {"T02_GROUP_ID", "5"}}, {}, k.delay()));
    const bool gone = !exists();
    if (gone) {
      EXPECT_EQ(rights(), 0u);
    }
    // The next request makes a group of the number again: it starts empty.
    s.save(admin, "NEWGROUPWR", group);
    ASSERT_TRUE(exists());
    if (gone) {
      EXPECT_EQ(rights(), 0u);
    }
    if (HasFailure()) break;
  }
  EXPECT_GE(k.kills, 30);
  std::cout << k.kills << " group deletions killed\n";
}

}  // namespace
