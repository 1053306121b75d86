// Moving leftovers aside, also across file systems, never over earlier ones.
#include "store/quarantine.h"

#include "data_dir.h"

namespace fs = std::filesystem;

namespace {

TEST_F(DataDir, QuarantineMovesTreesAsideUnderFreshNames) {
  // Attachments may live on another mount, such as shared memory.
  struct stat a, b;
  const bool other = stat("/dev/shm", &b) == 0 && stat(dir.path().c_str(), &a) == 0 && a.st_dev != b.st_dev;
  const std::string far = other ? "/dev/shm/morvel-q-" + std::to_string(getpid()) : dir / "far";
  EXPECT_EQ(quarantine(dir / "7", "f7"), "");
  std::vector<std::string> moved;
  for (const std::string& root : {dir / "7", far, dir / "7"}) {
    fs::create_directories(root + "/3");
    write_file_bytes(root + "/3/a.txt", root);
    moved.push_back(quarantine(root + "/", "f7"));
    EXPECT_TRUE(!fs::exists(root) && fs::path(moved.back()).parent_path() == fs::path(dir / "quarantine"));
    EXPECT_EQ(read_file_bytes(moved.back() + "/3/a.txt"), root);
  }
  EXPECT_EQ(read_file_bytes(moved[0] + "/3/a.txt"), dir / "7");
  // A label that would lead out of the directory stays inside it.
  write_file_bytes(dir / "f", "x");
  EXPECT_EQ(fs::path(quarantine(dir / "f", "../../x")).parent_path(), fs::path(dir / "quarantine"));
}

}  // namespace
