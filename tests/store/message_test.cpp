// Message store: numbering and threading, the index reads, bodies, read
// marks, the unread count and the attachment list, checked against the
// bytes on disk in a throw-away data directory.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "app/globals.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "site.h"
#include "store/message.h"
#include "store/unread.h"

namespace {

constexpr int32_t F = 7;

class MessageStore : public ::testing::Test {
 protected:
  TempDir dir;
  std::string board = dir / "7";

  void SetUp() override {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
    copy_text(SYSINFO.ADD_FILE_PATH, sizeof SYSINFO.ADD_FILE_PATH, dir.path() + "/add/");
    as_user("alice");
  }

  static void as_user(const char* id) { set_field(G_MST_USER.USER_ID, id); }

  // Posts a message (parent 0: a new thread) and returns its number.
  static int32_t post(int32_t parent, const std::string& title = "t") {
    std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
    sINDEX_DATA.FOLDER_NO = F;
    sINDEX_DATA.MSG_NO = parent;
    set_field(sINDEX_DATA.WRITE_TITLE, title);
    set_field(sINDEX_DATA.USER_ID, field(G_MST_USER.USER_ID));
    set_field(sINDEX_DATA.WRITE_DATE, "2024/01/02 03:04");
    EXPECT_EQ(WriteINDEX_DATA(), 0);
    return sINDEX_DATA.MSG_NO;
  }

  template <class R>
  std::vector<R> on_disk(const std::string& name) const {
    std::string bytes = read_file_bytes(board + "/" + name);
    EXPECT_EQ(bytes.size() % sizeof(R), 0u) << name;
    std::vector<R> v(bytes.size() / sizeof(R));
    std::memcpy(static_cast<void*>(v.data()), bytes.data(), v.size() * sizeof(R));
    return v;
  }

  // The index as "number/thread/depth" per record, in file order.
  std::string shape() const {
    std::string s;
    for (const INDEX_DATA& r : on_disk<INDEX_DATA>("index.dat"))
      s += (s.empty() ? "" : " ") + std::to_string(r.MSG_NO) + "/" +
           std::to_string(r.THREAD_NO) + "/" + std::to_string(r.RES_DEPTH);
    return s;
  }

  std::vector<std::string> marks(int32_t msg) const {
    std::vector<std::string> ids;
    for (const READ_POINT& r : on_disk<READ_POINT>("r" + std::to_string(msg) + ".dat")) {
      EXPECT_EQ(r.MSG_NO, msg);
      EXPECT_EQ(r.RESERVED, 0);
      ids.emplace_back(field(r.USER_ID));
    }
    return ids;
  }

