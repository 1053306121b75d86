// Unread counts and unread lists through the program, against a recount
// from the index and the read-mark files alone: random sequences of the
// steps that change reading state or a board's messages, for three users
// over three boards, checked after every step (and the derived data found
// kept current by every step that ran to its end); and the same with steps
// killed at random moments. The seed is printed; MORVEL_READ_SEED replays.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <map>
#include <random>
#include <set>

#include "board_site.h"
#include "store/read_cache.h"

namespace {

const std::vector<std::string> kUsers = {"Admin", "Taro", "Hanako"};
constexpr int kBoards = 3;
using Unread = std::map<int, std::set<int32_t>>;

struct ReadSite : BoardSite {
  std::map<std::string, std::string> keys;
  ReadSite() {
    for (int b = 1; b <= kBoards; b++) folder(b, KIND_BOARD, 0, "Board" + std::to_string(b));
    for (const std::string& u : kUsers) keys[u] = key(u);
  }
  std::string board_file(int b, const std::string& name) const {
    return data + std::to_string(b) + "/" + name;
  }
  // The truth: per tracked board, the index records without a mark of the user.
  Unread recount(const std::string& u) const {
    Unread out;
    for (int b = 1; b <= kBoards; b++) {
      if (has("\n" + read_file_bytes(board_file(b, "unread.dat")), "\n" + u + "\n")) continue;
      for (const INDEX_DATA& r : records<INDEX_DATA>(std::to_string(b) + "/index.dat")) {
        Names who = readers(r.MSG_NO, b);
        if (std::find(who.begin(), who.end(), u) == who.end()) out[b].insert(r.MSG_NO);
      }
    }
    std::erase_if(out, [](const auto& e) { return e.second.empty(); });
    return out;
  }
  // Every user's menu counts, and one user's unread list, against the truth.
  void check(const std::string& u) const {
    for (const std::string& v : kUsers) {
      std::map<int, size_t> shown;  // the number beside each board, if any
      for (const std::string& m : all_matches(page(keys.at(v), {{"JOB", "FRM21"}}),
                                              "FOLDER_NO=([0-9]+&FAST_FLG=1\"[^>]*><IMG[^>]*>(\\([0-9]+)?)"))
        shown[std::stoi(m)] = m.find('(') == std::string::npos ? 0 : std::stoul(m.substr(m.find('(') + 1));
      Unread truth = recount(v);
      for (int b = 1; b <= kBoards; b++) ASSERT_EQ(shown[b], truth[b].size()) << v << " board " << b;
    }
    Unread list;
    for (const std::string& v : all_matches(page(keys.at(u), {{"JOB", "NRDETAILS"}}),
                                            "NAME=\"FOLSEL\" VALUE=\"([0-9,]+)\""))
      list[std::stoi(v)].insert(std::stoi(v.substr(v.find(',') + 1)));
    ASSERT_EQ(list, recount(u)) << u;
  }
  // Whether board b's derived data is clean and stamped with its index.
  bool current(int b) const {
    std::string h = read_file_bytes(read_cache_path(b)).substr(0, 64);
    struct stat st;
    int64_t size;
    if (h.size() < 64 || stat(board_file(b, "index.dat").c_str(), &st) != 0) return false;
    std::memcpy(&size, h.data() + 16, 8);
    return h[8] == 0 && size == st.st_size;
  }

