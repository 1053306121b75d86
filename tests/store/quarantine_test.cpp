// Moving leftovers aside: within the data directory's file system and
// across file systems, never over an earlier quarantined item.
#include "store/quarantine.h"

#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <filesystem>

#include "data_dir.h"

namespace fs = std::filesystem;

namespace {

class Quarantine : public DataDir {
 protected:
  // A tree of a folder's leftovers: files and a nested directory.
  void plant(const std::string& root) {
    fs::create_directories(root + "/3");
    write_file_bytes(root + "/index.dat", "old index");
    write_file_bytes(root + "/3/a.txt", "old attachment");
  }
  void expect_moved(const std::string& root, const std::string& moved) {
    ASSERT_FALSE(moved.empty());
    EXPECT_FALSE(fs::exists(root));
    EXPECT_EQ(fs::path(moved).parent_path(), fs::path(dir / "quarantine"));
    EXPECT_EQ(read_file_bytes(moved + "/index.dat"), "old index");
    EXPECT_EQ(read_file_bytes(moved + "/3/a.txt"), "old attachment");
  }
};

TEST_F(Quarantine, MovesTreesAsideUnderFreshNames) {
  EXPECT_EQ(quarantine(dir / "7", "folder7"), "");  // nothing there
  EXPECT_FALSE(fs::exists(dir / "quarantine"));
  plant(dir / "7");
  std::string first = quarantine(dir / "7/", "folder7");
  expect_moved(dir / "7", first);
  // The same number used again: the earlier leftovers stay untouched.
  plant(dir / "7");
  std::string second = quarantine(dir / "7", "folder7");
  expect_moved(dir / "7", second);
  EXPECT_NE(first, second);
  EXPECT_EQ(read_file_bytes(first + "/3/a.txt"), "old attachment");
  // A label that would leave the directory stays inside it.
  write_file_bytes(dir / "f", "x");
  std::string odd = quarantine(dir / "f", "../../etc/x");
  EXPECT_EQ(fs::path(odd).parent_path(), fs::path(dir / "quarantine"));
}

TEST_F(Quarantine, CopiesAcrossFileSystems) {
  // Attachments may live on another mount; shared memory is one when the
  // temporary directory is not on it.
  struct stat a, b;
  if (stat("/dev/shm", &b) != 0 || access("/dev/shm", W_OK) != 0 ||
      stat(dir.path().c_str(), &a) != 0 || a.st_dev == b.st_dev)
    GTEST_SKIP() << "no second file system";
  std::string root = "/dev/shm/morvel-q-" + std::to_string(getpid());
  plant(root);
  std::string moved = quarantine(root, "add7");
  expect_moved(root, moved);
  std::error_code ec;
  fs::remove_all(root, ec);
}

}  // namespace
