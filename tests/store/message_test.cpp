// Message store: numbering, threading, bodies, read marks, attachments.

#include "data_dir.h"

namespace {

constexpr int32_t F = 7;

INDEX_DATA rec(int32_t no, int32_t thread = 0, int32_t depth = 0) {
  return INDEX_DATA{.FOLDER_NO = F, .MSG_NO = no, .THREAD_NO = thread, .RES_DEPTH = depth};
}

class MessageStore : public DataDir {
 protected:
  void SetUp() override { DataDir::SetUp(); as_user("alice"); }
  static void as_user(const char* id) { set_field(G_MST_USER.USER_ID, id); }
  // Posts a message (parent 0: a new thread) and returns its number.
  static int32_t post(int32_t parent) {
    sINDEX_DATA = rec(parent);
    EXPECT_EQ(WriteINDEX_DATA(), 0);
    return sINDEX_DATA.MSG_NO;
  }
  // The index as "number/thread/depth" per record, in file order.
  std::string shape() const {
    std::vector<INDEX_DATA> v;
    load_index(F, v);
    EXPECT_EQ(get("7/index.dat").size(), v.size() * sizeof(INDEX_DATA));  // no partial tail
    std::string s;
    for (const INDEX_DATA& r : v)
      s += (s.empty() ? "" : " ") + std::to_string(r.MSG_NO) + "/" + std::to_string(r.THREAD_NO) +
           "/" + std::to_string(r.RES_DEPTH);
    return s;
  }
  static std::string marks(int32_t msg) {
    std::string s;
    for (int n = 0; ReadREAD_POINT2(F, msg, n) == 0; n++)
      s += (s.empty() ? "" : " ") + std::string(field(sREAD_POINT.USER_ID));
    return s;
  }
  static int mark(int32_t msg, const std::string& id) {
    sREAD_POINT = READ_POINT{msg, {}, 0};
    set_field(sREAD_POINT.USER_ID, id);
    return WriteREAD_POINT(F);
  }
  // Lays out an index of (number, thread, depth) records and trailing bytes.
  void write_index(std::vector<std::array<int32_t, 3>> recs, const std::string& tail = "junk") {
    std::string bytes;
    for (auto [no, thread, depth] : recs) bytes += bytes_of(rec(no, thread, depth));
    mkdir((dir / "7").c_str(), 0700);
    put("7/index.dat", bytes + tail);
  }
};

TEST_F(MessageStore, RepliesGoAfterTheirParentsSubtreeInWritingOrder) {
  sINDEX_DATA = rec(0, 9);  // number, thread and deletion flag are the store's to set
  sINDEX_DATA.DEL_FLG = 1;
  ASSERT_EQ(WriteINDEX_DATA(), 0);
  EXPECT_EQ(sINDEX_DATA.DEL_FLG, 0);
  EXPECT_EQ(file_mode(dir / "7"), 0700);
  for (int32_t parent : {1, 0, 1, 2, 5, 1, 3}) post(parent);
  EXPECT_EQ(shape(), "1/1/0 2/1/1 5/1/2 6/1/3 4/1/1 7/1/1 3/3/0 8/3/1");
  // A reply to a number not in the index heads a thread of its own.
  EXPECT_EQ(post(42), 9);
  EXPECT_EQ(shape().substr(48), "9/42/0");
  sINDEX_DATA.MSG_NO = -1;
  EXPECT_EQ(WriteINDEX_DATA(), -1);
  EXPECT_EQ(CountINDEX_DATA(F), 9);
  // The index's own rewrite (a reply inside a thread) drops a partial tail.
  write_index({{1, 1, 0}, {2, 2, 0}}, std::string(50, 'z'));
  EXPECT_EQ(post(1), 3);
  EXPECT_EQ(shape(), "1/1/0 3/1/1 2/2/0");
  write_index({{INT32_MAX, INT32_MAX, 0}}, "");
  sINDEX_DATA = rec(0);
  EXPECT_EQ(WriteINDEX_DATA(), -1);  // no number left, rather than a negative one
}

TEST_F(MessageStore, RecordComesLastAndAReusedNumberStartsClean) {
  post(0);
  post(0);
  ASSERT_EQ(WriteContentsDATA("old body"), 0);
  ASSERT_EQ(mark(2, "bob"), 0);
  sADD_FILE = ADD_FILE{2, 1, "a.txt"};
  ASSERT_EQ(WriteADD_FILE(F), 0);
  for (const char* d : {"add/7", "add/7/x2", "add/7/x2/1"}) mkdir((dir / d).c_str(), 0700);
  put("add/7/x2/1/a.txt", "old file");
  // Removed as an interrupted delete leaves it: only the record is gone.
  EXPECT_EQ(DeleteINDEX_DATA(F, 2), 0);
  as_user("carol");
  // A message whose files cannot be stored gets no record.
  sINDEX_DATA = rec(0);
  EXPECT_EQ(WriteINDEX_DATA([](int32_t) { return -1; }), -1);
  EXPECT_EQ(shape(), "1/1/0");
  // When its files are written, the number is clear and has no record yet.
  std::string seen;
  sINDEX_DATA = rec(0);
  EXPECT_EQ(WriteINDEX_DATA([&](int32_t n) {
              std::vector<ADD_FILE> adds;
              load_add_files(F, adds);
              seen = std::to_string(n) + " " + shape() + " [" + get("7/x2.dat") + "] " + marks(2) +
                     " " + std::to_string(adds.size()) + (file_exists(dir / "add/7/x2/1/a.txt") ? "1" : "0");
              return WriteContentsDATA("new body");
            }), 0);
  EXPECT_EQ(seen, "2 1/1/0 [] carol 00");
  EXPECT_EQ(shape(), "1/1/0 2/2/0");
  EXPECT_EQ(get("7/x2.dat"), "new body");
  EXPECT_EQ(DeleteINDEX_DATA(F, 1), 0);  // a lower number is not reused
  EXPECT_EQ(post(0), 3);
}

TEST_F(MessageStore, BodiesRoundTripAndAreCutAtTheReadLimit) {
  post(0);
  std::string big = "\r" + std::string(CONTENTS_MAX - 2, 'b') + "e" + std::string(500, 'b');
  ASSERT_EQ(WriteContentsDATA(big.c_str()), 0);
  EXPECT_EQ(get("7/x1.dat"), big);  // no terminator stored
  std::vector<char> buf(CONTENTS_MAX + 1, 'Q');
  ASSERT_EQ(ReadContentsDATA(buf.data()), 0);
  EXPECT_EQ(std::string(buf.data()), big.substr(0, CONTENTS_MAX));
}

TEST_F(MessageStore, ReadMarksAndUnreadCount) {
  post(0);  // 1, read by alice as author
  as_user("bob");
  post(1);  // 2
  post(0);  // 3
  for (const char* id : {"carl", "alice", "carl"}) ASSERT_EQ(mark(2, id), 0);
  EXPECT_EQ(marks(2), "bob carl alice");  // one mark per user
  as_user("dave");
  for (int i = 0; i < 2; i++) ASSERT_EQ(MarkREAD_POINT(F, 2), 0);
  EXPECT_EQ(marks(2), "bob carl alice dave");  // marked once, existing marks kept
  as_user("alice");
  EXPECT_EQ(DeleteREAD_POINT(F, 2), 0);
  EXPECT_EQ(get("7/r2.dat"), "");  // the file stays, empty
  ASSERT_EQ(WriteUNREAD(F, "alice"), 0);  // excluded from unread tracking
  EXPECT_EQ(CountREAD_POINT(F), 0);
  for (const char* id : {"carl", "alice"}) ASSERT_EQ(mark(2, id), 0);
  ASSERT_EQ(ResetREAD_POINT(F, 2), 0);
  EXPECT_EQ(marks(2), "alice");  // the current user's mark alone
  EXPECT_EQ(get("7/r2.dat").size(), sizeof(READ_POINT));
}

TEST_F(MessageStore, AttachmentOfASlotIsReplaced) {
  post(0);
  for (auto [msg, slot, name] : {std::tuple{1, 1, "a"}, {1, 2, "b"}, {2, 1, "c"}, {1, 2, "b2"}}) {
    sADD_FILE = ADD_FILE{msg, slot, {}};
    set_field(sADD_FILE.FILE_NAME, name);
    ASSERT_EQ(WriteADD_FILE(F), 0);
  }
  EXPECT_EQ(get("7/add_file.dat").size(), 3 * sizeof(ADD_FILE));  // b2 replaced b
  sADD_FILE = ADD_FILE{1, 2, {}};
  ASSERT_EQ(ReadADD_FILE(F), 0);
  EXPECT_EQ(field(sADD_FILE.FILE_NAME), "b2");
}

TEST_F(MessageStore, MarkAllReadMarksEachMessageOnce) {
  write_index({{1, 1, 0}, {2, 1, 1}, {3, 3, 0}, {2, 1, 1}}, "");
  // A mark file longer than one read (the user's mark last); a partial record.
  std::string many;
  for (int i = 0; i < 3000; i++) {
    READ_POINT p{3, {}, 0};
    set_field(p.USER_ID, "u" + std::to_string(i));
    many += bytes_of(p);
  }
  put("7/r3.dat", many + bytes_of(READ_POINT{3, {'a', 'l', 'i', 'c', 'e'}, 0}));
  put("7/r2.dat", bytes_of(READ_POINT{2, {'b', 'o', 'b'}, 0}) + "part");
  std::string before3 = get("7/r3.dat");
  EXPECT_EQ(MarkAllREAD_POINT(F), 2);  // message 3 had alice's mark
  EXPECT_EQ(marks(1), "alice");  // a missing file is made with the mark
  EXPECT_EQ(marks(2), "bob alice");
  EXPECT_EQ(get("7/r2.dat").size(), 2 * sizeof(READ_POINT));  // over the partial tail
  EXPECT_EQ(get("7/r3.dat"), before3);
  EXPECT_EQ(MarkAllREAD_POINT(99), -1);  // no such board
  EXPECT_FALSE(file_exists(dir / "99"));
}

}  // namespace
