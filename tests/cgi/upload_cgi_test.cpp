// Uploads through the real program arrive byte for byte, also simultaneous
// ones, and leave no temporary file.

#include "../pages/board_site.h"

namespace {

const std::string kBoundary = "----WebKitFormBoundaryq7Tz3XkYdL0a9bQe";

// `size` bytes per `seed` of NUL, CR LF, "--" and separators one byte short,
// the last one just before the real one.
std::string tricky(size_t size, unsigned seed) {
  const std::string near_sep = "\r\n--" + kBoundary.substr(0, kBoundary.size() - 1);
  std::string s = "seed" + std::to_string(seed);
  for (unsigned x = seed; s.size() < size; x = x * 1103515245u + 12345u) {
    unsigned pick = (x >> 16) % 8;
    s += pick == 0   ? near_sep + "E"
         : pick == 1 ? std::string("\0\r\n--", 5)
                     : std::string(1, static_cast<char>(x >> 8));
  }
  s.resize(size);
  return s.replace(size - near_sep.size(), near_sep.size(), near_sep);
}

TEST(UploadCgi, FilesArriveIntactAndNoTemporaryFileStays) {
  PostingSite site;
  site.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 4; });
  const std::string k = site.key("Taro");
  const size_t sizes[] = {999, 1000, 1001, 70000};
  std::vector<Upload> files;
  for (unsigned i = 0; i < 4; i++)
    files.push_back({"FILE" + std::to_string(i + 1), "C:\\tmp\\up.bin", tricky(sizes[i], i)});
  ASSERT_TRUE(room_list(site.send(k, {}, files).out));
  for (unsigned i = 0; i < 4; i++)
    EXPECT_TRUE(read_file_bytes(site.add + "1/x1/" + std::to_string(i + 1) + "/up.bin") ==
                files[i].content) << "size " << sizes[i];
  // Uploads a page that takes no files leave nothing either.
  site.multipart({{"JOB", "TOP"}, {"SKEY", k}}, files);
  EXPECT_EQ(files_named(site.cgi_dir, "CGI"), 0u);
}

TEST(UploadCgi, SimultaneousUploadsEachGetTheirOwnFile) {
  PostingSite site;
  site.configure(1, [](B_TITLE2& b) { b.ADD_MAX = 1; });
  const std::string k = site.key("Taro");
  std::vector<std::string> contents;
  for (int i = 0; i < 6; i++) contents.push_back(tricky(200000 + i * 977, 100 + i));
  EXPECT_TRUE(run_together(6, [&](int i) {
    return site.send(k, {{"WRITE_TITLE", std::to_string(i)}},
                     {{"FILE1", "a.bin", contents[static_cast<size_t>(i)]}}).status;
  }));
  ASSERT_EQ(site.index().size(), 6u);
  for (const INDEX_DATA& m : site.index())
    EXPECT_TRUE(read_file_bytes(site.add + "1/x" + std::to_string(m.MSG_NO) + "/1/a.bin") ==
                contents[std::stoul(field(m.WRITE_TITLE).data())]) << m.MSG_NO;
  EXPECT_EQ(files_named(site.cgi_dir, "CGI"), 0u);
}

}  // namespace
