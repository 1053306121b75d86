// morvel-admin against real sites: what killed posts leave behind, a data
// directory damaged by hand, a backup taken while writers are busy, a
// post stopped half-way beside backup and repair, and the password reset.
#include <signal.h>
#include <sys/wait.h>
#include <utime.h>

#include <iostream>
#include <thread>

#include "../pages/board_site.h"

namespace fs = std::filesystem;

namespace {

// Runs morvel-admin on the site's settings file.
Response admin(const Site& s, const std::string& args) {
  Response r;
  FILE* p =
      popen(("timeout 30 " + std::string(MORVEL_ADMIN) + " " + s.ini + " " + args + " 2>&1").c_str(), "r");
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

size_t lines(const std::string& out, const std::string& start = "") {
  size_t n = 0;
  for (size_t at = 0; at < out.size(); at = out.find('\n', at) + 1)
    n += out.compare(at, start.size(), start) == 0;
  return n;
}

// Every file under the site's directory, by path.
std::map<std::string, std::string> snapshot(const Site& s) {
  std::map<std::string, std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(s.dir.path()))
    if (e.is_regular_file()) out[e.path().string().substr(s.dir.path().size())] = read_file_bytes(e.path());
  return out;
}

// The room list and every message's details, as `k` sees them.
std::string pages(const PostingSite& s, const std::string& k) {
  std::string all = s.page(k, {{"JOB", "ROOM"}, {"FOLDER_NO", "1"}});
  for (const INDEX_DATA& r : s.index())
    all += s.page(k, {{"JOB", "DETAILS"}, {"FOLDER_NO", "1"}, {"SEL_NO", std::to_string(r.MSG_NO)}});
  return all;
}

TEST(Admin, KilledPostsLeaveWhatRepairClears) {
  PostingSite s;
  s.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 1; });
  const std::string k = s.key("Admin");
  const unsigned seed = std::random_device{}();
  std::cout << "seed " << seed << "\n";
  std::mt19937 rng(seed);
  // Posts, edits and deletes killed at random moments, until check finds
  // what they left.
  auto request = [&](Fields f, long kill_us) {
    f.insert(f.begin(), {"SKEY", k});
    f.insert(f.end(), {{"JOB", "BORDWRITEWR"},
                       {"FJOB", "BORDWRITE"},
                       {"FOLDER_NO", "1"},
                       {"SEL_NO", "0"},
                       {"WRITE_TITLE", "T"},
                       {"WRITE_DATA", std::string(3000, 'b')}});
    return s.multipart(f, {{"FILE1", "f.bin", std::string(20000, 'a')}}, kill_us).status;
  };
  Response found;
  for (int i = 1, kills = 0; i < 1000 && (kills < 40 || found.status != 1); i++) {
    const std::string any = std::to_string(1 + rng() % (s.index().size() + 1));
    const int pick = static_cast<int>(rng() % 4);
    Fields f = pick == 0   ? Fields{{"FJOB", "EDITMSG"}, {"SEL_NO", any}}
               : pick == 1 ? Fields{{"JOB", "DELMSG"}, {"SEL_NO", any}}
                           : Fields{};
    kills += request(f, static_cast<long>(rng() % 40000)) == 128 + 9;
    if (kills >= 40 || i % 10 == 0) found = admin(s, "check");
  }
  ASSERT_EQ(found.status, 1) << found.out;
  pages(s, k);
  const std::string before = pages(s, k);
  const Response fixed = admin(s, "repair");
  EXPECT_EQ(fixed.status, 0);
  EXPECT_EQ(lines(fixed.out), lines(found.out)) << fixed.out;
  const Response again = admin(s, "check");
  EXPECT_EQ(again.status, 0) << again.out;
  EXPECT_EQ(pages(s, k), before);
}

