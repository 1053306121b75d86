// Simultaneous requests: processes post new threads and replies while
// another reads bodies, and the writers of every store add entries at the
// same moments. Afterwards nothing may be lost or doubled, the index must be
// in thread order and every body whole.
#include <sched.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <map>
#include <new>
#include <random>
#include <vector>

#include "app/globals.h"
#include "data_dir.h"
#include "store/acl.h"
#include "store/folder.h"
#include "store/group.h"
#include "store/message.h"
#include "store/syslog.h"
#include "store/unread.h"

namespace {

constexpr int32_t F = 3;
constexpr int WRITERS = 6;

// Lets forked processes meet: wait(r) returns once all `n` have called
// wait(r), or after a second, so that one that died cannot hold up the rest.
class Rendezvous {
 public:
  explicit Rendezvous(int n) : n_(n) {
    void* m = mmap(nullptr, sizeof *count_, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS,
                   -1, 0);
    count_ = new (m) std::atomic<int>(0);
  }
  ~Rendezvous() { munmap(count_, sizeof *count_); }
  void wait(int round) {
    count_->fetch_add(1);
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(1);
    while (*count_ < (round + 1) * n_ && std::chrono::steady_clock::now() < until) sched_yield();
  }

 private:
  int n_;
  std::atomic<int>* count_;
};

// Runs `body(k)` for each k below `n` in processes of their own, all at
// once, and gives their exit statuses.
template <class Body>
std::vector<int> run_all(int n, Body body) {
  std::vector<pid_t> pids;
  for (int k = 0; k < n; k++)
    if (pids.emplace_back(fork()) == 0) _exit(body(k));
  std::vector<int> status;
  for (pid_t pid : pids) {
    int st = 0;
    waitpid(pid, &st, 0);
    status.push_back(WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st));
  }
  return status;
}

size_t lines(const std::string& text) { return std::count(text.begin(), text.end(), '\n'); }

using Concurrency = DataDir;

// The body every message carries: its title, bulk, and an end mark, so that
// a half-written body is told from a whole one.
std::string body_for(const std::string& title) {
  return title + "|" + std::string(90000, static_cast<char>('a' + title.size() % 26)) + "|END";
}

TEST_F(Concurrency, SimultaneousPostsAndRepliesAreAllKept) {
  constexpr int POSTS = 15;
  Rendezvous start(WRITERS + 1);
  std::vector<int> status = run_all(WRITERS + 1, [&](int k) {
    start.wait(0);
    static char buf[CONTENTS_MAX + 1];
    std::vector<INDEX_DATA> idx;
    // The reader, until all messages are in: the newest bodies, being
    // written, are empty or whole.
    auto until = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (k == WRITERS && idx.size() < WRITERS * POSTS) {
      if (std::chrono::steady_clock::now() > until) return 3;
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
      std::string title = std::to_string(k) + " " + std::to_string(i) + " ";
      title += std::to_string(parent);
      sINDEX_DATA = INDEX_DATA{};
      sINDEX_DATA.FOLDER_NO = F;
      sINDEX_DATA.MSG_NO = parent;
      set_field(sINDEX_DATA.WRITE_TITLE, title);
      if (WriteINDEX_DATA() != 0 || WriteContentsDATA(body_for(title).c_str()) != 0) return 1;
    }
    return 0;
  });
  EXPECT_EQ(status, std::vector<int>(WRITERS + 1, 0));  // the reader last

  // Every number from 1 once: nothing lost, nothing doubled.
  std::vector<INDEX_DATA> idx;
  ASSERT_TRUE(load_index(F, idx));
  ASSERT_EQ(idx.size(), static_cast<size_t>(WRITERS * POSTS));
  std::map<int32_t, size_t> pos;
  for (size_t i = 0; i < idx.size(); i++) pos[idx[i].MSG_NO] = i;
  ASSERT_EQ(pos.size(), idx.size());
  EXPECT_EQ(pos.rbegin()->first, WRITERS * POSTS);

  // Thread order: threads in the order of their first messages; a reply
  // inside its parent's subtree, one deeper, after its older siblings.
  std::map<int32_t, int32_t> last_child;  // parent (0: none) -> newest so far
  for (size_t i = 0; i < idx.size(); i++) {
    const INDEX_DATA& r = idx[i];
    std::string title(field(r.WRITE_TITLE));
    int32_t parent = std::stoi(title.substr(title.rfind(' ') + 1));
    EXPECT_GT(r.MSG_NO, last_child[parent]) << title;
    last_child[parent] = r.MSG_NO;
    if (parent == 0) {
      EXPECT_EQ(r.RES_DEPTH, 0) << title;
      EXPECT_EQ(r.THREAD_NO, r.MSG_NO) << title;
    } else {
      ASSERT_TRUE(pos.count(parent) && pos[parent] < i) << title;
      const INDEX_DATA& p = idx[pos[parent]];
      EXPECT_EQ(r.RES_DEPTH, p.RES_DEPTH + 1) << title;
      EXPECT_EQ(r.THREAD_NO, p.THREAD_NO) << title;
      for (size_t j = pos[parent] + 1; j < i; j++)
        EXPECT_GT(idx[j].RES_DEPTH, p.RES_DEPTH) << title << " outside its parent's subtree";
    }
    // Each body is its own message's, each read-mark file its author's alone.
    std::string no = std::to_string(r.MSG_NO);
    EXPECT_EQ(read_file_bytes(dir / ("3/x" + no + ".dat")), body_for(title)) << title;
    std::string mark = read_file_bytes(dir / ("3/r" + no + ".dat"));
    ASSERT_EQ(mark.size(), sizeof(READ_POINT)) << title;
    EXPECT_EQ(std::string(mark.c_str() + 4), title.substr(0, title.find(' '))) << title;
  }
}