  static INDEX_DATA raw(int32_t msg, int32_t thread, int32_t depth) {
    INDEX_DATA r{};
    r.FOLDER_NO = F;
    r.MSG_NO = msg;
    r.THREAD_NO = thread;
    r.RES_DEPTH = depth;
    return r;
  }
  void write_index(const std::vector<INDEX_DATA>& v, const std::string& tail = "") {
    mkdir(board.c_str(), 0700);
    write_file_bytes(board + "/index.dat",
                     std::string(reinterpret_cast<const char*>(v.data()), v.size() * 160) + tail);
  }
};

TEST_F(MessageStore, FirstMessageCreatesBoardDirectoryAndAuthorsMark) {
  // Number, thread, depth and deletion flag are the store's to set.
  std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
  sINDEX_DATA.FOLDER_NO = F;
  sINDEX_DATA.THREAD_NO = 9;
  sINDEX_DATA.RES_DEPTH = 5;
  sINDEX_DATA.DEL_FLG = 1;
  ASSERT_EQ(WriteINDEX_DATA(), 0);
  EXPECT_EQ(sINDEX_DATA.MSG_NO, 1);
  EXPECT_EQ(file_mode(board), 0700);
  EXPECT_EQ(shape(), "1/1/0");
  EXPECT_EQ(sINDEX_DATA.THREAD_NO, 1);
  EXPECT_EQ(sINDEX_DATA.DEL_FLG, 0);
  EXPECT_EQ(marks(1), std::vector<std::string>{"alice"});
  EXPECT_EQ(field(sREAD_POINT.USER_ID), "alice");
  EXPECT_FALSE(file_exists(board + "/index.dat.tmp"));
}

TEST_F(MessageStore, RepliesGoAfterTheirParentsSubtreeInWritingOrder) {
  post(0);   // 1
  post(1);   // 2
  post(0);   // 3
  EXPECT_EQ(post(1), 4);
  EXPECT_EQ(shape(), "1/1/0 2/1/1 4/1/1 3/3/0");
  EXPECT_EQ(post(2), 5);
  EXPECT_EQ(sINDEX_DATA.RES_DEPTH, 2);
  EXPECT_EQ(shape(), "1/1/0 2/1/1 5/1/2 4/1/1 3/3/0");
  post(5);   // 6, deeper still, right after 5
  post(1);   // 7, last sibling of 1's subtree
  post(3);   // 8, the parent's subtree reaches the end of the file
  EXPECT_EQ(shape(), "1/1/0 2/1/1 5/1/2 6/1/3 4/1/1 7/1/1 3/3/0 8/3/1");
  EXPECT_EQ(marks(8), std::vector<std::string>{"alice"});
  EXPECT_FALSE(file_exists(board + "/index.dat.tmp"));
}

TEST_F(MessageStore, ReplyToMissingNumberHeadsAThreadOfItsOwn) {
  post(0);
  post(1);
  EXPECT_EQ(post(42), 3);
  EXPECT_EQ(shape(), "1/1/0 2/1/1 3/42/0");
  std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
  sINDEX_DATA.FOLDER_NO = F;
  sINDEX_DATA.MSG_NO = -1;
  EXPECT_EQ(WriteINDEX_DATA(), -1);
  EXPECT_EQ(shape(), "1/1/0 2/1/1 3/42/0");
}

TEST_F(MessageStore, HighestNumberIsReusedWithFreshBodyAndMarks) {
  post(0);
  post(0);
  sINDEX_DATA.MSG_NO = 2;
  ASSERT_EQ(WriteContentsDATA("old body"), 0);
  as_user("bob");
  sREAD_POINT = READ_POINT{2, "bob", 0};
  ASSERT_EQ(WriteREAD_POINT(F), 0);

  // Removed without its marks: the next message must not inherit them.
  EXPECT_EQ(DeleteINDEX_DATA(F, 2), 0);
  EXPECT_EQ(DeleteINDEX_DATA(F, 2), -1);
  as_user("carol");
  EXPECT_EQ(post(0), 2);
  EXPECT_EQ(marks(2), std::vector<std::string>{"carol"});
  char buf[CONTENTS_MAX + 1];
  EXPECT_EQ(ReadContentsDATA(buf), 0);
  EXPECT_STREQ(buf, "");
  ASSERT_EQ(WriteContentsDATA("new"), 0);
  EXPECT_EQ(read_file_bytes(board + "/x2.dat"), "new");

  // A lower number removed is not reused.
  EXPECT_EQ(DeleteINDEX_DATA(F, 1), 0);
  EXPECT_EQ(post(0), 3);
  EXPECT_EQ(shape(), "2/2/0 3/3/0");
}

TEST_F(MessageStore, PartialTrailingRecordIsIgnoredAndDropped) {
  write_index({raw(1, 1, 0), raw(2, 2, 0)}, std::string(50, 'z'));
  EXPECT_EQ(CountINDEX_DATA(F), 2);
  EXPECT_EQ(ReadINDEX_DATA(F, 3, 2), -1);
  ASSERT_EQ(ReadINDEX_DATA_MAX(F, 2), 0);
  EXPECT_EQ(sINDEX_DATA.MSG_NO, 2);

  // A new thread lands after the last whole record, over the tail.
  EXPECT_EQ(post(0), 3);
  EXPECT_EQ(read_file_bytes(board + "/index.dat").size(), 3u * 160);
  EXPECT_EQ(shape(), "1/1/0 2/2/0 3/3/0");

  write_index({raw(1, 1, 0), raw(2, 2, 0)}, "junk");
  EXPECT_EQ(post(1), 3);
  EXPECT_EQ(shape(), "1/1/0 3/1/1 2/2/0");

  write_index({raw(1, 1, 0), raw(2, 2, 0)}, "junk");
  EXPECT_EQ(DeleteINDEX_DATA(F, 9), -1);
  EXPECT_EQ(shape(), "1/1/0 2/2/0");
}

TEST_F(MessageStore, IndexLookups) {
  INDEX_DATA a = raw(5, 5, 0), b = raw(9, 5, 1), c = raw(9, 9, 0), d = raw(3, 5, 1);
  set_field(b.WRITE_TITLE, "first nine");
  set_field(c.WRITE_TITLE, "second nine");
  write_index({a, b, c, d});

  ASSERT_EQ(ReadINDEX_DATA(F, 9, 1), 0);
  EXPECT_EQ(field(sINDEX_DATA.WRITE_TITLE), "first nine");
  ASSERT_EQ(ReadINDEX_DATA(F, 4, 2), 0);
  EXPECT_EQ(sINDEX_DATA.MSG_NO, 3);
  EXPECT_EQ(ReadINDEX_DATA(F, 5, 2), -1);
  EXPECT_EQ(ReadINDEX_DATA(F, 4, 1), -1);
  EXPECT_EQ(sINDEX_DATA.MSG_NO, 3);  // untouched by a miss
  EXPECT_EQ(ReadINDEX_DATA(F, 0, 2), -1);
  EXPECT_EQ(ReadINDEX_DATA(F, -1, 2), -1);
  EXPECT_EQ(ReadINDEX_DATA(F, 1, 3), -1);

  ASSERT_EQ(ReadINDEX_DATA_MAX(F, 1), 0);  // a tie goes to the later record
  EXPECT_EQ(field(sINDEX_DATA.WRITE_TITLE), "second nine");
  ASSERT_EQ(ReadINDEX_DATA_MAX(F, 2), 0);
  EXPECT_EQ(sINDEX_DATA.MSG_NO, 3);

  ASSERT_EQ(ReadINDEX_DATA_G(F, 2, 5), 0);
  EXPECT_EQ(sINDEX_DATA.MSG_NO, 3);
  EXPECT_EQ(ReadINDEX_DATA_G(F, 3, 5), -1);
  EXPECT_EQ(ReadINDEX_DATA_G(F, -1, 5), -1);

  std::vector<INDEX_DATA> all;
  ASSERT_TRUE(load_index(F, all));
  ASSERT_EQ(all.size(), 4u);
  EXPECT_EQ(all[3].MSG_NO, 3);

  write_index({});
  sINDEX_DATA.MSG_NO = 77;
  EXPECT_EQ(ReadINDEX_DATA_MAX(F, 1), -1);
  EXPECT_EQ(sINDEX_DATA.MSG_NO, 0);
  EXPECT_EQ(ReadINDEX_DATA_MAX(F, 2), -1);
  EXPECT_EQ(ReadINDEX_DATA(F, 1, 2), -1);
}

TEST_F(MessageStore, BoardWithoutDirectoryReadsEmptyAndCreatesNothing) {
  sINDEX_DATA.FOLDER_NO = F;
  sINDEX_DATA.MSG_NO = 1;
  char buf[CONTENTS_MAX + 1];
  std::vector<INDEX_DATA> all;
  EXPECT_EQ(CountINDEX_DATA(F), 0);
  EXPECT_EQ(ReadINDEX_DATA(F, 1, 1), -1);
  EXPECT_EQ(ReadINDEX_DATA(F, 1, 2), -1);
  EXPECT_EQ(ReadINDEX_DATA_MAX(F, 1), -1);
  EXPECT_EQ(ReadINDEX_DATA_MAX(F, 2), -1);
  EXPECT_EQ(ReadINDEX_DATA_G(F, 0, 1), -1);
  EXPECT_FALSE(load_index(F, all));
  EXPECT_EQ(ReadContentsDATA(buf), -1);
  EXPECT_EQ(ReadREAD_POINT(F, 1), -1);
  EXPECT_EQ(ReadREAD_POINT2(F, 1, 0), -1);
  EXPECT_EQ(CountREAD_POINT(F), 0);
  EXPECT_EQ(ReadADD_FILE(F), -1);
  EXPECT_EQ(ReWriteINDEX_DATA(), -1);
  EXPECT_EQ(WriteContentsDATA("x"), -1);
  EXPECT_EQ(WriteREAD_POINT(F), -1);
  EXPECT_EQ(WriteADD_FILE(F), -1);
  EXPECT_FALSE(file_exists(board));
}

TEST_F(MessageStore, OverlongTextsAreCutOnCharacterBoundaries) {
  // 80 ASCII bytes then a two-byte character: it does not fit in 81 bytes.
  std::string title = std::string(80, 'a') + "\x82\xA0" + "tail";
  std::memset(&sINDEX_DATA, 0, sizeof sINDEX_DATA);
  sINDEX_DATA.FOLDER_NO = F;
  std::memcpy(sINDEX_DATA.WRITE_TITLE, title.data(), sizeof sINDEX_DATA.WRITE_TITLE);
  std::memset(sINDEX_DATA.USER_ID, 'u', sizeof sINDEX_DATA.USER_ID);  // no terminator
  ASSERT_EQ(WriteINDEX_DATA(), 0);
  INDEX_DATA r = on_disk<INDEX_DATA>("index.dat").at(0);
  EXPECT_EQ(field(r.WRITE_TITLE), std::string(80, 'a'));
  EXPECT_EQ(r.WRITE_TITLE[80], 0);
  EXPECT_EQ(r.WRITE_TITLE[81], 0);
  EXPECT_EQ(field(r.USER_ID), std::string(21, 'u'));
  EXPECT_EQ(r.USER_ID[21], 0);

  sREAD_POINT = READ_POINT{};
  sREAD_POINT.MSG_NO = 1;
  std::memset(sREAD_POINT.USER_ID, 'v', sizeof sREAD_POINT.USER_ID);
  sREAD_POINT.RESERVED = 99;
  ASSERT_EQ(WriteREAD_POINT(F), 0);
  READ_POINT m = on_disk<READ_POINT>("r1.dat").at(1);  // after the author's
  EXPECT_EQ(field(m.USER_ID), std::string(21, 'v'));
  EXPECT_EQ(std::string(m.USER_ID + 21, 3), std::string(3, '\0'));
  EXPECT_EQ(m.RESERVED, 0);
}

TEST_F(MessageStore, RewriteOverwritesEveryCopyInPlace) {
  write_index({raw(1, 1, 0), raw(2, 1, 1), raw(1, 1, 0)});
  INDEX_DATA r = raw(1, 1, 0);
  set_field(r.WRITE_TITLE, "edited");
  r.DEL_FLG = 1;
  sINDEX_DATA = r;
  ASSERT_EQ(ReWriteINDEX_DATA(), 0);
  auto v = on_disk<INDEX_DATA>("index.dat");
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(field(v[0].WRITE_TITLE), "edited");
  EXPECT_EQ(field(v[1].WRITE_TITLE), "");
  EXPECT_EQ(field(v[2].WRITE_TITLE), "edited");
  EXPECT_EQ(v[2].DEL_FLG, 1);
  sINDEX_DATA.MSG_NO = 3;
  EXPECT_EQ(ReWriteINDEX_DATA(), -1);
  EXPECT_EQ(on_disk<INDEX_DATA>("index.dat").size(), 3u);
}

TEST_F(MessageStore, BodiesRoundTripAndAreCutAtTheReadLimit) {
  post(0);
  std::string text = "line one\rline two \x82\xA0";
  ASSERT_EQ(WriteContentsDATA(text.c_str()), 0);
  EXPECT_EQ(read_file_bytes(board + "/x1.dat"), text);  // no terminator stored
  std::vector<char> buf(104000, 'Q');
  ASSERT_EQ(ReadContentsDATA(buf.data()), 0);
  EXPECT_EQ(std::string(buf.data()), text);

  std::string big(CONTENTS_MAX + 500, 'b');
  big[CONTENTS_MAX - 1] = 'e';
  ASSERT_EQ(WriteContentsDATA(big.c_str()), 0);
  EXPECT_EQ(file_exists(board + "/x1.dat.tmp"), false);
  ASSERT_EQ(ReadContentsDATA(buf.data()), 0);
  EXPECT_EQ(strlen(buf.data()), static_cast<size_t>(CONTENTS_MAX));
  EXPECT_EQ(buf[CONTENTS_MAX - 1], 'e');

  // A missing body reads as empty and is created empty.
  sINDEX_DATA.MSG_NO = 12;
  ASSERT_EQ(ReadContentsDATA(buf.data()), 0);
  EXPECT_EQ(buf[0], '\0');
  EXPECT_TRUE(file_exists(board + "/x12.dat"));
}

TEST_F(MessageStore, ReadMarksKeepOneRecordPerUser) {
  post(0);
  sREAD_POINT = READ_POINT{1, "bob", 0};
  ASSERT_EQ(WriteREAD_POINT(F), 0);
  sREAD_POINT = READ_POINT{1, "alice", 0};
  ASSERT_EQ(WriteREAD_POINT(F), 0);
  ASSERT_EQ(WriteREAD_POINT(F), 0);
  EXPECT_EQ(marks(1), (std::vector<std::string>{"alice", "bob"}));

  as_user("bob");
  sREAD_POINT = READ_POINT{};
  ASSERT_EQ(ReadREAD_POINT(F, 1), 0);
  EXPECT_EQ(field(sREAD_POINT.USER_ID), "bob");
  as_user("dave");
  EXPECT_EQ(ReadREAD_POINT(F, 1), -1);
  EXPECT_EQ(field(sREAD_POINT.USER_ID), "bob");
  ASSERT_EQ(ReadREAD_POINT2(F, 1, 1), 0);
  EXPECT_EQ(field(sREAD_POINT.USER_ID), "bob");
  EXPECT_EQ(ReadREAD_POINT2(F, 1, 2), -1);
  EXPECT_EQ(ReadREAD_POINT2(F, 1, -1), -1);

  EXPECT_EQ(DeleteREAD_POINT(F, 1), 0);
  EXPECT_TRUE(file_exists(board + "/r1.dat"));
  EXPECT_TRUE(marks(1).empty());
  EXPECT_FALSE(file_exists(board + "/R1.TMP"));
}

TEST_F(MessageStore, UnreadCountSubtractsOnlyTheUsersOwnMarks) {
  post(0);                // 1, read by alice as author
  as_user("bob");
  post(1);                // 2
  post(0);                // 3
  as_user("alice");
  sINDEX_DATA.MSG_NO = 2;
  sINDEX_DATA.DEL_FLG = 1;
  ASSERT_EQ(ReWriteINDEX_DATA(), 0);  // deleted messages still count
  std::remove((board + "/r3.dat").c_str());

  sINDEX_DATA = INDEX_DATA{};
  EXPECT_EQ(CountREAD_POINT(F), 2);
  EXPECT_EQ(sINDEX_DATA.MSG_NO, 3);  // the board's last record
  EXPECT_FALSE(file_exists(board + "/r3.dat"));
  as_user("bob");
  EXPECT_EQ(CountREAD_POINT(F), 2);  // bob's mark on 3 went with its file
  as_user("nobody");
  EXPECT_EQ(CountREAD_POINT(F), 3);

  ASSERT_EQ(WriteUNREAD(F, "nobody"), 0);
  EXPECT_EQ(CountREAD_POINT(F), 0);
  as_user("bob");
  EXPECT_EQ(CountREAD_POINT(F), 2);
}

TEST_F(MessageStore, AttachmentListByMessageAndSlot) {
  post(0);
  auto put = [](int32_t msg, int32_t slot, const char* name) {
    sADD_FILE = ADD_FILE{msg, slot, {}};
    set_field(sADD_FILE.FILE_NAME, name);
    return WriteADD_FILE(F);
  };
  ASSERT_EQ(put(1, 1, "a.txt"), 0);
  ASSERT_EQ(put(1, 2, "b.txt"), 0);
  ASSERT_EQ(put(2, 1, "c.txt"), 0);
  ASSERT_EQ(put(1, 2, "b2.txt"), 0);  // same key: replaced in place
  auto v = on_disk<ADD_FILE>("add_file.dat");
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(field(v[1].FILE_NAME), "b2.txt");

  sADD_FILE = ADD_FILE{2, 1, {}};
  ASSERT_EQ(ReadADD_FILE(F), 0);
  EXPECT_EQ(field(sADD_FILE.FILE_NAME), "c.txt");
  sADD_FILE = ADD_FILE{2, 2, {}};
  EXPECT_EQ(ReadADD_FILE(F), -1);
  EXPECT_EQ(field(sADD_FILE.FILE_NAME), "");

  EXPECT_EQ(DeleteADD_FILE2(F, 1, 1), 0);
  EXPECT_EQ(DeleteADD_FILE2(F, 1, 1), -1);
  EXPECT_EQ(on_disk<ADD_FILE>("add_file.dat").size(), 2u);
  EXPECT_EQ(DeleteADD_FILE(F, 1), 0);
  EXPECT_EQ(DeleteADD_FILE(F, 1), -1);
  v = on_disk<ADD_FILE>("add_file.dat");
  ASSERT_EQ(v.size(), 1u);
  EXPECT_EQ(v[0].MSG_NO, 2);
  EXPECT_FALSE(file_exists(board + "/add_file.dat.tmp"));

  EXPECT_EQ(msg_attach_file_path(F, 4, 2, "p.gif"), dir.path() + "/add/7/x4/2/p.gif");
  EXPECT_EQ(msg_mark_tmp_path(F, 4), board + "/R4.TMP");
}

}  // namespace