// One case of each finding. Check names each; repair fixes all but what it
// must leave and changes nothing else.
TEST(Admin, RepairFixesEachFindingAndNothingElse) {
  PostingSite s;
  for (int32_t m : {s.post(1, 0, "One"), s.post(1, 0, "Two"), s.post(1, 0, "Three")})
    write_file_bytes(s.data + "1/x" + std::to_string(m) + ".dat", "body");
  s.mark_read(1, 1, "Taro");
  write_file_bytes(s.data + "group.mst", "1,Staff,\n");
  // A message deleted as the page deletes it leaves nothing to find.
  ASSERT_EQ(s.send(s.key("Admin"), {}).status, 0);
  s.multipart({{"SKEY", s.key("Admin")}, {"JOB", "DELMSG"}, {"FOLDER_NO", "1"}, {"SEL_NO", "4"}});
  ASSERT_EQ(admin(s, "check").out, "clean: nothing found\n");

  write_file_bytes(s.data + "g_user.mst", "1,Taro,\n1,Nobody,\n9,Hanako,\n");
  for (B_G_ACL g : {B_G_ACL{1, 1, 2}, B_G_ACL{1, 9, 1}}) sB_G_ACL = g, WriteB_G_ACL();
  for (B_U_ACL u : {B_U_ACL{1, "Taro", 2}, B_U_ACL{1, "Nobody", 1}, B_U_ACL{5, "Taro", 1}})
    sB_U_ACL = u, WriteB_U_ACL();
  sB_TITLE2 = {};
  sB_TITLE2.FOLDER_NO = 9;
  InsertB_TITLE2();
  std::ofstream(s.data + "user.mst", std::ios::app) << "no commas\ntaro,Again,1,,pw,0,1,1,1,,,0,\n"
                                                    << ".x,Dot,1,,pw,0,1,1,1,,,0,\n";
  std::ofstream(s.data + "b_title2.mst", std::ios::app) << "xx";
  std::ofstream(s.data + "1/index.dat", std::ios::app) << "partial";
  fs::remove(s.data + "1/x2.dat");
  std::ofstream(s.data + "1/add_file.dat", std::ios::app)
      .write("\x28\0\0\0\1\0\0\0f.txt", 13)
      .write(std::string(247, '\0').data(), 247);
  fs::create_directories(s.data + "7");
  for (const char* f : {"1/x40.dat", "1/r40.dat", "b_u_acl.mst.tmp", "1/x1.dat.tmp", "1/R1.TMP", "7/x1.dat"})
    write_file_bytes(s.data + f, "left");
  for (const char* d : {"1/x40/1", "1/x1/1", "7/x1/1"}) fs::create_directories(s.add + d);
  for (const char* f : {"1/x40/1/f.txt", "1/x1/1/g.part", "7/x1/1/a.txt"})
    write_file_bytes(s.add + f, "left");
  fs::create_directories(s.data + "8");  // an emptied folder: nothing to find
  write_file_bytes(s.cgi_dir + "/CGI7", "old");
  write_file_bytes(s.cgi_dir + "/CGI8", "new");
  struct utimbuf old = {time(nullptr) - 7200, time(nullptr) - 7200};
  utime((s.cgi_dir + "/CGI7").c_str(), &old);

  std::map<std::string, std::string> before = snapshot(s);
  const Response check = admin(s, "check");
  EXPECT_EQ(check.status, 1);
  for (const char* what : {"user.mst line 14 does not parse", "\"taro\" is taken already by line 2",
                           "unsafe user ID \".x\"", "b_title2.mst ends in a partial record", "settings of folder 9,",
                           "membership of Nobody in group 1 names a user", "in group 9 names a group",
                           "entry of group 9 in folder 1 names a group", "entry of user Nobody in folder 1 names a user",
                           "entry of user Taro in folder 5 names a folder", "file /", "b_u_acl.mst.tmp",
                           "index.dat ends in a partial record", "x1.dat.tmp", "R1.TMP",
                           "message 2 has an index record but no body", "x40.dat: body of message 40",
                           "r40.dat: read marks of message 40", "attachment records of message 40",
                           "x40: attached files of message 40", "g.part", "data/7: directory of folder 7,",
                           "add/7: directory of folder 7,", "cgi-bin/CGI7"})
    EXPECT_TRUE(has(check.out, what)) << what;
  EXPECT_EQ(lines(check.out), 24u) << check.out;

  const Response dry = admin(s, "repair --dry-run");
  EXPECT_EQ(lines(dry.out, "would "), 19u) << dry.out;
  EXPECT_EQ(snapshot(s), before);

  const Response repair = admin(s, "repair");
  EXPECT_EQ(repair.status, 1);
  EXPECT_EQ(lines(repair.out, "left as it is: "), 4u) << repair.out;
  EXPECT_TRUE(has(repair.out, "23 found: 19 fixed, 4 left as they are, 0 failed")) << repair.out;
  const Response again = admin(s, "check");
  EXPECT_EQ(lines(again.out), 5u) << again.out;

  std::map<std::string, std::string> after = snapshot(s);
  EXPECT_EQ(after["/data/b_title2.mst"].size(), 8800u);
  EXPECT_EQ(after["/data/1/index.dat"].size(), 3 * sizeof(INDEX_DATA));
  EXPECT_EQ(after["/data/g_user.mst"], "1,Taro,\n");
  EXPECT_EQ(after["/data/b_u_acl.mst"].size(), sizeof(B_U_ACL));
  EXPECT_EQ(after["/data/b_g_acl.mst"].size(), sizeof(B_G_ACL));
  EXPECT_EQ(after["/data/1/add_file.dat"], "");
  size_t quarantined = 0;
  for (auto& [path, bytes] : after)
    if (path.starts_with("/data/quarantine/")) {
      quarantined++;
      EXPECT_EQ(bytes, "left");
    }
  EXPECT_EQ(quarantined, 2u);
  // Everything else as it was; the leftovers are gone.
  for (const char* changed : {"/data/b_title2.mst", "/data/1/index.dat", "/data/g_user.mst",
                              "/data/b_u_acl.mst", "/data/b_g_acl.mst", "/data/1/add_file.dat"})
    before.erase(changed), after.erase(changed);
  std::erase_if(after, [](auto& e) { return e.first.starts_with("/data/quarantine/"); });
  std::erase_if(before, [](auto& e) { return e.second == "left" || e.first == "/cgi-bin/CGI7"; });
  EXPECT_EQ(after, before);
}