  // One random step; its request killed after `kill_us` (never when negative).
  // Whether it ran to its end.
  bool step(std::mt19937& rng, long kill_us, std::string& what) {
    const int b = 1 + static_cast<int>(rng() % kBoards);
    std::string u = kUsers[rng() % kUsers.size()];
    const std::vector<INDEX_DATA> idx = records<INDEX_DATA>(std::to_string(b) + "/index.dat");
    const std::string any = idx.empty() ? "1" : std::to_string(idx[rng() % idx.size()].MSG_NO);
    const std::string bs = std::to_string(b);
    const int pick = static_cast<int>(rng() % 12);
    const Fields write = {{"FOLDER_NO", bs}, {"WRITE_TITLE", "T"}, {"WRITE_DATA", "B"}, {"READ_CHK", "1"}};
    Fields f;
    std::vector<Upload> files;
    if (pick < 3 || idx.empty()) {
      f = {{"JOB", "BORDWRITEWR"}, {"FJOB", "BORDWRITE"}, {"SEL_NO", pick == 1 ? any : "0"}};
      f.insert(f.end(), write.begin(), write.end());
    } else if (pick < 5) {
      f = {{"JOB", "DETAILS"}, {"FOLDER_NO", bs}, {"SEL_NO", any}};
    } else if (pick == 5) {
      f = {{"JOB", "BORDWRITEWR"}, {"FJOB", "EDITMSG"}, {"SEL_NO", any}};
      f.insert(f.end(), write.begin(), write.end());
      u = "Admin";  // may edit any message
    } else if (pick == 6) {
      f = {{"JOB", "DELMSG"}, {"FOLDER_NO", bs}, {"SEL_NO", any}};
      u = "Admin";
    } else if (pick == 7) {
      f = {{"JOB", "BORDALLFLG"}, {"FOLDER_NO", bs}};
    } else if (pick == 8) {
      f = {{"JOB", "NRDETAILSWR"}, {"FOLSEL", bs + "," + any}};
      for (const INDEX_DATA& r : idx)
        if (rng() % 3 == 0) f.push_back({"FOLSEL", bs + "," + std::to_string(r.MSG_NO)});
    } else if (pick == 9) {
      const bool in = rng() % 2;
      f = {{"JOB", "SETNOREAD_WR"}, {in ? "BOARD_OUT" : "BOARD_IN", "x"}, {in ? "NOWNOREAD" : "BOARDLIST", bs}};
    } else if (pick == 10) {
      f = {{"JOB", "BATCH_UPLOAD_WR"}};
      const std::string block = "\nT\nPRI0\nbody\n..\nRCHK1\nHTML0\n";
      files = {{"FILE1", "b.txt", ";board" + bs + "\nRES" + any + block + ";board" + bs + "\nRES0" + block}};
    } else {
      what = "derived data removed on " + bs;
      unlink(read_cache_path(b).c_str());
      return false;
    }
    f.insert(f.begin(), {"SKEY", keys.at(u)});
    Response r = multipart(f, files, kill_us);
    what = f[1].second + " " + any + " by " + u + " on " + bs + (r.status == 137 ? " (killed)" : "");
    EXPECT_TRUE(r.status == 0 || (kill_us >= 0 && r.status == 137)) << what;
    return r.status == 0;
  }

  // `steps` random steps, each checked.
  int run(std::mt19937& rng, int steps, bool kill) {
    double span = 8000;
    int kills = 0;
    for (int i = 0; i < steps && !testing::Test::HasFatalFailure(); i++) {
      std::set<int> had;
      for (int b = 1; b <= kBoards; b++)
        if (file_exists(read_cache_path(b))) had.insert(b);
      std::string what;
      const long kill_us = kill ? static_cast<long>(rng() % (static_cast<unsigned long>(span) + 1)) : -1;
      const bool whole = step(rng, kill_us, what);
      SCOPED_TRACE(std::to_string(i) + ": " + what);
      // A step that ran to its end kept the data current: nothing rebuilt.
      for (int b : had)
        if (whole) EXPECT_TRUE(current(b)) << b;
      kills += what.ends_with("(killed)");
      span = what.ends_with("(killed)") ? span * 1.15 : std::max(500.0, span * 0.85);
      check(kUsers[rng() % kUsers.size()]);
    }
    return kills;
  }
};

unsigned seed_of(const char* what) {
  const char* replay = std::getenv("MORVEL_READ_SEED");
  const unsigned seed = replay ? static_cast<unsigned>(std::atol(replay)) : std::random_device{}();
  std::cout << what << " seed " << seed << " (MORVEL_READ_SEED replays it)\n";
  return seed;
}

TEST(ReadCacheCgi, CountsAndListsFollowEveryStep) {
  ReadSite s;
  const unsigned seed = seed_of("read data");
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  s.run(rng, 30, false);
  for (int b = 1; b <= kBoards; b++) EXPECT_EQ(verify_read_cache(b), 0);
}

TEST(ReadCacheCgi, KilledStepsLeaveCountsRight) {
  ReadSite s;
  const unsigned seed = seed_of("read data kill");
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  const int kills = s.run(rng, 28, true);
  EXPECT_GE(kills, 5);
  std::cout << kills << " steps killed\n";
}

}  // namespace
