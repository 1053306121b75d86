// Unread counts and lists against a recount from the record files after random
// steps, some killed. The seed is printed; MORVEL_READ_SEED replays it.
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
  // The truth: per tracked board, the index records without a mark of the user.
  Unread recount(const std::string& u) const {
    Unread out;
    for (int b = 1; b <= kBoards; b++) {
      if (has("\n" + read_file_bytes(data + std::to_string(b) + "/unread.dat"), "\n" + u + "\n")) continue;
      for (const INDEX_DATA& r : records<INDEX_DATA>(std::to_string(b) + "/index.dat"))
        if (!std::ranges::count(readers(r.MSG_NO, b), u)) out[b].insert(r.MSG_NO);
    }
    return out;
  }
  // Every user's menu counts, and one user's unread list, against the truth.
  void check(const std::string& u) const {
    for (const std::string& v : kUsers) {
      std::map<int, size_t> shown;  // the number beside each board, if any
      for (const std::string& m : all_matches(page(keys.at(v), {{"JOB", "FRM21"}}),
                                              "FOLDER_NO=([0-9]+&FAST_FLG=1\"[^>]*><IMG[^>]*>(\\([0-9]+)?)"))
        shown[std::stoi(m)] = m.find('(') == std::string::npos ? 0 : std::stoul(m.substr(m.find('(') + 1));
      for (int b = 1; b <= kBoards; b++) ASSERT_EQ(shown[b], recount(v)[b].size()) << v << " board " << b;
    }
    Unread list;
    for (const std::string& v : all_matches(page(keys.at(u), {{"JOB", "NRDETAILS"}}),
                                            "NAME=\"FOLSEL\" VALUE=\"([0-9,]+)\""))
      list[std::stoi(v)].insert(std::stoi(v.substr(v.find(',') + 1)));
    ASSERT_EQ(list, recount(u)) << u;
  }
  // Whether board b's derived data is clean and stamped with its index.
  bool current(int b) const {
    const std::string h = read_file_bytes(read_cache_path(b));
    int64_t size = -1;
    if (h.size() >= 64) std::memcpy(&size, h.data() + 16, 8);
    return h.size() >= 64 && h[8] == 0 &&
           size == static_cast<int64_t>(read_file_bytes(data + std::to_string(b) + "/index.dat").size());
  }

  // One random step, killed after `kill_us` unless negative; whether it ended.
  bool step(std::mt19937& rng, long kill_us, std::string& what) {
    const std::string bs = std::to_string(1 + rng() % kBoards), block = "\nT\nPRI0\nbody\n..\nRCHK1\nHTML0\n";
    const std::vector<INDEX_DATA> idx = records<INDEX_DATA>(bs + "/index.dat");
    const std::string any = idx.empty() ? "1" : std::to_string(idx[rng() % idx.size()].MSG_NO);
    const int pick = idx.empty() ? 0 : static_cast<int>(rng() % 12);
    // Admin may edit and delete any message.
    const std::string u = pick == 5 || pick == 6 ? "Admin" : kUsers[rng() % kUsers.size()];
    Fields f = {{"SKEY", keys.at(u)}, {"JOB", "BORDWRITEWR"}, {"FOLDER_NO", bs}, {"SEL_NO", any}};
    std::vector<Upload> files;
    if (pick < 3 || pick == 5)
      f = {f[0], f[1], f[2], {"SEL_NO", pick % 2 ? any : "0"}, {"FJOB", pick == 5 ? "EDITMSG" : "BORDWRITE"},
           {"WRITE_TITLE", "T"}, {"WRITE_DATA", "B"}, {"READ_CHK", "1"}};
    else if (pick < 5)
      f[1].second = "DETAILS";
    else if (pick < 8)
      f[1].second = pick == 6 ? "DELMSG" : "BORDALLFLG";
    else if (pick == 8) {
      f = {f[0], {"JOB", "NRDETAILSWR"}, {"FOLSEL", bs + "," + any}};
      for (const INDEX_DATA& r : idx)
        if (rng() % 3 == 0) f.push_back({"FOLSEL", bs + "," + std::to_string(r.MSG_NO)});
    } else if (pick < 11) {
      f = {f[0], {"JOB", "SETNOREAD_WR"}, {pick == 9 ? "BOARD_OUT" : "BOARD_IN", "x"},
           {pick == 9 ? "NOWNOREAD" : "BOARDLIST", bs}};
    } else {
      f = {f[0], {"JOB", "BATCH_UPLOAD_WR"}};
      files = {{"FILE1", "b.txt", ";board" + bs + "\nRES" + any + block + ";board" + bs + "\nRES0" + block}};
    }
    Response r = multipart(f, files, kill_us);
    what = f[1].second + " " + any + " by " + u + " on " + bs + (r.status == 137 ? " (killed)" : "");
    EXPECT_TRUE(r.status == 0 || (kill_us >= 0 && r.status == 137)) << what;
    return r.status == 0;
  }

  // `steps` random steps from a printed seed, each checked; how many were killed.
  int replay(const char* name, int steps, bool kill) {
    const unsigned seed = test_seed(name, "MORVEL_READ_SEED");
    SCOPED_TRACE("seed " + std::to_string(seed));
    std::mt19937 rng(seed);
    double span = 8000;
    int kills = 0;
    for (int i = 0; i < steps && !testing::Test::HasFatalFailure(); i++) {
      std::vector<int> had;
      for (int b = 1; b <= kBoards; b++)
        if (file_exists(read_cache_path(b))) had.push_back(b);
      std::string what;
      const bool whole = step(rng, kill ? static_cast<long>(rng() % static_cast<unsigned>(span + 1)) : -1, what);
      SCOPED_TRACE(std::to_string(i) + ": " + what);
      // A step that ran to its end kept the data current: nothing rebuilt.
      for (int b : had) EXPECT_TRUE(!whole || current(b)) << b;
      kills += what.ends_with("(killed)");
      span = what.ends_with("(killed)") ? span * 1.15 : std::max(500.0, span * 0.85);
      check(kUsers[rng() % kUsers.size()]);
    }
    return kills;
  }
};

TEST(ReadCacheCgi, CountsAndListsFollowEveryStepKilledOrNot) {
  ReadSite s;
  s.replay("read data", 30, false);
  for (int b = 1; b <= kBoards; b++) EXPECT_EQ(verify_read_cache(b), 0);
  EXPECT_GE(s.replay("read data kill", 28, true), 5);
}

}  // namespace
