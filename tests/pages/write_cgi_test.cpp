// Posting and editing: numbering, threading, refusals, attachment names, edits, the log.
#include "board_site.h"

namespace {

using Ints = std::vector<int32_t>;

std::string form(PostingSite& s, const std::string& k, const std::string& job, int sel) {
  return s.page(k, {{"JOB", job}, {"FOLDER_NO", "1"}, {"SEL_NO", std::to_string(sel)}});
}

// "message/slot/name" of every attachment record.
Names attached(const PostingSite& s) {
  Names out;
  for (const ADD_FILE& a : s.attachments())
    out.push_back(std::to_string(a.MSG_NO) + "/" + std::to_string(a.ADD_NO) + "/" + field(a.FILE_NAME).data());
  return out;
}

TEST(WriteCgi, NewThreadsRepliesAndTheReplyForm) {
  PostingSite s;
  // The new thread form shows the folder's default text escaped.
  s.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 2, set_field(b.DEFO, "Hello <b>&\rline2"); });
  std::string taro = s.key("Taro"), p = form(s, taro, "BORDWRITE", 0);
  EXPECT_TRUE(has(p, "ROWS=\"8\">Hello &lt;b&gt;&amp;\rline2</TEXTAREA>")) << p;
  EXPECT_TRUE(room_list(s.send(taro, {{"WRITE_TITLE", "First"}, {"WRITE_DATA", "line1\r\nline2\r\n"},
                                      {"WRITE_PRIORITY", "2"}, {"READ_CHK", "2"}, {"HTML_MODE", "1"}}).out));
  // Line ends are stored as CR alone; the author has read his own message.
  EXPECT_EQ(s.body(1), "line1\rline2\r");
  EXPECT_EQ(s.readers(1), Names{"Taro"});
  EXPECT_EQ(Ints({s.message(1).HTML_MODE, s.message(1).WRITE_PRIORITY, s.message(1).READ_CHK}), Ints({1, 2, 2}));

  s.send(s.key("Hanako"), {{"SEL_NO", "1"}, {"WRITE_TITLE", "Second"}, {"WRITE_DATA", "a\r\n\r\nb"}});
  INDEX_DATA reply = s.message(2);
  EXPECT_EQ(Ints({reply.THREAD_NO, reply.RES_DEPTH}), Ints({1, 1}));

  // The reply form quotes the body line by line, nothing of a deleted message.
  p = form(s, taro, "BORDWRITE", 2);
  EXPECT_TRUE(has(p, "VALUE=\"Second\">") && has(p, ">&gt;a\r&gt;\r&gt;b</TEXTAREA>")) << p;
  s.mark_deleted(1, 2);
  p = form(s, taro, "BORDWRITE", 2);
  EXPECT_TRUE(has(p, "MAXLENGTH=\"80\" VALUE=\"\">") && has(p, "ROWS=\"8\"></TEXTAREA>")) << p;
  // Without write right, no form.
  s.configure(1, [](B_TITLE2& b) { b.WRITE_LEVEL = 5; });
  p = form(s, taro, "BORDWRITE", 0);
  EXPECT_TRUE(refused(p) && !has(p, "NAME=\"INPUT\"")) << p;
}

TEST(WriteCgi, RefusalsStoreNothingAndTitlesAreCut) {
  PostingSite s;
  s.folder(2, KIND_BOARD, 0, "ReadOnly", 0, 5);
  s.folder(3, KIND_DIR, 0, "Dir");
  s.write_settings("MAX_CONTENTS,10,\n");
  const std::string k = s.key("Taro"), admin = s.key("Admin");
  // No write right; an unknown purpose; an empty title; 11 bytes (CR LF
  // counts two); a folder that is no board or none, even for an administrator.
  const std::tuple<std::string, Fields, int> refusals[] = {
      {k, {{"FOLDER_NO", "2"}}, 3}, {k, {{"FJOB", "DELMSG"}}, 3}, {k, {{"WRITE_TITLE", ""}}, 295},
      {k, {{"WRITE_DATA", "123456789\r\n"}}, 377}, {admin, {{"FOLDER_NO", "3"}}, 3},
      {admin, {{"FOLDER_NO", "9"}}, 3}};
  for (const auto& [who, f, slot] : refusals) EXPECT_TRUE(error_page(s.send(who, f).out, slot)) << slot;
  for (const char* f : {"2", "3", "9"}) EXPECT_FALSE(file_exists(s.data + f)) << f;
  EXPECT_TRUE(s.index().empty());
  EXPECT_FALSE(has(read_file_bytes(s.data + "system.log"), ",write,"));
  EXPECT_TRUE(room_list(s.send(k, {{"WRITE_DATA", "12345678\r\n"}}).out));
  EXPECT_EQ(s.body(1), "12345678\r");

  // A long title is cut to fit, never inside a two-byte character.
  const std::string a79(79, 'a'), kanji = "\x88\x9f";
  for (const std::string& title : {a79 + kanji, a79 + "a" + kanji}) s.send(k, {{"WRITE_TITLE", title}});
  EXPECT_EQ(field(s.message(2).WRITE_TITLE), a79 + kanji);
  EXPECT_EQ(field(s.message(3).WRITE_TITLE), a79 + "a");
}

