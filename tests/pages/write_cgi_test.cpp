// Posting and editing through the program: the posting form, numbering and
// threading of new threads and replies, the refusals that store nothing,
// attachments with hostile names, edits by the author and by others, the
// closing page of the posting window and the access-log line.
#include <dirent.h>
#include <sys/stat.h>

#include <regex>
#include <string>
#include <vector>

#include "posting_site.h"

namespace {

// The page with the session key and the current time replaced by fixed
// words, so that it can be compared whole.
std::string normalized(std::string page, const std::string& key) {
  for (size_t at; (at = page.find(key)) != std::string::npos;) page.replace(at, key.size(), "KEY");
  return std::regex_replace(page, std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d)"), "DATE");
}

std::vector<std::string> temp_files(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  while (struct dirent* e = readdir(d))
    if (std::string(e->d_name).rfind("CGI", 0) == 0) out.push_back(e->d_name);
  closedir(d);
  return out;
}

std::string form(PostingSite& s, const std::string& k, const std::string& job, int sel) {
  return s.page(k, {{"JOB", job}, {"FOLDER_NO", "1"}, {"SEL_NO", std::to_string(sel)},
                    {"USER_DISP_DEF", "1"}});
}

TEST(WriteCgi, NewThreadFormByteForByte) {
  PostingSite s;
  s.configure(1, [](B_TITLE2& b) {
    b.ADD_MAX = 2;
    b.READ_CHK = 2;
    set_field(b.DEFO, "Hello <b>&\rline2");
  });
  std::string k = s.key("Taro");
  EXPECT_EQ(normalized(form(s, k, "BORDWRITE", 0), k),
            std::string(kFrame) +
                "<SCRIPT Language=\"JavaScript\">\n<!--\n"
                "function title_chk(){\n"
                "if ( document.INPUT.WRITE_TITLE.value==\"\" ) {\n"
                "window.alert( \"S295\" );\n"
                "return false }\n"
                "}\n"
                "// -->\n</SCRIPT>\n"
                "\t\t<BODY BACKGROUND=\"http://test/pic/back.gif\" BGPROPERTIES=FIXED >\n"
                "<FONT SIZE=\"5\"><B>Board S270</B></FONT>\n<HR>\n"
                "<FORM NAME=\"INPUT\" ENCTYPE=\"multipart/form-data\" ACTION=\"bbs.cgi\" "
                "METHOD=POST TARGET=\"FRM22\" >\n"
                "<INPUT TYPE=\"hidden\" NAME=\"SKEY\" VALUE=\"KEY\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"JOB\" VALUE=\"BORDWRITEWR\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"FJOB\" VALUE=\"BORDWRITE\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"FOLDER_NO\" VALUE=\"1\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"SEL_NO\" VALUE=\"0\">\n"
                "<INPUT TYPE=\"hidden\" NAME=\"USER_DISP_DEF\" VALUE=\"1\">\n"
                "<TABLE BORDER>\n"
                "<TR><TD BGCOLOR=\"#E0FFFF\">S266</TD><TD BGCOLOR=\"#FFFFFF\">Taro Y [Taro]</TD></TR>\n"
                "<TR><TD BGCOLOR=\"#E0FFFF\">S267</TD><TD BGCOLOR=\"#FFFFFF\">DATE</TD></TR>\n"
                "<TR><TD BGCOLOR=\"#E0FFFF\">S265</TD><TD BGCOLOR=\"#FFFFFF\"><INPUT TYPE=\"text\" "
                "NAME=\"WRITE_TITLE\" SIZE=\"60\" MAXLENGTH=\"80\" VALUE=\"\"></TD></TR>\n"
                "<TR><TD BGCOLOR=\"#E0FFFF\">S264</TD><TD BGCOLOR=\"#FFFFFF\"><SELECT "
                "NAME=\"WRITE_PRIORITY\" >\n"
                "<OPTION VALUE=\"0\">\n<OPTION VALUE=\"2\">S269\n<OPTION VALUE=\"1\">S268\n"
                "</SELECT></TD></TR>\n"
                "<TR><TD BGCOLOR=\"#E0FFFF\">S272</TD><TD BGCOLOR=\"#FFFFFF\"><TEXTAREA "
                "NAME=\"WRITE_DATA\" COLS=\"60\" ROWS=\"8\">Hello &lt;b&gt;&amp;\rline2</TEXTAREA>"
                "</TD></TR>\n"
                "<TR><TD BGCOLOR=\"#E0FFFF\">S273</TD><TD BGCOLOR=\"#FFFFFF\">\n"
                " No.1 <INPUT TYPE=\"FILE\" NAME=\"FILE1\"><BR>\n"
                " No.2 <INPUT TYPE=\"FILE\" NAME=\"FILE2\"><BR>\n"
                "</TD></TR>\n"
                "<TR><TD BGCOLOR=\"#E0FFFF\">S274</TD><TD BGCOLOR=\"#FFFFFF\"><SELECT "
                "NAME=\"READ_CHK\">\n"
                "<OPTION VALUE=\"2\">S276\n<OPTION VALUE=\"1\">S275\n"
                "</SELECT></TD></TR>\n"
                "<TR><TD BGCOLOR=\"#E0FFFF\">S357</TD><TD BGCOLOR=\"#FFFFFF\"><SELECT "
                "NAME=\"HTML_MODE\">\n"
                "<OPTION VALUE=\"0\">S358\n<OPTION VALUE=\"1\">S359\n<OPTION VALUE=\"2\">S360\n"
                "</SELECT></TD></TR>\n"
                "</TABLE>\n<P>\n"
                "<INPUT TYPE=\"submit\" NAME=\"SUB\" VALUE=\"S277\" onClick=\"return title_chk()\">\n"
                "<INPUT TYPE=\"button\" VALUE=\"S4\" onClick=\"history.back()\">\n"
                "</FORM>\n</BODY>\n</HTML>\n");

  // Text widths follow the browser (a key belongs to one browser); without
  // write right there is no form.
  s.env["HTTP_USER_AGENT"] = "Mozilla/4.0 (compatible; MSIE 6.0)";
  k = s.key("Taro");
  EXPECT_TRUE(has(form(s, k, "BORDWRITE", 0), "NAME=\"WRITE_TITLE\" SIZE=\"80\""));
  s.configure(1, [](B_TITLE2& b) { b.WRITE_LEVEL = 5; });
  std::string refused = form(s, k, "BORDWRITE", 0);
  EXPECT_TRUE(has(refused, "S3\n<FORM>\n<INPUT TYPE=\"button\" VALUE=\"S4\" onClick=\"history.back()\">"));
  EXPECT_FALSE(has(refused, "NAME=\"INPUT\""));
}

TEST(WriteCgi, NewThreadsAndRepliesAreNumberedAndThreaded) {
  PostingSite s;
  std::string taro = s.key("Taro"), hanako = s.key("Hanako"), jiro = s.key("Jiro");

  Response r = s.send(taro, {{"WRITE_TITLE", "First"}, {"WRITE_DATA", "line1\r\nline2\r\n"},
                             {"WRITE_PRIORITY", "2"}, {"READ_CHK", "2"}, {"HTML_MODE", "1"}});
  EXPECT_TRUE(room_list(r.out)) << r.out;
  INDEX_DATA m1 = s.message(1);
  EXPECT_EQ(m1.THREAD_NO, 1);
  EXPECT_EQ(m1.RES_DEPTH, 0);
  EXPECT_EQ(field(m1.WRITE_TITLE), "First");
  EXPECT_EQ(field(m1.USER_ID), "Taro");
  EXPECT_EQ(m1.WRITE_PRIORITY, 2);
  EXPECT_EQ(m1.READ_CHK, 2);
  EXPECT_EQ(m1.HTML_MODE, 1);
  EXPECT_TRUE(std::regex_match(std::string(field(m1.WRITE_DATE)),
                               std::regex(R"(\d{4}/\d\d/\d\d \d\d:\d\d)")));
  // Line ends are stored as CR alone; the author has read his own message.
  EXPECT_EQ(s.body(1), "line1\rline2\r");
  EXPECT_EQ(s.readers(1), std::vector<std::string>{"Taro"});

  s.send(hanako, {{"SEL_NO", "1"}, {"WRITE_TITLE", "Second"}, {"WRITE_DATA", "a\r\n\r\nb"}});
  s.send(taro, {{"WRITE_TITLE", "Third"}});
  s.send(jiro, {{"SEL_NO", "2"}, {"WRITE_TITLE", "Fourth"}});
  std::vector<int32_t> order, depth, thread;
  for (const INDEX_DATA& m : s.index()) {
    order.push_back(m.MSG_NO);
    depth.push_back(m.RES_DEPTH);
    thread.push_back(m.THREAD_NO);
  }
  EXPECT_EQ(order, (std::vector<int32_t>{1, 2, 4, 3}));
  EXPECT_EQ(depth, (std::vector<int32_t>{0, 1, 2, 0}));
  EXPECT_EQ(thread, (std::vector<int32_t>{1, 1, 1, 3}));

  // The reply form to the message at depth 1 offers depth 2, its title and
  // its body quoted line by line (empty lines included).
  std::string p = form(s, taro, "BORDWRITE", 2);
  EXPECT_TRUE(has(p, "<FONT SIZE=\"5\"><B>Board S271</B></FONT>"));
  EXPECT_TRUE(has(p, "<INPUT TYPE=\"hidden\" NAME=\"SEL_NO\" VALUE=\"2\">"));
  EXPECT_TRUE(has(p, "Re:^2 <INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"60\" MAXLENGTH=\"80\" "
                     "VALUE=\"Second\">"))
      << p;
  EXPECT_TRUE(has(p, "ROWS=\"8\">&gt;a\r&gt;\r&gt;b</TEXTAREA>")) << p;
  // The answered message's HTML mode comes first.
  EXPECT_TRUE(has(form(s, taro, "BORDWRITE", 1),
                  "<SELECT NAME=\"HTML_MODE\">\n<OPTION VALUE=\"1\">S359\n<OPTION VALUE=\"0\">S358\n"
                  "<OPTION VALUE=\"2\">S360\n"));

  // A reply to a message marked deleted starts empty.
  sINDEX_DATA = s.message(2);
  sINDEX_DATA.DEL_FLG = 1;
  ASSERT_EQ(ReWriteINDEX_DATA(), 0);
  p = form(s, taro, "BORDWRITE", 2);
  EXPECT_TRUE(has(p, "Re:^2 <INPUT TYPE=\"text\" NAME=\"WRITE_TITLE\" SIZE=\"60\" MAXLENGTH=\"80\" "
                     "VALUE=\"\">"));
  EXPECT_TRUE(has(p, "ROWS=\"8\"></TEXTAREA>"));
}

TEST(WriteCgi, RefusalsStoreNothing) {
  PostingSite s;
  s.folder(2, KIND_BOARD, 0, "ReadOnly", 0, 5);
  s.write_settings("MAX_CONTENTS,10,\n");
  std::string k = s.key("Taro");

  // No write right; an unknown purpose; an empty title; a body too long.
  EXPECT_TRUE(error_page(s.send(k, {{"FOLDER_NO", "2"}}).out, 278, 3));
  EXPECT_FALSE(file_exists(s.data + "2"));
  EXPECT_TRUE(error_page(s.send(k, {{"FJOB", "DELMSG"}}).out, 278, 3));
  EXPECT_TRUE(error_page(s.send(k, {{"FJOB", ""}}).out, 278, 3));
  EXPECT_TRUE(error_page(s.send(k, {{"WRITE_TITLE", ""}}).out, 278, 295));
  // CR LF counts two bytes: 11 bytes are one too many, 10 are accepted.
  EXPECT_TRUE(error_page(s.send(k, {{"WRITE_DATA", "123456789\r\n"}}).out, 278, 377));
  EXPECT_TRUE(s.index().empty());
  EXPECT_FALSE(file_exists(s.data + "system.log") &&
               has(read_file_bytes(s.data + "system.log"), ",write,"));

  EXPECT_TRUE(room_list(s.send(k, {{"WRITE_DATA", "12345678\r\n"}}).out));
  EXPECT_EQ(s.body(1), "12345678\r");
}

TEST(WriteCgi, LongTitleIsCutOnACharacterBoundary) {
  PostingSite s;
  std::string k = s.key("Taro");
  const std::string kanji = "\x88\x9f";  // one two-byte character
  s.send(k, {{"WRITE_TITLE", std::string(79, 'a') + kanji}});
  s.send(k, {{"WRITE_TITLE", std::string(80, 'a') + kanji}});
  s.send(k, {{"WRITE_TITLE", std::string(200, 'b')}});
  EXPECT_EQ(field(s.message(1).WRITE_TITLE), std::string(79, 'a') + kanji);
  EXPECT_EQ(field(s.message(2).WRITE_TITLE), std::string(80, 'a'));
  EXPECT_EQ(field(s.message(3).WRITE_TITLE), std::string(81, 'b'));
}

TEST(WriteCgi, AttachmentIsStoredWithItsBytesAndShownWithItsSize) {
  PostingSite s;
  s.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 2; });
  std::string k = s.key("Taro");
  std::string bytes;
  for (int i = 0; i < 1234; i++) bytes += static_cast<char>(i * 7);
  bytes.replace(100, 12, "\r\n--\0\r\n\r\n--x", 12);

  Response r = s.send(k, {}, {{"FILE1", "C:\\My Documents\\report.bin", bytes},
                              {"FILE3", "beyond.txt", "not offered"}});
  ASSERT_TRUE(room_list(r.out)) << r.out;
  EXPECT_EQ(read_file_bytes(s.add + "1/x1/1/report.bin"), bytes);
  std::vector<ADD_FILE> list = s.attachments();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].MSG_NO, 1);
  EXPECT_EQ(list[0].ADD_NO, 1);
  EXPECT_EQ(field(list[0].FILE_NAME), "report.bin");
  EXPECT_EQ(s.message(1).ADD_COUNT, 1);
  EXPECT_EQ(file_mode(s.add + "1/x1/1"), 0700);

  std::string p = s.page(k, {{"JOB", "DETAILS"}, {"FOLDER_NO", "1"}, {"SEL_NO", "1"}});
  EXPECT_TRUE(has(p, "S273 1:<A HREF=\"http://test/add/1/x1/1/report.bin\">report.bin "
                     "(1,234 byte)</A><P>\n"))
      << p;
}

