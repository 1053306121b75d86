// Simultaneous writers of messages and of every other store: nothing lost
// or doubled, every body whole.
#include <sched.h>
#include <sys/mman.h>

#include <atomic>
#include <new>

#include "data_dir.h"

namespace {

constexpr int32_t F = 3;
constexpr int WRITERS = 6;
using Clock = std::chrono::steady_clock;

// meet(r) returns once all writers (forked) have called it, or after a second.
std::atomic<int>* const met = new (mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                                        MAP_SHARED | MAP_ANONYMOUS, -1, 0)) std::atomic<int>(0);
void meet(int round) {
  met->fetch_add(1);
  auto until = Clock::now() + std::chrono::seconds(1);
  while (*met < (round + 1) * WRITERS && Clock::now() < until) sched_yield();
}

int post(int32_t parent, const std::string& title = "") {
  sINDEX_DATA = INDEX_DATA{.FOLDER_NO = F, .MSG_NO = parent};
  set_field(sINDEX_DATA.WRITE_TITLE, title);
  return WriteINDEX_DATA();
}

// A body with its title, bulk and an end mark: a half-written one shows.
std::string body_for(const std::string& title) {
  return title + "|" + std::string(90000, static_cast<char>('a' + title.size() % 26)) + "|END";
}

using Concurrency = DataDir;

TEST_F(Concurrency, SimultaneousPostsAndRepliesAreAllKept) {
  constexpr int POSTS = 15;
  EXPECT_TRUE(run_together(WRITERS + 1, [](int k) {
    static char buf[CONTENTS_MAX + 1];
    std::vector<INDEX_DATA> idx;
    // The reader: the newest bodies, being written, are empty or whole.
    auto until = Clock::now() + std::chrono::seconds(60);
    while (k == WRITERS && idx.size() < WRITERS * POSTS) {
      if (Clock::now() > until) return 3;
      load_index(F, idx);
      std::sort(idx.begin(), idx.end(), [](auto& a, auto& b) { return a.MSG_NO > b.MSG_NO; });
      for (size_t i = 0; i < idx.size() && i < WRITERS; i++) {
        sINDEX_DATA = idx[i];
        if (ReadContentsDATA(buf) != 0) return 4;
        if (buf[0] && buf != body_for(std::string(field(idx[i].WRITE_TITLE)))) return 5;
      }
    }
    // The writers: new threads and replies to messages they see.
    std::mt19937 rng(k);
    set_field(G_MST_USER.USER_ID, std::to_string(k));
    for (int i = 0; k < WRITERS && i < POSTS; i++) {
      load_index(F, idx);
      int32_t parent = idx.empty() || i % 3 == 0 ? 0 : idx[rng() % idx.size()].MSG_NO;
      auto title = std::to_string(k) + " " + std::to_string(i) + " " + std::to_string(parent);
      if (post(parent, title) != 0 || WriteContentsDATA(body_for(title).c_str()) != 0) return 1;
    }
    return 0;
  }));

  std::vector<INDEX_DATA> idx;  // every number once: the thread order lists each once
  ASSERT_TRUE(load_index(F, idx));
  std::map<int32_t, std::string> title;
  for (const INDEX_DATA& r : idx) title[r.MSG_NO] = field(r.WRITE_TITLE);
  ASSERT_EQ(idx.size(), WRITERS * POSTS);
  EXPECT_EQ(title.rbegin()->first, WRITERS * POSTS);

  // Each body is its own message's, each read-mark file its author's alone.
  for (auto& [no, t] : title) {
    std::string n = std::to_string(no), mark = get("3/r" + n + ".dat");
    EXPECT_EQ(get("3/x" + n + ".dat"), body_for(t)) << t;
    ASSERT_EQ(mark.size(), sizeof(READ_POINT)) << t;
    EXPECT_EQ(std::string(mark.c_str() + 4), t.substr(0, t.find(' '))) << t;
  }
}

