// Derived read data (readcache.bin): built, kept current, found stale, rebuilt.
#include "data_dir.h"
#include "store/batch_read.h"
#include "store/read_cache.h"
#include "store/unread.h"

namespace {

constexpr int32_t F = 4;
using Nums = std::vector<int32_t>;

class ReadCache : public DataDir {
 protected:
  static int32_t post(int32_t parent, const std::string& author = "alice") {
    set_field(G_MST_USER.USER_ID, author);
    sINDEX_DATA = INDEX_DATA{.FOLDER_NO = F, .MSG_NO = parent};
    EXPECT_EQ(WriteINDEX_DATA(), 0);
    return sINDEX_DATA.MSG_NO;
  }
  static Nums unread(const std::string& user) {
    ReadView v;
    EXPECT_TRUE(read_view(F, user, v, true));
    EXPECT_EQ(v.count, static_cast<int>(v.numbers.size()));
    return v.numbers;
  }
  // The file is there, clean, and stamped with the index as it is now.
  bool current() const {
    std::string b = get("4/readcache.bin");
    int64_t size = -1;
    if (b.size() >= 64) std::memcpy(&size, b.data() + 16, 8);
    return b.size() >= 64 && b[8] == 0 && size == static_cast<int64_t>(get("4/index.dat").size());
  }
  // An index and read marks written by hand, as an older version left them.
  void index(const Nums& nums) {
    mkdir((dir / "4").c_str(), 0700);
    std::string b;
    for (int32_t n : nums) b += bytes_of(INDEX_DATA{.FOLDER_NO = F, .MSG_NO = n, .THREAD_NO = n});
    put("4/index.dat", b);
  }
  void marks(int32_t msg, const std::vector<std::string>& users) {
    std::string b;
    for (const std::string& u : users) {
      READ_POINT p{msg, {}, 0};
      set_field(p.USER_ID, u);
      b += bytes_of(p);
    }
    put("4/r" + std::to_string(msg) + ".dat", b);
  }
};

TEST_F(ReadCache, OldDirectoryIsCountedFromItsMarksAndTheFileThenServes) {
  index({1, 2, 3, 5});
  marks(1, {"alice", "bob"});
  marks(2, {"bob", "bob"});  // twice: still one message read
  marks(3, {"alice"});
  marks(9, {"bob"});         // a number not in the index counts nothing
  EXPECT_EQ(unread("alice"), (Nums{2, 5}));
  EXPECT_EQ(unread("bob"), (Nums{3, 5}));
  EXPECT_EQ(unread("carol"), (Nums{1, 2, 3, 5}));
  EXPECT_TRUE(current());
  // Served from the file: a mark changed by hand is seen after a rebuild only.
  marks(5, {"alice"});
  EXPECT_EQ(unread("alice"), (Nums{2, 5}));
  EXPECT_EQ(verify_read_cache(F), 1);
  EXPECT_EQ(rebuild_read_cache(F), 0);
  EXPECT_EQ(unread("alice"), (Nums{2}));
  index({1, 2, 3, 5, 6});
  EXPECT_EQ(unread("alice"), (Nums{2, 6}));
  // An ID is its bytes up to the first zero byte, at every length up to 21.
  std::string six;
  for (std::string id : {std::string("bob\0junk", 8), std::string("abcdefgh"),
                         std::string("abcdefghijklmnop"), std::string(21, 'z')}) {
    READ_POINT p{6, {}, 0};
    std::memcpy(p.USER_ID, id.data(), id.size());
    six += bytes_of(p);
  }
  put("4/r6.dat", six);
  EXPECT_EQ(rebuild_read_cache(F), 0);
  EXPECT_EQ(unread("bob"), (Nums{3, 5}));
  for (const char* id : {"abcdefgh", "abcdefghijklmnop", "zzzzzzzzzzzzzzzzzzzzz"})
    EXPECT_EQ(unread(id), (Nums{1, 2, 3, 5})) << id;
  EXPECT_EQ(unread("abcdefghijklmnopq"), (Nums{1, 2, 3, 5, 6}));
  EXPECT_TRUE(is_read_cache_name("readcache.bin.tmp") && !is_read_cache_name("readcache.bin.x"));
}

TEST_F(ReadCache, StoreStepsKeepTheFileCurrentPastItsFirstSizes) {
  const int32_t a = post(0), b = post(a, "bob");
  index({a, b, 1000});  // beyond the first width
  ASSERT_EQ(rebuild_read_cache(F), 0);
  for (int i = 0; i < 40; i++) {  // more readers than the first directory holds
    sREAD_POINT = READ_POINT{b, {}, 0};
    set_field(sREAD_POINT.USER_ID, "u" + std::to_string(i));
    ASSERT_EQ(WriteREAD_POINT(F), 0);
  }
  for (int i = 0; i < 30; i++) post(0);
  EXPECT_TRUE(current());
  EXPECT_EQ(verify_read_cache(F), 0);
  EXPECT_EQ(unread("u7").size(), 32u);
  EXPECT_EQ(unread("alice"), (Nums{b, 1000}));
}

TEST_F(ReadCache, InterruptedStepLeavesTheFileStaleAndTheNextReaderRebuildsIt) {
  const int32_t a = post(0), c = post(0);
  EXPECT_EQ(unread("bob").size(), 2u);
  {
    // A step that dies between its record change and its commit.
    DirLock lock((dir / "4/index.dat").c_str());
    ReadCacheChange change(F);
    ASSERT_TRUE(change.active());
    marks(a, {"alice", "bob"});
  }
  EXPECT_FALSE(current());
  EXPECT_EQ(verify_read_cache(F), 0);  // stale is not wrong
  EXPECT_EQ(unread("bob"), (Nums{c}));
  EXPECT_TRUE(current());
  // A stale file met by a store step is removed at once.
  std::string b = get("4/readcache.bin");
  b[8] = 1;
  put("4/readcache.bin", b);
  set_field(G_MST_USER.USER_ID, "bob");
  ASSERT_EQ(MarkREAD_POINT(F, c), 0);
  EXPECT_FALSE(file_exists(dir / "4/readcache.bin"));
  EXPECT_EQ(unread("bob"), Nums{});
  // A damaged file is never taken for current.
  put("4/readcache.bin", get("4/readcache.bin").substr(0, 100));
  EXPECT_EQ(unread("carol").size(), 2u);
  EXPECT_TRUE(current());
}

// A step that changes one user's row and then every row (a mark, then an
// edit) keeps both, whichever row the first change was in.
TEST_F(ReadCache, AStepOverEveryRowKeepsTheRowItChangedBefore) {
  const std::vector<std::string> users = {"alice", "bob", "carol"};
  for (const std::string& u : users) {
    index({1, 2});
    marks(1, users);
    std::vector<std::string> others;
    for (const std::string& o : users)
      if (o != u) others.push_back(o);
    marks(2, others);
    ASSERT_EQ(rebuild_read_cache(F), 0);
    {
      DirLock lock((dir / "4/index.dat").c_str());
      ReadCacheChange change(F);
      ASSERT_TRUE(change.active());
      marks(2, users);
      change.mark(u, 2);
      marks(1, {});
      change.clear(1);
      change.commit();
    }
    EXPECT_TRUE(current()) << u;
    EXPECT_EQ(verify_read_cache(F), 0) << u;
    for (const std::string& o : users) EXPECT_EQ(unread(o), Nums{1}) << u << " first, then " << o;
  }
}

// Many boards counted at once give what each gives alone, for every kind of board.
TEST_F(ReadCache, ManyBoardsAtOnceCountAsOneByOne) {
  set_field(G_MST_USER.USER_ID, "amy");
  std::vector<int32_t> boards;
  for (int32_t no = 1; no <= 40; no++) {
    boards.push_back(no);
    const std::string d = std::to_string(no);
    if (no % 5 == 0) {  // none, but one spelt "05"
      mkdir((dir / ("0" + d)).c_str(), 0700);
      continue;
    }
    mkdir((dir / d).c_str(), 0700);
    std::string idx;
    for (int32_t m = 1; m <= no % 7; m++) {
      idx += bytes_of(INDEX_DATA{.FOLDER_NO = no, .MSG_NO = m, .THREAD_NO = m});
      READ_POINT p{m, {}, 0};
      set_field(p.USER_ID, m % 2 ? "amy" : "bob");
      put(d + "/r" + std::to_string(m) + ".dat", bytes_of(p));
    }
    if (no % 5 != 1) put(d + "/index.dat", idx);
    if (no % 5 == 2) {
      EXPECT_EQ(WriteUNREAD(no, "amy"), 0);
    }
  }
  const std::vector<int> many = unread_counts(boards);
  ASSERT_EQ(many.size(), boards.size());
  int some = 0;
  for (size_t i = 0; i < boards.size(); i++) {
    EXPECT_EQ(many[i], unread_count(boards[i])) << boards[i];
    some += many[i] > 0;
  }
  EXPECT_GT(some, 5);

  // The numbers too, from the files read in one batch (made by the counts
  // above) or one by one, past a damaged file.
  put("3/readcache.bin", "junk");
  for (bool plain : {false, true}) {
    read_small_files_plain(plain);
    const std::vector<std::vector<int32_t>> numbers = unread_numbers_many(boards);
    for (size_t i = 0; i < boards.size(); i++) EXPECT_EQ(numbers[i], unread_numbers(boards[i])) << boards[i];
  }
  read_small_files_plain(false);
}

// Boards read in one batch whose files are larger than one read of a
// board alone agree with a board read alone.
TEST_F(ReadCache, LargerFilesReadInABatchAgreeWithOneRead) {
  Nums nums;
  for (int32_t n = 1; n <= 1000; n++) nums.push_back(n);
  index(nums);
  std::vector<std::string> users;
  for (int u = 0; u < 120; u++) users.push_back("u" + std::to_string(u));
  marks(1, users);
  marks(500, {"u7", "u119"});
  unread("u0");  // makes the file
  ASSERT_GT(get("4/readcache.bin").size(), 20000u);
  for (bool plain : {false, true}) {
    read_small_files_plain(plain);
    for (int u = 0; u < 120; u += 7) {
      std::vector<ReadView> many;
      const std::vector<bool> ok = read_views(Nums(8, F), users[static_cast<size_t>(u)], many, true);
      for (size_t i = 0; i < 8; i++) {
        EXPECT_TRUE(ok[i]);
        EXPECT_EQ(many[i].numbers, unread(users[static_cast<size_t>(u)])) << u;
      }
    }
  }
  // A file longer than its header says is unsound, batched or not: it is
  // made anew.
  for (bool plain : {false, true}) {
    read_small_files_plain(plain);
    const std::string good = get("4/readcache.bin");
    put("4/readcache.bin", good + "x");
    std::vector<ReadView> many;
    read_views(Nums(8, F), "u7", many, true);
    EXPECT_EQ(get("4/readcache.bin").size(), good.size()) << plain;
    EXPECT_EQ(many[7].numbers, unread("u7"));
  }
  read_small_files_plain(false);
  EXPECT_EQ(unread("u119").size(), 998u);
}

TEST_F(ReadCache, IndexWithANumberTwiceIsCountedPerRecordWithoutAFile) {
  index({3, 3});
  ReadView v;
  ASSERT_TRUE(read_view(F, "carol", v, true));
  EXPECT_TRUE(v.count == 2 && v.numbers == Nums{3} && !file_exists(dir / "4/readcache.bin"));
  // A board without a directory is empty, and gets no file.
  ASSERT_TRUE(read_view(F + 1, "alice", v));
  EXPECT_TRUE(v.count == 0 && !file_exists(dir / "5"));
}

}  // namespace
