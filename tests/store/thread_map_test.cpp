// The derived thread map: spans of interleaved threads, numbers it does not
// know, odd indexes, and a map that no longer fits the index.

#include "data_dir.h"
#include "store/batch_read.h"
#include "store/thread_map.h"

namespace {

constexpr int32_t F = 3;

class ThreadMap : public DataDir {
 protected:
  void index(const std::vector<std::pair<int32_t, int32_t>>& recs) {
    mkdir((dir / "3").c_str(), 0700);
    std::string b;
    for (auto [no, thread] : recs) b += bytes_of(INDEX_DATA{.FOLDER_NO = F, .MSG_NO = no, .THREAD_NO = thread});
    put("3/index.dat", b);
  }
  // "thread/first/count" of each number, or "no" when the map tells nothing.
  std::string spans(const std::vector<int32_t>& msgs) const {
    struct stat st;
    EXPECT_EQ(stat((dir / "3/index.dat").c_str(), &st), 0);
    std::vector<ThreadSpan> out;
    if (!thread_spans(F, st, msgs, out)) return "no";
    std::string s;
    for (const ThreadSpan& t : out)
      s += (s.empty() ? "" : " ") + std::to_string(t.thread) + "/" + std::to_string(t.first) + "/" +
           std::to_string(t.count);
    return s;
  }
};

TEST_F(ThreadMap, SpansOfThreadsAsTheyStandInTheIndex) {
  // Threads 1 and 2 interleaved; 5 alone; 9 and -1 not there.
  index({{1, 1}, {2, 2}, {3, 1}, {4, 2}, {5, 5}});
  const std::string want = "1/0/3 2/1/3 1/0/3 5/4/1 0/0/0 0/0/0";
  EXPECT_EQ(spans({1, 2, 3, 5, 9, -1}), want);
  EXPECT_EQ(spans({1, 2, 3, 5, 9, -1}), want);  // from the map made above
  ASSERT_TRUE(std::filesystem::exists(dir / "3/threads.bin"));

  // A new index (a reply into thread 5) makes the map anew.
  index({{1, 1}, {2, 2}, {3, 1}, {4, 2}, {5, 5}, {6, 5}});
  EXPECT_EQ(spans({6, 4}), "5/4/2 2/1/3");

  // A number twice, or a number out of range: the map tells nothing.
  index({{1, 1}, {2, 1}, {2, 1}});
  EXPECT_EQ(spans({2}), "no");
  index({{1, 1}, {1 << 24, 1}});
  EXPECT_EQ(spans({1}), "no");
}

// Many boards' maps read in one batch give what each gives alone, batched
// or not, past a map gone stale and a board without an index.
TEST_F(ThreadMap, ManyBoardsAtOnceAsOneByOne) {
  std::vector<int32_t> folders;
  std::vector<std::vector<int32_t>> msgs;
  for (int32_t f = 1; f <= 10; f++) {
    folders.push_back(f);
    msgs.push_back({1, f + 2, 40});
    if (f == 9) continue;
    mkdir((dir / std::to_string(f)).c_str(), 0700);
    std::string b;
    for (int32_t n = 1; n <= 5 + f; n++)
      b += bytes_of(INDEX_DATA{.FOLDER_NO = f, .MSG_NO = n, .THREAD_NO = n % 2 ? n : n - 1});
    put(std::to_string(f) + "/index.dat", b);
  }
  auto all = [&] {
    std::vector<struct stat> st(folders.size());
    for (size_t i = 0; i < folders.size(); i++)
      stat((dir.path() + "/" + std::to_string(folders[i]) + "/index.dat").c_str(), &st[i]);
    std::vector<std::vector<ThreadSpan>> many;
    const std::vector<bool> ok = thread_spans_many(folders, st, msgs, many);
    std::string s;
    for (size_t i = 0; i < folders.size(); i++) {
      std::vector<ThreadSpan> one;
      EXPECT_EQ(thread_spans(folders[i], st[i], msgs[i], one), ok[i]) << folders[i];
      s += ok[i] ? "" : "no ";
      for (size_t k = 0; ok[i] && k < one.size(); k++) {
        EXPECT_EQ(std::memcmp(&one[k], &many[i][k], sizeof one[k]), 0) << folders[i];
        s += std::to_string(one[k].first) + "/" + std::to_string(one[k].count) + " ";
      }
    }
    return s;
  };
  const std::string made = all();
  EXPECT_EQ(made.substr(0, 24), "0/2 2/2 0/0 0/2 2/2 0/0 ");
  EXPECT_NE(made.find("no "), std::string::npos);
  for (bool plain : {false, true}) {
    read_small_files_plain(plain);
    EXPECT_EQ(all(), made);
  }
  read_small_files_plain(false);
  // Board 4 gains a reply to message 3: its map is stale and made anew.
  put("4/index.dat", get("4/index.dat") + bytes_of(INDEX_DATA{.FOLDER_NO = 4, .MSG_NO = 10, .THREAD_NO = 3}));
  msgs[3] = {10};
  EXPECT_NE(all(), made);
}

}  // namespace
