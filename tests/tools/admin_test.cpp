// morvel-admin against real sites: killed posts, damage by hand, backups
// beside busy writers and a post stopped half-way, the password reset.
#include <signal.h>
#include <sys/wait.h>

#include <iostream>
#include <thread>

#include "../pages/board_site.h"

namespace fs = std::filesystem;

namespace {

Response admin(const Site& s, const std::string& args) {
  Response r;
  FILE* p = popen(("timeout 30 " + std::string(MORVEL_ADMIN) + " " + s.ini + " " + args + " 2>&1").c_str(), "r");
  char buf[4096];
  for (size_t n; (n = fread(buf, 1, sizeof buf, p)) > 0;) r.out.append(buf, n);
  int st = pclose(p);
  r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
  return r;
}

size_t lines(const std::string& out, const std::string& start = "") {
  return start.empty() ? std::ranges::count(out, '\n') : all_matches(out, "(^|\n)" + start).size();
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
  // Posts, edits and deletes killed at random moments, until check finds what they left.
  Response found;
  for (int i = 1, kills = 0; i < 1000 && (kills < 40 || found.status != 1); i++) {
    const std::string any = std::to_string(1 + rng() % (s.index().size() + 1));
    const unsigned pick = rng() % 4;  // an edit, a deletion, or (twice as often) a new post
    Fields f = {{"SKEY", k}, {"WRITE_DATA", std::string(3000, 'b')}, {"WRITE_TITLE", "T"}};
    if (pick < 2) f.insert(f.end(), {{pick ? "JOB" : "FJOB", pick ? "DELMSG" : "EDITMSG"}, {"SEL_NO", any}});
    f.insert(f.end(), {{"JOB", "BORDWRITEWR"}, {"FJOB", "BORDWRITE"}, {"FOLDER_NO", "1"}, {"SEL_NO", "0"}});
    kills += s.multipart(f, {{"FILE1", "f.bin", std::string(20000, 'a')}}, rng() % 40000).status == 128 + 9;
    if (kills >= 40 || i % 10 == 0) found = admin(s, "check");
  }
  ASSERT_EQ(found.status, 1) << found.out;
  pages(s, k);
  const std::string before = pages(s, k);
  const Response fixed = admin(s, "repair");
  EXPECT_TRUE(fixed.status == 0 && lines(fixed.out) == lines(found.out)) << fixed.out;
  EXPECT_EQ(admin(s, "check").out, "clean: nothing found\n");
  EXPECT_EQ(pages(s, k), before);
}

// One case of each finding: repair fixes all but what it must leave and changes nothing else.
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
  sB_TITLE2 = {}, sB_TITLE2.FOLDER_NO = 9, InsertB_TITLE2();
  std::ofstream(s.data + "user.mst", std::ios::app) << "no commas\ntaro,Again,1,,pw,0,1,1,1,,,0,\n"
                                                    << ".x,Dot,1,,pw,0,1,1,1,,,0,\n";
  std::ofstream(s.data + "b_title2.mst", std::ios::app) << "xx";
  std::ofstream(s.data + "1/index.dat", std::ios::app) << "partial";
  fs::remove(s.data + "1/x2.dat");
  std::ofstream(s.data + "1/add_file.dat", std::ios::app)
      << std::string("\x28\0\0\0\1\0\0\0f.txt", 13) + std::string(247, '\0');
  for (const char* f :
       {"data/1/x40.dat", "data/1/r40.dat", "data/b_u_acl.mst.tmp", "data/1/x1.dat.tmp", "data/1/R1.TMP",
        "data/7/x1.dat", "add/1/x40/1/f.txt", "add/1/x1/1/g.part", "add/7/x1/1/a.txt"}) {
    fs::create_directories(fs::path(s.dir / f).parent_path());
    write_file_bytes(s.dir / f, "left");
  }
  fs::create_directories(s.data + "8");  // an emptied folder: nothing to find
  for (const char* upload : {"/CGI7", "/CGI8"}) write_file_bytes(s.cgi_dir + upload, "upload");
  fs::last_write_time(s.cgi_dir + "/CGI7", fs::file_time_type::clock::now() - std::chrono::hours(2));

  std::map<std::string, std::string> before = snapshot(s);
  const Response check = admin(s, "check");
  EXPECT_TRUE(check.status == 1 && lines(check.out) == 24 && has(check.out, "\"taro\" is taken already by line 2"))
      << check.out;
  EXPECT_EQ(lines(admin(s, "repair --dry-run").out, "would "), 19u);
  EXPECT_EQ(snapshot(s), before);
  const Response repair = admin(s, "repair");
  EXPECT_TRUE(repair.status == 1 && lines(repair.out, "left as it is: ") == 4 &&
              has(repair.out, "23 found: 19 fixed, 4 left as they are, 0 failed")) << repair.out;
  EXPECT_EQ(lines(admin(s, "check").out), 5u);