TEST(WriteCgi, UnsafeAttachmentNamesAreDropped) {
  PostingSite s;
  s.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 3; });
  std::string k = s.key("Taro");
  write_file_bytes(s.cgi_dir + "/planted", "keep me");

  // A name that is no file name, an overlong name, and a text field sent
  // under a file field's name that points at a file of somebody else's.
  const std::string long_name = std::string(300, 'n') + ".txt";
  Response r = s.send(k, {{"FILE3", "x.txt,planted"}},
                      {{"FILE1", "a/..", "dots"}, {"FILE2", long_name, "long"}});
  ASSERT_TRUE(room_list(r.out)) << r.out;

  std::vector<ADD_FILE> list = s.attachments();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(list[0].ADD_NO, 2);
  EXPECT_EQ(field(list[0].FILE_NAME), std::string(250, 'n'));
  EXPECT_EQ(read_file_bytes(s.add + "1/x1/2/" + std::string(250, 'n')), "long");
  EXPECT_FALSE(file_exists(s.add + "1/x1/1"));
  EXPECT_EQ(s.message(1).ADD_COUNT, 1);
  // The dropped upload's temporary copy is gone; the planted file is not.
  EXPECT_TRUE(temp_files(s.cgi_dir).empty());
  EXPECT_EQ(read_file_bytes(s.cgi_dir + "/planted"), "keep me");
}

