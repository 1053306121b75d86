// The derived thread map: spans of interleaved threads, numbers it does not
// know, odd indexes, and a map that no longer fits the index.

#include "data_dir.h"
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

}  // namespace