// The site `s` with the data and attachments of backup `b` in place of its own.
void restore(const Site& s, const std::string& b) {
  for (auto [from, to] : {std::pair{b + "/data", s.data}, std::pair{b + "/attachments", s.add}}) {
    fs::remove_all(to);
    fs::rename(from, to);
  }
}

TEST(Admin, BackupWhileWritersPostAndMarkRead) {
  PostingSite s;
  const char* ids[] = {"Admin", "Taro", "Hanako", "Jiro", "NoOrder", "Numbers", "Newest", "Mail"};
  std::vector<std::string> keys;
  for (const char* id : ids) keys.push_back(s.key(id));
  TempDir out;
  EXPECT_TRUE(run_together(9, [&](int i) {
    if (i == 8) {
      usleep(150000);
      return admin(s, "backup " + out / "b").status;
    }
    for (int n = 0; n < 8; n++) {
      if (s.send(keys[i], {{"WRITE_TITLE", "W" + std::to_string(i) + "-" + std::to_string(n)}}).status != 0)
        return 1;
      s.get({{"SKEY", keys[i]}, {"JOB", "BORDALLFLG"}, {"FOLDER_NO", "1"}});
    }
    return 0;
  }));
  EXPECT_EQ(s.index().size(), 64u);
  PostingSite copy;
  restore(copy, out / "b");
  EXPECT_EQ(admin(copy, "check").out, "clean: nothing found\n");
  const std::string k = copy.key("Taro");
  ASSERT_FALSE(k.empty());
  const std::string all = pages(copy, k);
  for (const INDEX_DATA& r : copy.index()) EXPECT_TRUE(has(all, field(r.WRITE_TITLE).data()));
}

// A post that stops itself after writing its body, holding the board's
// lock: the IDs of the program and of the process waiting for it.
std::pair<pid_t, pid_t> stopped_post(PostingSite& s, const std::string& k, const std::string& title) {
  const std::string mark = s.dir / "stopped";
  fs::remove(mark);
  const pid_t sender = fork();
  if (sender == 0) {
    s.env["MORVEL_STOP_AFTER_BODY"] = mark;
    _exit(s.send(k, {{"WRITE_TITLE", title}}).status);
  }
  for (int i = 0; i < 500 && read_file_bytes(mark).empty(); i++) usleep(10000);
  const pid_t cgi = std::atoi(read_file_bytes(mark).c_str());
  std::string state;
  for (int i = 0; i < 500 && state.find(") T") == std::string::npos; i++, usleep(10000))
    state = read_file_bytes("/proc/" + std::to_string(cgi) + "/stat");
  return {cgi, sender};
}

// A command run beside it waits for the lock; once the post goes on, both end.
TEST(Admin, BackupAndRepairBesideAPostStoppedHalfWay) {
  PostingSite s;
  s.write_settings("LOG_DATE,30,\n");
  const std::string k = s.key("Taro");
  TempDir out;
  int n = 0;
  for (const std::string& cmd : {"backup " + out / "b", std::string("repair")}) {
    SCOPED_TRACE(cmd);
    const auto [cgi, sender] = stopped_post(s, k, "Stopped" + std::to_string(++n));
    ASSERT_GT(cgi, 0);
    std::thread t([&] { EXPECT_EQ(admin(s, cmd).status, 0); });
    usleep(200000);
    kill(cgi, SIGCONT);
    t.join();
    int status = -1;
    waitpid(sender, &status, 0);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(s.index().size(), static_cast<size_t>(n));
    EXPECT_TRUE(has(read_file_bytes(s.data + "system.log"), "Taro,write,1"));
  }
  PostingSite copy;
  restore(copy, out / "b");
  EXPECT_EQ(admin(copy, "check").out, "clean: nothing found\n");
}

TEST(Admin, ResetPasswordGivesAWorkingOne) {
  Site s;
  s.add_user("Boss", "forgotten", 100);
  EXPECT_EQ(admin(s, "reset-password nobody").status, 1);
  const Response r = admin(s, "reset-password boss");
  ASSERT_EQ(r.status, 0);
  const std::string pw = all_matches(r.out, "New password of Boss: (\\S+)").at(0);
  EXPECT_TRUE(s.login("Boss", "forgotten").empty());
  EXPECT_FALSE(s.login("Boss", pw).empty());
}

TEST(Admin, BadUseFails) {
  Site s;
  for (const char* bad : {"", "fix", "backup", "check --dry-run", "reset-password a b"})
    EXPECT_EQ(admin(s, bad).status, 2) << bad;
  s.write_settings("DATA_FILE_PATH," + s.dir / "none/" + ",\n");  // no data directory
  EXPECT_EQ(admin(s, "check").status, 2);
}

}  // namespace
