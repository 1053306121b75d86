// Unread counts and unread lists through the program, against a recount
// from the index and the read-mark files alone: random sequences of the
// steps that change reading state or a board's messages, for three users
// over three boards, checked after every step; and the same with steps
// killed at random moments, the next request answering right all the same.
// The seed is printed; MORVEL_READ_SEED replays a run.
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

struct ReadSite : BoardSite {
  std::map<std::string, std::string> keys;
  ReadSite() {
    for (int b = 1; b <= kBoards; b++) {
      folder(b, KIND_BOARD, 0, "Board" + std::to_string(b));
      configure(b, [](B_TITLE2& c) { c.REWRITE_FLG = 2; });
    }
    for (const std::string& u : kUsers) keys[u] = key(u);
  }

  std::vector<INDEX_DATA> board(int b) const {
    return records<INDEX_DATA>(std::to_string(b) + "/index.dat");
  }
  bool excluded(int b, const std::string& u) const {
    std::string text = read_file_bytes(data + std::to_string(b) + "/unread.dat");
    return has("\n" + text, "\n" + u + "\n");
  }
  // The truth: per board, the index records without a mark of the user.
  std::map<int, std::set<int32_t>> recount(const std::string& u) const {
    std::map<int, std::set<int32_t>> out;
    for (int b = 1; b <= kBoards; b++) {
      if (excluded(b, u)) continue;
      for (const INDEX_DATA& r : board(b)) {
        Names who = readers(r.MSG_NO, b);
        if (std::find(who.begin(), who.end(), u) == who.end()) out[b].insert(r.MSG_NO);
      }
    }
    return out;
  }
  // What the menu shows beside each board (boards without a number: 0).
  std::map<int, int> menu_counts(const std::string& u) const {
    std::string out = page(keys.at(u), {{"JOB", "FRM21"}});
    std::map<int, int> counts;
    std::regex re("FOLDER_NO=(\\d+)&FAST_FLG=1\" TARGET=\"FRM22\"><IMG[^>]*>(?:\\((\\d+)\\))?");
    for (auto it = std::sregex_iterator(out.begin(), out.end(), re); it != std::sregex_iterator(); ++it)
      counts[std::stoi((*it)[1].str())] = (*it)[2].matched ? std::stoi((*it)[2].str()) : 0;
    return counts;
  }
  std::map<int, std::set<int32_t>> unread_list(const std::string& u) const {
    std::map<int, std::set<int32_t>> out;
    for (const std::string& v : all_matches(page(keys.at(u), {{"JOB", "NRDETAILS"}}),
                                            "NAME=\"FOLSEL\" VALUE=\"([0-9,]+)\"")) {
      size_t comma = v.find(',');
      out[std::stoi(v.substr(0, comma))].insert(std::stoi(v.substr(comma + 1)));
    }
    return out;
  }
  // Every user's menu counts, and one user's unread list, against the truth.
  void check(std::mt19937& rng, const std::string& step) const {
    SCOPED_TRACE(step);
    for (const std::string& u : kUsers) {
      std::map<int, std::set<int32_t>> truth = recount(u);
      std::map<int, int> counts = menu_counts(u);
      for (int b = 1; b <= kBoards; b++)
        ASSERT_EQ(counts[b], static_cast<int>(truth[b].size())) << u << " board " << b;
    }
    const std::string& u = kUsers[rng() % kUsers.size()];
    std::map<int, std::set<int32_t>> truth = recount(u);
    std::erase_if(truth, [](const auto& e) { return e.second.empty(); });
    ASSERT_EQ(unread_list(u), truth) << u;
  }

