// File helpers: open, move, empty trees, name patterns, directory locks and
// atomic replacement.
#include "store/fileio.h"

#include <sys/file.h>

#include "data_dir.h"

namespace {

namespace fs = std::filesystem;
using FileHelpers = DataDir;

TEST_F(FileHelpers, OpenAndMove) {
  std::string src = dir / "CGI1", dst = dir / "dst.bin";
  close(b_open(src.c_str()));
  EXPECT_EQ(file_mode(src), 0600);
  EXPECT_EQ(b_open((dir / "missing/x.dat").c_str()), -1);
  unlink(src.c_str());
  EXPECT_EQ(filemove(src.c_str(), dst.c_str()), 0);  // a missing upload: empty file
  EXPECT_EQ(read_file_bytes(dst), "");
  EXPECT_EQ(file_mode(dst), 0700);

  std::string data;
  for (int i = 0; i < 150000; i++) data += static_cast<char>(i * 7);  // NULs included
  write_file_bytes(dst, std::string(300000, 'L'));
  write_file_bytes(src, data);
  EXPECT_EQ(filemove(src.c_str(), dst.c_str()), 0);
  EXPECT_TRUE(read_file_bytes(dst) == data);  // nothing left of the longer old file
  EXPECT_EQ(std::distance(fs::directory_iterator(dir.path()), {}), 1);  // nor of the source

  write_file_bytes(src, "upload");
  EXPECT_EQ(filemove(src.c_str(), (dir / "nodir/x").c_str()), -1);
  EXPECT_EQ(read_file_bytes(src), "upload");
}

TEST_F(FileHelpers, DelDirEmptiesTheTreeWithoutFollowingLinks) {
  put("system.log", "x");
  fs::create_directories(dir / "12/a/b");
  put("12/a/b/2.txt", "x");
  fs::create_directory_symlink(dir.path(), dir / "12/link");
  DelDIR((dir / "12").c_str());
  EXPECT_TRUE(fs::is_directory(dir / "12"));
  EXPECT_TRUE(fs::is_empty(dir / "12"));
  EXPECT_TRUE(file_exists(dir / "system.log"));
}

TEST_F(FileHelpers, NamePatternsAndUpperCase) {
  EXPECT_EQ(check_name("*PAN*", "PAN"), 0);
  EXPECT_EQ(check_name("*.LNG", ".LNG") + check_name("J*N", "JAPAN") + check_name("*", ""), -3);
  std::string s(2000, 'a');
  EXPECT_EQ(strupr(s.data()), s.data());
  EXPECT_EQ(s, std::string(1025, 'A') + std::string(975, 'a'));
}

// True when another process could take the lock on `dir` right now.
bool free_for_others(const std::string& dir) {
  return run_together(1, [&](int) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    return fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1;
  });
}

TEST_F(FileHelpers, DirLockReentrantWithinProcessExclusiveAcrossProcesses) {
  std::string one = dir / "1";
  fs::create_directories(one);
  fs::create_directory_symlink(one, dir / "alias");
  {
    DirLock outer((one + "/index.dat").c_str());
    ASSERT_TRUE(outer.held());
    EXPECT_TRUE(DirLock((dir / "alias/./add_file.dat").c_str()).held());  // the same directory
    EXPECT_FALSE(free_for_others(one));  // the outer lock outlives the inner
  }
  EXPECT_TRUE(free_for_others(one));
}

TEST_F(FileHelpers, ReplaceFileNeverLeavesTheTargetMissingOrPartial) {
  std::string path = dir / "index.dat", tmp = path + ".tmp", stop = dir / "stop";
  const std::string a(60000, 'a'), b(40000, 'b');
  write_file_bytes(path, a);
  write_file_bytes(tmp, std::string(5000, 'J'));  // leftover of an earlier crash
  chmod(path.c_str(), 0640);
  EXPECT_EQ(replace_file(path.c_str(), (dir / "nodir/x.tmp").c_str(), b), -1);
  EXPECT_EQ(read_file_bytes(path), a);

  // A reader meets the old or the new file, whole, during every replacement.
  EXPECT_TRUE(run_together(2, [&](int writer) {
    int bad = 0;
    std::string s;
    for (int i = 0; writer && i < 200; i++)
      bad |= replace_file(path.c_str(), tmp.c_str(), i % 2 ? a : b);
    if (writer) write_file_bytes(stop, "");
    while (!writer && !file_exists(stop)) bad |= !read_file(path.c_str(), s) || (s != a && s != b);
    return bad;
  }));
  EXPECT_EQ(file_mode(path), 0640);
  EXPECT_FALSE(file_exists(tmp));
}

}  // namespace
