// Uploads through the real program: every file arrives byte for byte in its
// own temporary file in the program's working directory, also when several
// requests upload at the same moment.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "site.h"

namespace {

// The boundary Site::multipart uses.
const std::string kBoundary = "----WebKitFormBoundaryq7Tz3XkYdL0a9bQe";

// Binary content of `size` bytes, different for each `seed`, full of bytes
// that a careless decoder stumbles over: NUL, CR LF, "--", and separators
// that break off one byte short, the last one just before the real one.
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

TEST(UploadCgi, FilesOfBoundarySizesArriveIntact) {
  Site site;
  const size_t sizes[] = {999, 1000, 1001, 70000};
  for (unsigned i = 0; i < 4; i++) {
    std::string content = tricky(sizes[i], i);
    site.multipart({{"JOB", "BORDWRITEWR"}, {"TITLE", "t"}},
                   {{"ADD_FILE1", "C:\\tmp\\up" + std::to_string(i) + ".bin", content}});
    // Each request claims the next free name.
    std::string tmp = site.cgi_dir + "/CGI" + std::to_string(i);
    EXPECT_TRUE(read_file_bytes(tmp) == content) << "size " << sizes[i];
    EXPECT_EQ(file_mode(tmp), 0600);
  }
  EXPECT_FALSE(file_exists(site.cgi_dir + "/CGI4"));
}

TEST(UploadCgi, SimultaneousUploadsEachGetTheirOwnFile) {
  Site site;
  std::vector<std::string> contents, got;
  for (int i = 0; i < 6; i++) contents.push_back(tricky(200000 + i * 977, 100 + i));
  EXPECT_TRUE(run_together(6, [&](int i) {
    return site.multipart({{"JOB", "BORDWRITEWR"}}, {{"ADD_FILE1", "a.bin", contents[i]}}).status;
  }));
  for (int i = 0; i < 6; i++)
    got.push_back(read_file_bytes(site.cgi_dir + "/CGI" + std::to_string(i)));
  EXPECT_FALSE(file_exists(site.cgi_dir + "/CGI6"));
  std::sort(got.begin(), got.end());
  std::sort(contents.begin(), contents.end());
  EXPECT_TRUE(got == contents) << "an upload was damaged or lost";
}

}  // namespace