// Taro's thread in a board that lets authors edit: 1 (Taro, attachments in
// slots 1 and 2), 2 (Hanako's reply), read by Jiro.
struct EditSite : PostingSite {
  std::string taro, hanako, jiro;
  EditSite() {
    configure(1, [](B_TITLE2& b) {
      b.ADD_MAX = 2;
      b.REWRITE_FLG = 2;
    });
    taro = key("Taro");
    hanako = key("Hanako");
    jiro = key("Jiro");
    send(taro, {{"WRITE_TITLE", "Old"}, {"WRITE_DATA", "old body"}, {"HTML_MODE", "2"}},
         {{"FILE1", "a.txt", "AAA"}, {"FILE2", "b.txt", "BBB"}});
    send(hanako, {{"SEL_NO", "1"}, {"WRITE_TITLE", "Reply"}});
    page(jiro, {{"JOB", "DETAILS"}, {"FOLDER_NO", "1"}, {"SEL_NO", "1"}});
  }
  Response edit(const std::string& k, int sel, Fields more = {},
                const std::vector<Upload>& files = {}) {
    more.insert(more.begin(), {{"FJOB", "EDITMSG"}, {"SEL_NO", std::to_string(sel)},
                               {"WRITE_TITLE", "New"}, {"WRITE_DATA", "new\r\nbody"}});
    return send(k, more, files);
  }
};