// Writer `k` of each store adds its own keys in round `i`; read marks and
// attachments update the same messages, so that updates meet. Non-zero on a failure.
constexpr int ROUNDS = 30;
int key(int k, int i) { return 1 + k * ROUNDS + i; }

int (*const store_writers[])(int k, int i) = {
    [](int k, int i) { return sREAD_POINT = {i + 1, {'u', char('0' + k)}, 0}, WriteREAD_POINT(F); },
    [](int k, int i) { return sADD_FILE = {i + 1, k + 1, {'f'}}, WriteADD_FILE(F); },
    [](int k, int i) { return sB_U_ACL = {key(k, i), {'u'}, 1}, WriteB_U_ACL() + 1; },  // -1: added
    [](int k, int i) { return sB_G_ACL = {key(k, i), key(k, i), 1}, WriteB_G_ACL() + 1; },
    [](int k, int i) {
      return sGROUP_USER = {key(k, i), {'u'}}, WriteGROUP_USER() | SortGROUP_USER();
    },
    [](int k, int i) {
      std::string id = "u" + std::to_string(key(k, i)), tmp = "tmp" + id;
      return WriteUNREAD(12, id.c_str()) | WriteUNREAD(12, tmp.c_str()) |
             DeleteUNREAD(12, tmp.c_str());
    },
    [](int k, int i) { return sB_TITLE = {key(k, i), KIND_BOARD, {}, 0}, InsertB_TITLE(1); },
    [](int k, int i) { return sB_TITLE2 = {}, sB_TITLE2.FOLDER_NO = key(k, i), InsertB_TITLE2(); },
    [](int, int) {
      SYSTEM_LOG e{"u", "", LOG_KIND_LOGIN, 0, "", ""};
      return DeleteSYSTEM_LOG(""), WriteSYSTEM_LOG(&e);  // the prune rewrites the log
    },
};
constexpr int STORES = sizeof store_writers / sizeof store_writers[0];

TEST_F(Concurrency, AllStoreWritersAtOnceLoseNothing) {
  set_field(G_MST_USER.USER_ID, "author");
  for (int i = 0; i < ROUNDS; i++) ASSERT_EQ(post(0), 0);
  // The writers meet before each store's turn in each round.
  met->store(0);
  EXPECT_TRUE(run_together(WRITERS, [](int k) {
    int bad = 0;
    for (int i = 0; i < ROUNDS; i++)
      for (int s = 0; s < STORES; s++) meet(i * STORES + s), bad += store_writers[s](k, i) != 0;
    return std::min(bad, 100);
  }));

  // A lost or doubled update changes the size.
  for (int32_t m = 1; m <= ROUNDS; m++)  // the author's mark and each writer's
    EXPECT_EQ(get("3/r" + std::to_string(m) + ".dat").size(), (WRITERS + 1) * sizeof(READ_POINT));
  constexpr size_t N = WRITERS * ROUNDS;
  for (auto [file, size] : {std::pair{"3/add_file.dat", sizeof(ADD_FILE)},
                            {"b_u_acl.mst", sizeof(B_U_ACL)}, {"b_g_acl.mst", sizeof(B_G_ACL)},
                            {"b_title2.mst", sizeof(B_TITLE2)}, {"b_title.mst", size_t{0}},
                            {"system.log", size_t{0}}, {"12/unread.dat", size_t{0}}}) {
    std::string bytes = get(file);  // size 0: a line per entry
    EXPECT_EQ(size ? bytes.size() : std::count(bytes.begin(), bytes.end(), '\n'), size ? N * size : N) << file;
  }
  EXPECT_EQ(get("12/unread.dat").find("tmp"), std::string::npos);
  std::string sorted;  // the memberships after the last sort
  for (size_t k = 1; k <= N; k++) sorted += std::to_string(k) + ",u,\n";
  EXPECT_EQ(get("g_user.mst"), sorted);
}

}  // namespace