  // Damaged files cut to whole records or lines, leftovers gone (two moved aside), nothing else changed.
  std::map<std::string, std::string> after = snapshot(s);
  for (auto [path, size] : std::map<std::string, size_t>{{"/data/1/add_file.dat", 0},
           {"/data/b_title2.mst", 8800}, {"/data/1/index.dat", 3 * sizeof(INDEX_DATA)}, {"/data/g_user.mst", 8},
           {"/data/b_u_acl.mst", sizeof(B_U_ACL)}, {"/data/b_g_acl.mst", sizeof(B_G_ACL)}}) {
    EXPECT_EQ(after[path].size(), size) << path;
    before.erase(path), after.erase(path);
  }
  EXPECT_EQ(std::erase_if(after, [](auto& e) { return e.first.starts_with("/data/quarantine/") && e.second == "left"; }),
            2u);
  std::erase_if(before, [](auto& e) { return e.second == "left" || e.first == "/cgi-bin/CGI7"; });
  EXPECT_EQ(after, before);
}

// Puts backup `b` in place of the data of `s`, which check finds clean.
void restore(const Site& s, const std::string& b) {
  for (auto [from, to] : {std::pair{b + "/data", s.data}, std::pair{b + "/attachments", s.add}})
    fs::remove_all(to), fs::rename(from, to);
  EXPECT_EQ(admin(s, "check").out, "clean: nothing found\n");
}

TEST(Admin, BackupWhileWritersPostAndMarkRead) {
  PostingSite s;
  std::vector<std::string> keys;
  for (const char* id : {"Admin", "Taro", "Hanako", "Jiro", "NoOrder", "Numbers", "Newest", "Mail"})
    keys.push_back(s.key(id));
  TempDir out;
  EXPECT_TRUE(run_together(9, [&](int i) {
    if (i == 8) return usleep(150000), admin(s, "backup " + out / "b").status;
    for (int n = 0; n < 8; n++) {
      if (s.send(keys[i], {{"WRITE_TITLE", "W" + std::to_string(i) + "-" + std::to_string(n)}}).status) return 1;
      s.get({{"SKEY", keys[i]}, {"JOB", "BORDALLFLG"}, {"FOLDER_NO", "1"}});
    }
    return 0;
  }));
  EXPECT_EQ(s.index().size(), 64u);
  PostingSite copy;
  restore(copy, out / "b");
  const std::string all = pages(copy, copy.key("Taro"));
  for (const INDEX_DATA& r : copy.index()) EXPECT_TRUE(has(all, field(r.WRITE_TITLE).data()));
}

// A post stopped after its body, holding the lock: its and its sender's IDs.
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
  for (int i = 0; i < 500 && !has(read_file_bytes("/proc/" + std::to_string(cgi) + "/stat"), ") T"); i++) usleep(10000);
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
    std::thread t([&] { EXPECT_EQ(admin(s, cmd).status, 0); });
    usleep(200000);
    kill(cgi, SIGCONT);
    t.join();
    int status = -1;
    EXPECT_TRUE(waitpid(sender, &status, 0) == sender && status == 0);
    EXPECT_EQ(s.index().size(), static_cast<size_t>(n));
    EXPECT_TRUE(has(read_file_bytes(s.data + "system.log"), "Taro,write,1"));
  }
  restore(PostingSite(), out / "b");
}

TEST(Admin, ResetPasswordGivesAWorkingOneAndBadUseFails) {
  Site s;
  s.add_user("Boss", "forgotten", 100);
  EXPECT_EQ(admin(s, "reset-password nobody").status, 1);
  const Response r = admin(s, "reset-password boss");
  const std::string pw = all_matches(r.out, "New password of Boss: (\\S+)").at(0);
  EXPECT_TRUE(r.status == 0 && s.login("Boss", "forgotten").empty() && !s.login("Boss", pw).empty());
  // Bad use fails apart.
  for (const char* bad : {"", "fix", "backup", "check --dry-run", "reset-password a b"})
    EXPECT_EQ(admin(s, bad).status, 2) << bad;
  s.write_settings("DATA_FILE_PATH," + s.dir / "none/" + ",\n");  // no data directory
  EXPECT_EQ(admin(s, "check").status, 2);
}

}  // namespace
