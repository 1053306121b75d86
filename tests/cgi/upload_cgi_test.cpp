// Uploads through the real program: every file arrives byte for byte in its
// own temporary file in the program's working directory, also when several
// requests upload at the same moment.
#include <dirent.h>
#include <sys/wait.h>
#include <unistd.h>

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
// that break off one byte short.
std::string tricky(size_t size, unsigned seed) {
  const std::string near_sep = "\r\n--" + kBoundary.substr(0, kBoundary.size() - 1);
  std::string s;
  unsigned x = seed * 2654435761u + 1;
  while (s.size() < size) {
    x = x * 1103515245u + 12345u;
    switch ((x >> 16) % 11) {
      case 0: s += std::string("\0\0", 2); break;
      case 1: s += "\r\n"; break;
      case 2: s += "--"; break;
      case 3: s += near_sep + "E"; break;  // "e" would complete it
      case 4: s += "\r\n--"; break;
      default: s += static_cast<char>(x >> 8); break;
    }
  }
  s.resize(size);
  // Ending just short of a separator, the body continues with the real one.
  if (size > near_sep.size() + 8) s.replace(size - near_sep.size(), near_sep.size(), near_sep);
  s.replace(0, 8, "seed" + std::to_string(1000 + seed % 9000));
  return s;
}

std::vector<std::string> temp_files(const std::string& dir) {
  std::vector<std::string> out;
  DIR* d = opendir(dir.c_str());
  while (struct dirent* e = readdir(d))
    if (std::string(e->d_name).rfind("CGI", 0) == 0) out.push_back(e->d_name);
  closedir(d);
  std::sort(out.begin(), out.end());
  return out;
}

TEST(UploadCgi, FilesOfBoundarySizesArriveIntact) {
  Site site;
  const std::vector<size_t> sizes = {999, 1000, 1001, 70000};
  for (size_t i = 0; i < sizes.size(); i++) {
    std::string content = tricky(sizes[i], static_cast<unsigned>(i));
    site.multipart({{"JOB", "BORDWRITEWR"}, {"TITLE", "t"}},
                   {{"ADD_FILE1", "C:\\tmp\\up" + std::to_string(i) + ".bin", content}});
    // Each request claims the next free name.
    std::string tmp = site.cgi_dir + "/CGI" + std::to_string(i);
    ASSERT_TRUE(file_exists(tmp)) << tmp;
    std::string got = read_file_bytes(tmp);
    EXPECT_EQ(got.size(), sizes[i]);
    EXPECT_TRUE(got == content) << "size " << sizes[i];
    EXPECT_EQ(file_mode(tmp), 0600);
  }
  EXPECT_EQ(temp_files(site.cgi_dir).size(), sizes.size());
}

TEST(UploadCgi, SeveralFilesInOneRequest) {
  Site site;
  std::vector<Upload> files;
  for (unsigned i = 0; i < 3; i++)
    files.push_back({"ADD_FILE" + std::to_string(i + 1), "f" + std::to_string(i),
                     tricky(1000 + i * 3000, 50 + i)});
  files.insert(files.begin() + 1, Upload{"EMPTY", "", ""});  // no file chosen
  site.multipart({{"JOB", "BORDWRITEWR"}}, files);
  EXPECT_EQ(temp_files(site.cgi_dir), (std::vector<std::string>{"CGI0", "CGI1", "CGI2"}));
  EXPECT_TRUE(read_file_bytes(site.cgi_dir + "/CGI0") == files[0].content);
  EXPECT_TRUE(read_file_bytes(site.cgi_dir + "/CGI1") == files[2].content);
  EXPECT_TRUE(read_file_bytes(site.cgi_dir + "/CGI2") == files[3].content);
}

TEST(UploadCgi, SimultaneousUploadsEachGetTheirOwnFile) {
  Site site;
  const int kRequests = 6;
  std::vector<std::string> contents;
  for (int i = 0; i < kRequests; i++) contents.push_back(tricky(200000 + i * 977, 100 + i));

  // The children wait on a pipe so that they start together.
  int go[2];
  ASSERT_EQ(pipe(go), 0);
  std::vector<pid_t> pids;
  for (int i = 0; i < kRequests; i++) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      close(go[1]);
      char c;
      (void)!read(go[0], &c, 1);
      Response r = site.multipart({{"JOB", "BORDWRITEWR"}}, {{"ADD_FILE1", "a.bin", contents[i]}});
      _exit(r.status == 0 ? 0 : 1);
    }
    pids.push_back(pid);
  }
  close(go[0]);
  close(go[1]);
  for (pid_t pid : pids) {
    int status = 0;
    waitpid(pid, &status, 0);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }

  std::vector<std::string> names = temp_files(site.cgi_dir);
  ASSERT_EQ(names.size(), static_cast<size_t>(kRequests));
  std::vector<std::string> got;
  for (const auto& n : names) got.push_back(read_file_bytes(site.cgi_dir + "/" + n));
  std::sort(got.begin(), got.end());
  std::sort(contents.begin(), contents.end());
  for (int i = 0; i < kRequests; i++)
    EXPECT_TRUE(got[i] == contents[i]) << "upload " << i << " damaged or lost";
}

}  // namespace