TEST(WriteCgi, EditKeepsThreadAndMakesMessageUnreadForOthers) {
  EditSite s;
  ASSERT_EQ(s.readers(1), (std::vector<std::string>{"Taro", "Jiro"}));

  std::string p = form(s, s.taro, "EDITMSG", 1);
  EXPECT_TRUE(has(p, "<B>Board S330</B>"));
  EXPECT_TRUE(has(p, "<INPUT TYPE=\"hidden\" NAME=\"FJOB\" VALUE=\"EDITMSG\">"));
  EXPECT_TRUE(has(p, "VALUE=\"Old\">"));
  EXPECT_TRUE(has(p, ">old body</TEXTAREA>"));
  EXPECT_TRUE(has(p, " No.1 a.txt<INPUT TYPE=\"checkbox\" NAME=\"ADD_FILE1\" VALUE=\"ON\" checked "
                     ">S331<BR>\n No.1 <INPUT TYPE=\"FILE\" NAME=\"FILE1\"><BR>\n"))
      << p;
  EXPECT_TRUE(has(p, "<SELECT NAME=\"HTML_MODE\">\n<OPTION VALUE=\"2\">S360\n"));

  // Slot 1 stays ticked (the new upload is dropped), slot 2 is cleared.
  Response r = s.edit(s.taro, 1, {{"ADD_FILE1", "ON"}, {"WRITE_PRIORITY", "1"}},
                      {{"FILE1", "other.txt", "ZZZ"}});
  ASSERT_TRUE(room_list(r.out)) << r.out;
  std::vector<INDEX_DATA> idx = s.index();
  ASSERT_EQ(idx.size(), 2u);
  EXPECT_EQ(idx[0].MSG_NO, 1);
  EXPECT_EQ(idx[0].THREAD_NO, 1);
  EXPECT_EQ(idx[0].RES_DEPTH, 0);
  EXPECT_EQ(field(idx[0].WRITE_TITLE), "New");
  EXPECT_EQ(idx[0].WRITE_PRIORITY, 1);
  EXPECT_EQ(idx[0].ADD_COUNT, 1);
  EXPECT_EQ(s.body(1), "new\rbody");
  EXPECT_EQ(s.readers(1), std::vector<std::string>{"Taro"});
  std::vector<ADD_FILE> list = s.attachments();
  ASSERT_EQ(list.size(), 1u);
  EXPECT_EQ(field(list[0].FILE_NAME), "a.txt");
  EXPECT_EQ(read_file_bytes(s.add + "1/x1/1/a.txt"), "AAA");
  EXPECT_FALSE(file_exists(s.add + "1/x1/1/other.txt"));
  EXPECT_TRUE(file_exists(s.add + "1/x1/2/b.txt"));  // the file itself stays
  EXPECT_TRUE(temp_files(s.cgi_dir).empty());

  // A reply edited by its author keeps its depth; the reply was untouched.
  EXPECT_EQ(field(s.message(2).WRITE_TITLE), "Reply");
  s.edit(s.hanako, 2);
  EXPECT_EQ(s.message(2).RES_DEPTH, 1);
  EXPECT_EQ(s.message(2).THREAD_NO, 1);
  EXPECT_EQ(field(s.message(2).WRITE_TITLE), "New");

  // The folder's administrator may edit anybody's message and becomes its
  // last writer.
  s.grant(1, "Jiro", 3);
  EXPECT_TRUE(room_list(s.edit(s.jiro, 1, {{"WRITE_TITLE", "By admin"}}).out));
  EXPECT_EQ(field(s.message(1).USER_ID), "Jiro");
  EXPECT_EQ(s.readers(1), std::vector<std::string>{"Jiro"});
}