TEST(WriteCgi, NumbersBeyond32BitsAndUnknownModesAreNotTakenAsOthers) {
  PostingSite s;
  const std::string k = s.key("Taro");
  // 2^32 + 1 wrapped would answer message 1 or post into board 1.
  for (const Fields& f : {Fields{{"HTML_MODE", "7"}}, {{"HTML_MODE", "-1"}}, {{"SEL_NO", "4294967297"}}}) s.send(k, f);
  EXPECT_TRUE(error_page(s.send(k, {{"FOLDER_NO", "4294967297"}}).out, 3));
  EXPECT_TRUE(error_page(s.send(k, {{"FJOB", "EDITMSG"}, {"SEL_NO", "4294967297"}}).out, 3));
  Ints got;
  for (const INDEX_DATA& r : s.index()) got.insert(got.end(), {r.MSG_NO, r.THREAD_NO, r.RES_DEPTH, r.HTML_MODE});
  EXPECT_EQ(got, (Ints{1, 1, 0, 0, 2, 2, 0, 0, 3, 3, 0, 0}));
}

TEST(WriteCgi, AttachmentsWithUnsafeNamesAreDropped) {
  PostingSite s;
  s.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 5; });
  write_file_bytes(s.cgi_dir + "/CGI7", "keep me");  // another request's upload
  // A good file, no file name, an overlong name, a text field naming another
  // upload, a hidden file's name.
  const std::string n250(250, 'n');
  ASSERT_TRUE(room_list(s.send(s.key("Taro"), {{"FILE4", "x.txt,CGI7"}},
                               {{"FILE1", "C:\\My Documents\\report.bin", "bytes"}, {"FILE2", "a/..", "dots"},
                                {"FILE3", n250 + "nnn.txt", "long"}, {"FILE5", ".htaccess", "Deny"}}).out));
  EXPECT_EQ(read_file_bytes(s.add + "1/x1/1/report.bin"), "bytes");
  EXPECT_EQ(read_file_bytes(s.add + "1/x1/3/" + n250), "long");
  EXPECT_FALSE(file_exists(s.add + "1/x1/2"));
  EXPECT_EQ(attached(s), (Names{"1/1/report.bin", "1/3/" + n250}));
  EXPECT_EQ(s.message(1).ADD_COUNT, 2);
  EXPECT_EQ(files_named(s.cgi_dir, "CGI"), 1u);
  EXPECT_EQ(read_file_bytes(s.cgi_dir + "/CGI7"), "keep me");
}

// Taro's thread in a board that lets authors edit: 1 (Taro, attachments in
// slots 1 and 2), 2 (Hanako's reply), read by Jiro.
struct EditSite : PostingSite {
  std::string taro = key("Taro"), hanako = key("Hanako");
  EditSite() {
    configure(1, [](B_TITLE2& b) { b.ADD_MAX = b.REWRITE_FLG = 2; });
    send(taro, {{"WRITE_DATA", "old body"}}, {{"FILE1", "a.txt", "AAA"}, {"FILE2", "b.txt", "BBB"}});
    send(hanako, {{"SEL_NO", "1"}, {"WRITE_TITLE", "Reply"}});
    page(key("Jiro"), {{"JOB", "DETAILS"}, {"FOLDER_NO", "1"}, {"SEL_NO", "1"}});
  }
  Response edit(const std::string& k, int sel, Fields more = {}, const std::vector<Upload>& files = {}) {
    more.insert(more.begin(), {{"FJOB", "EDITMSG"}, {"SEL_NO", std::to_string(sel)},
                               {"WRITE_TITLE", "New"}, {"WRITE_DATA", "new\r\nbody"}});
    return send(k, more, files);
  }
};