  // One random step; its request killed after `kill_us` (never when negative).
  std::string step(std::mt19937& rng, long kill_us) {
    const int b = 1 + static_cast<int>(rng() % kBoards);
    const std::string& u = kUsers[rng() % kUsers.size()];
    const std::string& k = keys.at(u);
    const std::vector<INDEX_DATA> idx = board(b);
    const std::string any = idx.empty() ? "1" : std::to_string(idx[rng() % idx.size()].MSG_NO);
    const std::string bs = std::to_string(b);
    const int pick = static_cast<int>(rng() % 12);
    Fields f;
    std::vector<Upload> files;
    std::string what;
    if (pick < 3 || idx.empty()) {
      what = "post";
      f = {{"JOB", "BORDWRITEWR"}, {"FJOB", "BORDWRITE"}, {"FOLDER_NO", bs}, {"SEL_NO", pick == 1 ? any : "0"},
           {"WRITE_TITLE", "T"}, {"WRITE_DATA", "B"}, {"READ_CHK", "1"}, {"HTML_MODE", "0"}};
    } else if (pick < 5) {
      what = "read " + any;
      f = {{"JOB", "DETAILS"}, {"FOLDER_NO", bs}, {"SEL_NO", any}};
    } else if (pick == 5) {
      what = "edit " + any;
      f = {{"JOB", "BORDWRITEWR"}, {"FJOB", "EDITMSG"}, {"FOLDER_NO", bs}, {"SEL_NO", any},
           {"WRITE_TITLE", "E"}, {"WRITE_DATA", "E"}, {"READ_CHK", "1"}, {"HTML_MODE", "0"}};
      return run_step(keys.at("Admin"), f, files, kill_us, what + " by Admin on " + bs);
    } else if (pick == 6) {
      what = "delete " + any;
      f = {{"JOB", "DELMSG"}, {"FOLDER_NO", bs}, {"SEL_NO", any}};
      return run_step(keys.at("Admin"), f, files, kill_us, what + " by Admin on " + bs);
    } else if (pick == 7) {
      what = "mark all read";
      f = {{"JOB", "BORDALLFLG"}, {"FOLDER_NO", bs}};
    } else if (pick == 8) {
      what = "tick read";
      f = {{"JOB", "NRDETAILSWR"}, {"FOLSEL", bs + "," + any}};
      for (const INDEX_DATA& r : idx)
        if (rng() % 3 == 0) f.push_back({"FOLSEL", bs + "," + std::to_string(r.MSG_NO)});
    } else if (pick == 9) {
      const bool out = rng() % 2;
      what = out ? "unread setting on" : "unread setting off";
      f = {{"JOB", "SETNOREAD_WR"}, {out ? "BOARD_OUT" : "BOARD_IN", "x"}, {out ? "NOWNOREAD" : "BOARDLIST", bs}};
    } else if (pick == 10) {
      what = "batch upload";
      f = {{"JOB", "BATCH_UPLOAD_WR"}};
      files = {{"FILE1", "b.txt", ";board" + bs + "\nRES" + any + "\nT\nPRI0\nbody\n..\nRCHK1\nHTML0\n;board" +
                                      bs + "\nRES0\nT\nPRI0\nbody\n..\nRCHK1\nHTML0\n"}};
    } else {
      what = "derived data removed";
      unlink(read_cache_path(b).c_str());
      return what + " on " + bs;
    }
    return run_step(k, f, files, kill_us, what + " by " + u + " on " + bs);
  }
  std::string run_step(const std::string& k, Fields f, const std::vector<Upload>& files, long kill_us,
                       const std::string& what) {
    f.insert(f.begin(), {"SKEY", k});
    Response r = multipart(f, files, kill_us);
    EXPECT_TRUE(r.status == 0 || (kill_us >= 0 && r.status == 128 + 9)) << what;
    return what + (r.status == 128 + 9 ? " (killed)" : "");
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
  for (int i = 0; i < 30 && !testing::Test::HasFatalFailure(); i++) {
    const std::string what = s.step(rng, -1);
    s.check(rng, std::to_string(i) + ": " + what);
  }
  // The derived data agrees with the files, and is the board's own file.
  for (int b = 1; b <= kBoards; b++) {
    EXPECT_EQ(verify_read_cache(b), 0);
    EXPECT_TRUE(!file_exists(read_cache_path(b)) || is_read_cache_name("readcache.bin"));
  }
}

TEST(ReadCacheCgi, KilledStepsLeaveCountsRight) {
  ReadSite s;
  const unsigned seed = seed_of("read data kill");
  SCOPED_TRACE("seed " + std::to_string(seed));
  std::mt19937 rng(seed);
  double span = 8000;
  int kills = 0;
  for (int i = 0; i < 28 && !testing::Test::HasFatalFailure(); i++) {
    const std::string what = s.step(rng, static_cast<long>(rng() % (static_cast<unsigned long>(span) + 1)));
    const bool killed = what.ends_with("(killed)");
    kills += killed;
    span = killed ? span * 1.15 : std::max(500.0, span * 0.85);
    s.check(rng, std::to_string(i) + ": " + what);
  }
  EXPECT_GE(kills, 5);
  std::cout << kills << " steps killed\n";
}

}  // namespace
