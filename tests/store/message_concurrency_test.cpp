// Simultaneous requests on one board: processes post new threads and
// replies at the same moment while another reads bodies, and others mark
// the same messages read and attach files to them; afterwards nothing may be
// lost or doubled, the index must be in thread order, every body whole.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/globals.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "site.h"
#include "store/message.h"

namespace {

constexpr int32_t F = 3;
constexpr int WRITERS = 6;
constexpr int POSTS = 20;

// The body every message carries: its title, bulk, and an end mark, so that
// a half-written body is told from a whole one.
std::string body_for(const std::string& title) {
  return title + "|" + std::string(90000, static_cast<char>('a' + title.size() % 26)) + "|END";
}

// One writer: posts new threads and replies to messages it sees, each with
// its body. Exit status 0 or the step that failed.
int writer(int k) {
  std::mt19937 rng(static_cast<unsigned>(k * 7919 + 1));
  std::string user = "user" + std::to_string(k);
  set_field(G_MST_USER.USER_ID, user);
  for (int i = 0; i < POSTS; i++) {
    std::vector<INDEX_DATA> idx;
    load_index(F, idx);
    int32_t parent = 0;
    if (!idx.empty() && i % 3 != 0) parent = idx[rng() % idx.size()].MSG_NO;
    std::string title = "w" + std::to_string(k) + "-" + std::to_string(i) + " p" +
                        std::to_string(parent);
    std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
    sINDEX_DATA.FOLDER_NO = F;
    sINDEX_DATA.MSG_NO = parent;
    set_field(sINDEX_DATA.WRITE_TITLE, title);
    set_field(sINDEX_DATA.USER_ID, user);
    if (WriteINDEX_DATA() != 0 || sINDEX_DATA.MSG_NO <= 0) return 1;
    if (WriteContentsDATA(body_for(title).c_str()) != 0) return 2;
  }
  return 0;
}

// One reader: until told to stop, reads the bodies of the newest messages,
// those being written; a body is either not yet written (empty) or whole.
int reader(const std::string& stop_file) {
  set_field(G_MST_USER.USER_ID, "reader");
  static char buf[CONTENTS_MAX + 1];
  int rounds = 0;
  while (!file_exists(stop_file) || rounds == 0) {
    rounds++;
    std::vector<INDEX_DATA> idx;
    load_index(F, idx);
    std::sort(idx.begin(), idx.end(),
              [](const INDEX_DATA& a, const INDEX_DATA& b) { return a.MSG_NO > b.MSG_NO; });
    if (idx.size() > WRITERS) idx.resize(WRITERS);
    for (const INDEX_DATA& r : idx) {
      sINDEX_DATA = r;
      if (ReadContentsDATA(buf) != 0) return 4;
      if (buf[0] && std::string(buf) != body_for(std::string(field(r.WRITE_TITLE)))) return 5;
    }
    if (CountREAD_POINT(F) < 0) return 6;
  }
  return 0;
}

// Forks `n` processes that run `body(k)` all at once, when a pipe they wait
// on is closed, and exit with its result.
template <class Body>
std::vector<pid_t> start_together(int n, Body body) {
  int gate[2];
  if (pipe(gate) != 0) return {};
  std::vector<pid_t> pids;
  for (int k = 0; k < n; k++) {
    pid_t pid = fork();
    if (pid == 0) {
      close(gate[1]);
      char c;
      while (read(gate[0], &c, 1) > 0) {
      }
      _exit(body(k));
    }
    pids.push_back(pid);
  }
  close(gate[0]);
  close(gate[1]);
  return pids;
}

int exit_status(pid_t pid) {
  int st = 0;
  if (pid <= 0 || waitpid(pid, &st, 0) != pid) return -1;
  return WIFEXITED(st) ? WEXITSTATUS(st) : 128 + WTERMSIG(st);
}

TEST(MessageConcurrency, SimultaneousPostsAndRepliesAreAllKept) {
  TempDir dir;
  copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
  std::string stop = dir / "stop";
  std::vector<pid_t> pids = start_together(WRITERS + 1, [&](int k) {
    return k < WRITERS ? writer(k) : reader(stop);
  });
  for (int k = 0; k < WRITERS; k++) EXPECT_EQ(exit_status(pids[k]), 0) << "writer " << k;
  write_file_bytes(stop, "");
  EXPECT_EQ(exit_status(pids[WRITERS]), 0) << "reader";

  std::vector<INDEX_DATA> idx;
  ASSERT_TRUE(load_index(F, idx));
  EXPECT_EQ(read_file_bytes(dir / "3/index.dat").size(), idx.size() * sizeof(INDEX_DATA));
  ASSERT_EQ(idx.size(), static_cast<size_t>(WRITERS * POSTS));

  // Every title once, every number once: nothing lost, nothing doubled.
  std::map<std::string, size_t> by_title;
  std::map<int32_t, size_t> by_no;
  for (size_t i = 0; i < idx.size(); i++) {
    by_title[std::string(field(idx[i].WRITE_TITLE))] = i;
    by_no[idx[i].MSG_NO] = i;
  }
  EXPECT_EQ(by_title.size(), idx.size());
  ASSERT_EQ(by_no.size(), idx.size());
  EXPECT_EQ(by_no.begin()->first, 1);
  EXPECT_EQ(by_no.rbegin()->first, WRITERS * POSTS);

  // Thread order.
  int32_t last_head = 0;
  std::map<int32_t, int32_t> last_child;  // parent -> newest child so far
  for (size_t i = 0; i < idx.size(); i++) {
    const INDEX_DATA& r = idx[i];
    std::string title(field(r.WRITE_TITLE));
    int32_t parent = std::stoi(title.substr(title.find(" p") + 2));
    EXPECT_LE(r.RES_DEPTH, i == 0 ? 0 : idx[i - 1].RES_DEPTH + 1) << title;
    if (parent == 0) {
      EXPECT_EQ(r.RES_DEPTH, 0) << title;
      EXPECT_EQ(r.THREAD_NO, r.MSG_NO) << title;
      EXPECT_GT(r.MSG_NO, last_head) << "threads in order of their first messages";
      last_head = r.MSG_NO;
      continue;
    }
    ASSERT_TRUE(by_no.count(parent)) << title;
    size_t p = by_no[parent];
    ASSERT_LT(p, i) << title;
    EXPECT_EQ(r.RES_DEPTH, idx[p].RES_DEPTH + 1) << title;
    EXPECT_EQ(r.THREAD_NO, idx[p].THREAD_NO) << title;
    for (size_t j = p + 1; j < i; j++)
      EXPECT_GT(idx[j].RES_DEPTH, idx[p].RES_DEPTH) << title << " outside its parent's subtree";
    EXPECT_GT(r.MSG_NO, last_child[parent]) << "siblings in writing order: " << title;
    last_child[parent] = r.MSG_NO;
  }

  // Each body is its own message's, each read-mark file its author's alone.
  for (const INDEX_DATA& r : idx) {
    std::string title(field(r.WRITE_TITLE));
    std::string no = std::to_string(r.MSG_NO);
    EXPECT_EQ(read_file_bytes(dir / ("3/x" + no + ".dat")), body_for(title)) << title;
    std::string mark = read_file_bytes(dir / ("3/r" + no + ".dat"));
    ASSERT_EQ(mark.size(), sizeof(READ_POINT)) << title;
    EXPECT_EQ(std::string(mark.c_str() + 4), "user" + title.substr(1, title.find('-') - 1));
  }
}

// Every process marks the same messages as read and fills its own slot of
// the same messages' attachment lists, in the same order, so that the
// updates of one file meet.
TEST(MessageConcurrency, SimultaneousMarksAndAttachmentsAreAllKept) {
  TempDir dir;
  copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
  constexpr int MSGS = 150;
  set_field(G_MST_USER.USER_ID, "author");
  for (int i = 0; i < MSGS; i++) {
    std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
    sINDEX_DATA.FOLDER_NO = F;
    ASSERT_EQ(WriteINDEX_DATA(), 0);
  }
  std::vector<pid_t> pids = start_together(WRITERS, [](int k) {
    std::string user = "user" + std::to_string(k);
    set_field(G_MST_USER.USER_ID, user);
    for (int32_t m = 1; m <= MSGS; m++) {
      sREAD_POINT = READ_POINT{m, {}, 0};
      set_field(sREAD_POINT.USER_ID, user);
      if (WriteREAD_POINT(F) != 0) return 1;
      sADD_FILE = ADD_FILE{m, k + 1, {}};
      set_field(sADD_FILE.FILE_NAME, user + ".txt");
      if (WriteADD_FILE(F) != 0) return 2;
    }
    return 0;
  });
  for (int k = 0; k < WRITERS; k++) EXPECT_EQ(exit_status(pids[k]), 0) << "writer " << k;

  for (int32_t m = 1; m <= MSGS; m++) {
    std::set<std::string> readers;
    for (int n = 0; ReadREAD_POINT2(F, m, n) == 0; n++)
      readers.insert(std::string(field(sREAD_POINT.USER_ID)));
    EXPECT_EQ(readers.size(), static_cast<size_t>(WRITERS + 1)) << "marks of " << m;
    EXPECT_EQ(read_file_bytes(dir / ("3/r" + std::to_string(m) + ".dat")).size(),
              (WRITERS + 1) * sizeof(READ_POINT));
  }
  std::string list = read_file_bytes(dir / "3/add_file.dat");
  ASSERT_EQ(list.size(), MSGS * WRITERS * sizeof(ADD_FILE));
  std::set<std::string> attached;
  for (size_t off = 0; off < list.size(); off += sizeof(ADD_FILE)) {
    ADD_FILE a;
    std::memcpy(&a, list.data() + off, sizeof a);
    EXPECT_EQ(field(a.FILE_NAME), "user" + std::to_string(a.ADD_NO - 1) + ".txt");
    attached.insert(std::to_string(a.MSG_NO) + "/" + std::to_string(a.ADD_NO));
  }
  EXPECT_EQ(attached.size(), static_cast<size_t>(MSGS * WRITERS));
}

}  // namespace