TEST(WriteCgi, EditKeepsThreadAndMakesMessageUnreadForOthers) {
  EditSite s;
  ASSERT_EQ(s.readers(1), (Names{"Taro", "Jiro"}));
  std::string p = form(s, s.taro, "EDITMSG", 1);
  EXPECT_TRUE(has(p, ">old body</TEXTAREA>") && has(p, "a.txt<INPUT TYPE=\"checkbox\" NAME=\"ADD_FILE1\"") &&
              has(p, "NAME=\"FJOB\" VALUE=\"EDITMSG\">")) << p;

  // Slot 1 stays ticked (the new upload into it is dropped), slot 2 is cleared.
  ASSERT_TRUE(room_list(s.edit(s.taro, 1, {{"ADD_FILE1", "ON"}}, {{"FILE1", "other.txt", "ZZZ"}}).out));
  INDEX_DATA m = s.message(1);
  EXPECT_EQ(s.index().size(), 2u);
  EXPECT_EQ(Ints({m.THREAD_NO, m.RES_DEPTH, m.ADD_COUNT}), Ints({1, 0, 1}));
  EXPECT_EQ(s.body(1), "new\rbody");
  EXPECT_EQ(s.readers(1), Names{"Taro"});
  EXPECT_EQ(attached(s), Names{"1/1/a.txt"});
  EXPECT_FALSE(file_exists(s.add + "1/x1/1/other.txt") || file_exists(s.add + "1/x1/2"));
  EXPECT_EQ(files_named(s.cgi_dir, "CGI"), 0u);
  // A reply edited by its author keeps its depth.
  s.edit(s.hanako, 2);
  m = s.message(2);
  EXPECT_EQ(Ints({m.THREAD_NO, m.RES_DEPTH}), Ints({1, 1}));
  // An administrator may edit anybody's message and becomes its last writer.
  EXPECT_TRUE(room_list(s.edit(s.key("Admin"), 1).out));
  EXPECT_EQ(field(s.message(1).USER_ID), "Admin");
  EXPECT_EQ(s.readers(1), Names{"Admin"});

  EXPECT_EQ(all_matches(read_file_bytes(s.data + "system.log"), "\\d{4}/\\d\\d/\\d\\d \\d\\d:\\d\\d,(\\w+),write,1,,\n"),
            (Names{"Taro", "Hanako", "Taro", "Hanako", "Admin"}));

  // An attachment cleared or replaced in an edit leaves no file to be served.
  s.edit(s.key("Admin"), 1, {}, {{"FILE1", "c.txt", "CCC"}});
  EXPECT_EQ(read_file_bytes(s.add + "1/x1/1/c.txt"), "CCC");
  EXPECT_FALSE(file_exists(s.add + "1/x1/1/a.txt"));
  s.edit(s.key("Admin"), 1);
  EXPECT_FALSE(file_exists(s.add + "1/x1"));
}

TEST(WriteCgi, ForgedEditsStoreNothing) {
  EditSite s;
  auto state = [&] {
    std::string all;
    for (const char* f : {"index.dat", "r1.dat", "add_file.dat", "x1.dat"}) all += read_file_bytes(s.data + "1/" + f) + "|";
    return all;
  };
  const std::string before = state();
  // Another user's message; a number without record, even for an administrator.
  EXPECT_TRUE(error_page(s.edit(s.hanako, 1).out, 3));
  EXPECT_TRUE(error_page(s.edit(s.key("Admin"), 9, {}, {{"FILE1", "x.txt", "X"}}).out, 3));
  EXPECT_FALSE(file_exists(s.data + "1/x9.dat") || file_exists(s.data + "1/r9.dat"));
  // Own messages only where the board allows it, and never for guests.
  s.configure(1, [](B_TITLE2& b) { b.REWRITE_FLG = 1; });
  EXPECT_TRUE(error_page(s.edit(s.taro, 1).out, 3));
  EXPECT_EQ(state(), before);
  s.configure(1, [](B_TITLE2& b) { b.REWRITE_FLG = 2; });
  std::string guest = s.key("Guest");
  s.send(guest, {{"WRITE_TITLE", "Guest post"}});
  EXPECT_TRUE(error_page(s.edit(guest, 3).out, 3));
  EXPECT_EQ(field(s.message(3).WRITE_TITLE), "Guest post");
}

TEST(WriteCgi, PostingWindowAndAFailedIndexWrite) {
  PostingSite s;
  std::string k = s.key("Taro");
  // A user who writes in a separate window gets it closed after posting.
  const std::string closer = "window.open(\"bbs.cgi?JOB=BORDWRITEFIN\",\"WBORDWRITE\")";
  EXPECT_TRUE(has(s.send(s.key("Window"), {}).out, closer));
  EXPECT_FALSE(has(s.send(k, {{"WRITE_DATA", "original"}}).out, closer));
  // An index that cannot be opened: the reply gets no number of its own.
  std::remove((s.data + "1/index.dat").c_str());
  mkdir((s.data + "1/index.dat").c_str(), 0700);
  EXPECT_TRUE(error_page(s.send(k, {{"SEL_NO", "2"}, {"WRITE_DATA", "reply"}}).out, 3));
  EXPECT_EQ(s.body(2), "original");
}

}  // namespace