TEST(WriteCgi, ForgedEditsStoreNothing) {
  EditSite s;
  const std::string index = read_file_bytes(s.data + "1/index.dat");
  const std::string marks = read_file_bytes(s.data + "1/r1.dat");
  const std::string adds = read_file_bytes(s.data + "1/add_file.dat");
  auto unchanged = [&] {
    EXPECT_EQ(read_file_bytes(s.data + "1/index.dat"), index);
    EXPECT_EQ(read_file_bytes(s.data + "1/r1.dat"), marks);
    EXPECT_EQ(read_file_bytes(s.data + "1/add_file.dat"), adds);
    EXPECT_EQ(s.body(1), "old body");
  };

  // Another user's message, even with write right.
  EXPECT_TRUE(error_page(s.edit(s.hanako, 1).out, 278, 3));
  unchanged();
  // A message number that has no record, even for the system administrator.
  std::string sysop = s.key("Sysop");
  EXPECT_TRUE(error_page(s.edit(sysop, 9, {}, {{"FILE1", "x.txt", "X"}}).out, 278, 3));
  unchanged();
  EXPECT_FALSE(file_exists(s.data + "1/x9.dat"));
  EXPECT_FALSE(file_exists(s.data + "1/r9.dat"));
  // Own messages only where the board allows it, and never for guests.
  s.configure(1, [](B_TITLE2& b) { b.REWRITE_FLG = 1; });
  EXPECT_TRUE(error_page(s.edit(s.taro, 1).out, 278, 3));
  unchanged();
  s.configure(1, [](B_TITLE2& b) { b.REWRITE_FLG = 2; });
  std::string guest = s.key("Guest");
  s.send(guest, {{"WRITE_TITLE", "Guest post"}});
  ASSERT_EQ(field(s.message(3).USER_ID), "Guest");
  EXPECT_TRUE(error_page(s.edit(guest, 3).out, 278, 3));
  EXPECT_EQ(field(s.message(3).WRITE_TITLE), "Guest post");
}