// One writer of each store: writer `k` adds entries with keys of its own in
// round `i`, except that the writers of read marks and attachments all
// update the same messages in the same order, so that updates of one file
// meet. Non-zero on a failure.
constexpr int ROUNDS = 30;
int key(int k, int i) { return 1 + k * ROUNDS + i; }
std::string uid(int k, int i) { return "u" + std::to_string(key(k, i)); }

int (*const store_writers[])(int k, int i) = {
    [](int k, int i) {
      sREAD_POINT = READ_POINT{i + 1, {}, 0};
      set_field(sREAD_POINT.USER_ID, "user" + std::to_string(k));
      return WriteREAD_POINT(F);
    },
    [](int k, int i) {
      sADD_FILE = ADD_FILE{i + 1, k + 1, {}};
      set_field(sADD_FILE.FILE_NAME, "user" + std::to_string(k));
      return WriteADD_FILE(F);
    },
    [](int k, int i) {
      sB_U_ACL = B_U_ACL{key(k, i), {}, 1};
      set_field(sB_U_ACL.USER_ID, uid(k, i));
      return WriteB_U_ACL() + 1;  // -1 for an added entry
    },
    [](int k, int i) { return sB_G_ACL = B_G_ACL{key(k, i), key(k, i), 1}, WriteB_G_ACL() + 1; },
    [](int k, int i) {
      sGROUP_USER = GROUP_USER{key(k, i), {}};
      set_field(sGROUP_USER.USER_ID, uid(k, i));
      return WriteGROUP_USER() | SortGROUP_USER();
    },
    [](int k, int i) {
      std::string id = uid(k, i), tmp = "tmp" + id;
      return WriteUNREAD(12, id.c_str()) | WriteUNREAD(12, tmp.c_str()) |
             DeleteUNREAD(12, tmp.c_str());
    },
    [](int k, int i) { return sB_TITLE = B_TITLE{key(k, i), KIND_BOARD, {}, 0}, InsertB_TITLE(1); },
    [](int k, int i) {
      sB_TITLE2 = B_TITLE2{};
      sB_TITLE2.FOLDER_NO = key(k, i);
      return InsertB_TITLE2();
    },
    [](int k, int i) {
      SYSTEM_LOG e{};
      set_field(e.USER_ID, uid(k, i));
      e.LOG_KIND = LOG_KIND_LOGIN;
      DeleteSYSTEM_LOG("");  // prunes nothing, but rewrites the log
      return WriteSYSTEM_LOG(&e);
    },
};
constexpr int STORES = sizeof store_writers / sizeof store_writers[0];

TEST_F(Concurrency, AllStoreWritersAtOnceLoseNothing) {
  set_field(G_MST_USER.USER_ID, "author");
  for (int i = 0; i < ROUNDS; i++) {
    sINDEX_DATA = INDEX_DATA{};
    sINDEX_DATA.FOLDER_NO = F;
    ASSERT_EQ(WriteINDEX_DATA(), 0);
  }
  // The writers meet before each store's turn in each round, so that the
  // writers of one store run into each other every time.
  Rendezvous meet(WRITERS);
  std::vector<int> status = run_all(WRITERS, [&](int k) {
    int bad = 0;
    for (int i = 0; i < ROUNDS; i++) {
      for (int s = 0; s < STORES; s++) {
        meet.wait(i * STORES + s);
        bad += store_writers[s](k, i) != 0;
      }
    }
    return std::min(bad, 100);
  });
  EXPECT_EQ(status, std::vector<int>(WRITERS, 0));

  // A lost update overwrites another writer's record or line; a doubled
  // one adds a second. Either changes the size.
  for (int32_t m = 1; m <= ROUNDS; m++)  // the author's mark and each writer's
    EXPECT_EQ(read_file_bytes(dir / ("3/r" + std::to_string(m) + ".dat")).size(),
              (WRITERS + 1) * sizeof(READ_POINT)) << m;
  constexpr size_t N = WRITERS * ROUNDS;
  EXPECT_EQ(read_file_bytes(dir / "3/add_file.dat").size(), N * sizeof(ADD_FILE));
  EXPECT_EQ(read_file_bytes(dir / "b_u_acl.mst").size(), N * sizeof(B_U_ACL));
  EXPECT_EQ(read_file_bytes(dir / "b_g_acl.mst").size(), N * sizeof(B_G_ACL));
  EXPECT_EQ(read_file_bytes(dir / "b_title2.mst").size(), N * sizeof(B_TITLE2));
  std::string sorted;  // the memberships after the last sort
  for (size_t k = 1; k <= N; k++) sorted += std::to_string(k) + ",u" + std::to_string(k) + ",\n";
  EXPECT_EQ(read_file_bytes(dir / "g_user.mst"), sorted);
  EXPECT_EQ(lines(read_file_bytes(dir / "b_title.mst")), N);
  EXPECT_EQ(lines(read_file_bytes(dir / "system.log")), N);
  std::string unread = read_file_bytes(dir / "12/unread.dat");
  EXPECT_EQ(lines(unread), N);
  EXPECT_EQ(unread.find("tmp"), std::string::npos);
}

}  // namespace
