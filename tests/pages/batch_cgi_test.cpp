// Batch upload (blocks, limits, refusals, memory) and the folder tree's transfer.
#include "board_site.h"
#include "pages/batch.h"

namespace {

std::string block(int board, int res, const std::string& title, const std::string& body,
                  const std::string& tail = "RCHK1\nHTML0\n") {
  return ";board" + std::to_string(board) + "\nRES" + std::to_string(res) + "\n" + title +
         "\nPRI0\n" + body + "..\n" + tail;
}

struct BatchSite : PostingSite {
  BatchSite() {
    folder(2, KIND_BOARD, 0, "Read only", 0, 5);
    folder(3, KIND_CHAT, 0, "Chat");
  }
  std::string send(const std::string& k, const std::string& file) const {
    return multipart({{"SKEY", k}, {"JOB", "BATCH_UPLOAD_WR"}}, {{"FILE1", "batch.txt", file}}).out;
  }
};

TEST(BatchCgi, BlocksArePostedInFileOrderWithThePostingLimits) {
  BatchSite s;
  const std::string k = s.key("Taro");
  const std::string long_title = std::string(80, 'T') + "\x82\xa0";  // a character across byte 81
  std::string file = "preamble\n" + block(1, 0, "First<script>", "line1\n;not a block\n") +
                     "between\n" + block(2, 0, "Read only", "x\n") + block(3, 0, "Chat", "x\n") +
                     block(9, 0, "Missing", "x\n") + block(1, 1, long_title, "a\r\nb\r\n", "RCHK9\nHTML7\n") +
                     block(1, 0, "Big", std::string(4001, 'b') + "\n") +
                     ";board1\nRES0\nJapanese \x93\xfa\x96\x7b\nPRI2\n\x93\xfa\n..\nRCHK2\nHTML1\n" +
                     ";board0\n" + block(1, 0, "After the end", "x\n");
  std::string out = s.send(k, file);
  EXPECT_TRUE(has(out, "write board[1],res[1] <B>First&lt;script>\n</B><P>\n"
                       "board[2],res[0] S3<P>\nboard[3],res[0] S3<P>\nboard[9],res[0] S3<P>\n"
                       "write board[1],res[2] <B>" + std::string(80, 'T') + "</B><P>\n"
                       "board[1],res[0] S377<P>\nwrite board[1],res[3] <B>Japanese")) << out;
  ASSERT_EQ(s.index().size(), 3u);
  EXPECT_EQ(s.body(1), "line1\r;not a block\r");
  INDEX_DATA reply = s.message(2);
  EXPECT_EQ((std::vector<int32_t>{reply.THREAD_NO, reply.RES_DEPTH, reply.READ_CHK, reply.HTML_MODE}),
            (std::vector<int32_t>{1, 1, 1, 0}));
  EXPECT_EQ(s.body(2), "a\r\rb\r\r");  // CR LF lines give an empty line after each
  INDEX_DATA jp = s.message(3);
  EXPECT_EQ(field(jp.WRITE_TITLE), "Japanese \x93\xfa\x96\x7b\n");
  EXPECT_EQ((std::vector<int32_t>{jp.WRITE_PRIORITY, jp.READ_CHK, jp.HTML_MODE}), (std::vector<int32_t>{2, 2, 1}));
  // One "write" line per stored message, none for the refused blocks.
  EXPECT_EQ(all_matches(read_file_bytes(s.data_file("system.log")), "(,write,)").size(), 3u);

  // A forged FILE1 naming a server file is neither read nor removed.
  write_file_bytes(s.cgi_dir + "/victim", block(1, 0, "Forged", "x\n"));
  s.multipart({{"SKEY", k}, {"JOB", "BATCH_UPLOAD_WR"}, {"FILE1", "b.txt,victim"}});
  EXPECT_TRUE(file_exists(s.cgi_dir + "/victim"));
  EXPECT_EQ(s.index().size(), 3u);
}

TEST(BatchParse, TenThousandBlocksInLinearTime) {
  std::string text, body;
  for (int i = 0; i < 10000; i++) text += block(1, 0, "T" + std::to_string(i), "b\n");
  TempDir d;
  write_file_bytes(d / "f", text);
  auto t0 = std::chrono::steady_clock::now();
  ASSERT_EQ(batch_upload_get(10000, (d / "f").c_str(), body), 0);
  EXPECT_EQ(field(sINDEX_DATA.WRITE_TITLE), "T9999\n");
  EXPECT_EQ(batch_upload_get(10001, (d / "f").c_str(), body), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - t0, std::chrono::seconds(1));
}

TEST(FolderTransferCgi, AdministratorsDownloadAndReplaceOnlyTheTree) {
  BatchSite s;
  const std::string tree = read_file_bytes(s.data_file("b_title.mst"));
  const std::string users = read_file_bytes(s.data_file("user.mst"));
  const std::string taro = s.key("Taro"), admin = s.key("Admin");
  EXPECT_TRUE(refused(s.page(taro, {{"JOB", "FOLDER_DOWNLOAD"}})));
  EXPECT_EQ(s.page(admin, {{"JOB", "FOLDER_DOWNLOAD"}}),
            "Content-Disposition: attachment; filename=b_title.mst\n\n" + tree);
  auto upload = [&](const std::string& k, const std::string& name) {
    s.multipart({{"SKEY", k}, {"JOB", "FOLDER_UPLOAD"}}, {{"FILE1", "C:\\x\\" + name, "1,2,0,New,\n"}});
  };
  for (auto [k, name] : {std::pair{taro, "b_title.mst"}, {admin, "user.mst"}, {admin, "B_TITLE.MST.txt"}})
    upload(k, name);
  EXPECT_EQ(read_file_bytes(s.data_file("b_title.mst")), tree);
  EXPECT_EQ(read_file_bytes(s.data_file("user.mst")), users);
  upload(admin, "b_title.mst");
  EXPECT_EQ(read_file_bytes(s.data_file("b_title.mst")), "1,2,0,New,\n");
}

// The program holds neither a batch file nor its longest line whole.
TEST(BatchCgi, MemoryStaysWithinTheFileSize) {
  BatchSite s;
  TempDir d;
  const std::string part = "\r\n--B\r\nContent-Disposition: form-data; name=\"";
  std::ofstream(d / "in") << part.substr(2) << "SKEY\"\r\n\r\n" << s.key("Taro") << part << "JOB\"\r\n\r\nBATCH_UPLOAD_WR"
                          << part << "FILE1\"; filename=\"b\"\r\n\r\n" << block(1, 0, "Big", std::string(24 << 20, 'b') + "\n")
                          << block(1, 0, "Small", "x\n") << "\r\n--B--\r\n";
  s.body_file = d / "in";
  Response r = s.run("POST", "", "multipart/form-data; boundary=B", "");
  EXPECT_TRUE(has(r.out, "board[1],res[0] S377<P>\nwrite board[1],res[1] <B>Small")) << r.out;
  EXPECT_LT(r.max_rss_kb, 28 << 10);  // the file's size and 4 MiB
}

}  // namespace