TEST(WriteCgi, FailedIndexWriteLeavesTheAnsweredBodyAlone) {
  PostingSite s;
  std::string k = s.key("Taro");
  s.send(k, {{"WRITE_DATA", "original"}});
  // An index that cannot be opened: the reply gets no number of its own.
  std::remove((s.data + "1/index.dat").c_str());
  mkdir((s.data + "1/index.dat").c_str(), 0700);
  EXPECT_TRUE(error_page(s.send(k, {{"SEL_NO", "1"}, {"WRITE_DATA", "reply"}}).out, 278, 3));
  EXPECT_EQ(s.body(1), "original");
}

TEST(WriteCgi, ClosingPageNeedsNoKey) {
  PostingSite s;
  EXPECT_EQ(s.get({{"JOB", "BORDWRITEFIN"}}).out,
            std::string(kFrame) +
                "<SCRIPT Language=\"JavaScript\">\n<!--\nself.close()\n// -->\n</SCRIPT>\n"
                "\t\t<BODY BACKGROUND=\"http://test/pic/back.gif\" BGPROPERTIES=FIXED >\n"
                "<FONT SIZE=\"5\"><B>S294</B></FONT>\n<P>\n</BODY>\n</HTML>\n");
}

TEST(WriteCgi, PostingsAndEditsAreLoggedWhileTheLogIsOn) {
  EditSite s;
  const std::string line = R"(\d{4}/\d\d/\d\d \d\d:\d\d,)";
  std::string log = read_file_bytes(s.data + "system.log");
  EXPECT_TRUE(std::regex_search(log, std::regex(line + "Taro,write,1,,\n" + line + "Hanako,write,1,,\n$")))
      << log;
  s.edit(s.taro, 1);
  log = read_file_bytes(s.data + "system.log");
  EXPECT_TRUE(std::regex_search(log, std::regex(line + "Taro,write,1,,\n$"))) << log;

  PostingSite quiet;
  quiet.write_settings("LOG_DATE,0,\n");
  std::string k = quiet.key("Taro");
  ASSERT_TRUE(room_list(quiet.send(k, {}).out));
  EXPECT_FALSE(file_exists(quiet.data + "system.log"));
}

}  // namespace
