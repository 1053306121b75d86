// Derived attachment sizes: made from the list and the files, dropped by
// every step that changes them, made anew when stale or damaged.

#include <sys/stat.h>

#include "data_dir.h"
#include "store/attach_sizes.h"

namespace {

constexpr int32_t F = 7;

class AttachSizes : public DataDir {
 protected:
  void SetUp() override {
    DataDir::SetUp();
    mkdir((dir / "7").c_str(), 0700);
  }
  static void record(int32_t msg, int32_t slot, const char* name) {
    sADD_FILE = ADD_FILE{msg, slot, {}};
    set_field(sADD_FILE.FILE_NAME, name);
    ASSERT_EQ(WriteADD_FILE(F), 0);
  }
  void file(int32_t msg, int32_t slot, const std::string& name, size_t size) {
    const std::string at = "add/7/x" + std::to_string(msg) + "/" + std::to_string(slot);
    std::filesystem::create_directories(dir / at);
    put(at + "/" + name, std::string(size, 'z'));
  }
  // "msg/slot/name/size" per record, in list order.
  static std::string shown() {
    std::vector<AttachedFile> v;
    EXPECT_TRUE(load_attached_files(F, v));
    std::string s;
    for (const AttachedFile& a : v)
      s += (s.empty() ? "" : " ") + std::to_string(a.msg) + "/" + std::to_string(a.slot) + "/" + a.name + "/" +
           std::to_string(a.size);
    return s;
  }
  bool copy_exists() const { return std::filesystem::exists(dir / "7/attsize.bin"); }
};

TEST_F(AttachSizes, CopyFollowsEveryChangeOfTheListAndItsFiles) {
  EXPECT_EQ(shown(), "");  // no list: none, and nothing is created
  EXPECT_FALSE(std::filesystem::exists(dir / "7/add_file.dat"));

  file(1, 1, "a.txt", 3);
  record(1, 1, "a.txt");
  record(1, 2, "gone");
  EXPECT_EQ(shown(), "1/1/a.txt/3 1/2/gone/0");
  ASSERT_TRUE(copy_exists());
  EXPECT_EQ(shown(), "1/1/a.txt/3 1/2/gone/0");  // from the copy

  // Steps that find nothing to remove (an edit keeping its files) keep it.
  remove_attached_files(F, 1, 3);
  EXPECT_EQ(DeleteADD_FILE2(F, 1, 3), -1);
  EXPECT_EQ(DeleteADD_FILE(F, 8), -1);
  EXPECT_TRUE(copy_exists());

  // Each store step removes the copy before it changes anything.
  file(1, 2, "b", 5);
  record(1, 2, "b");
  EXPECT_FALSE(copy_exists());
  EXPECT_EQ(shown(), "1/1/a.txt/3 1/2/b/5");
  remove_attached_files(F, 1, 2, "b");  // only "b" there: nothing goes
  EXPECT_TRUE(copy_exists());
  file(1, 2, "old", 2);
  remove_attached_files(F, 1, 2, "b");
  EXPECT_FALSE(copy_exists());
  shown();
  ASSERT_EQ(DeleteADD_FILE2(F, 1, 1), 0);
  EXPECT_FALSE(copy_exists());
  EXPECT_EQ(shown(), "1/2/b/5");
  ASSERT_EQ(DeleteADD_FILE(F, 1), 0);
  EXPECT_FALSE(copy_exists());
  EXPECT_EQ(shown(), "");

  // A list changed by someone else carries another stamp.
  file(2, 1, "c", 7);
  std::string raw(sizeof(ADD_FILE), '\0');
  ADD_FILE r{2, 1, "c"};
  std::memcpy(raw.data(), &r, sizeof r);
  put("7/add_file.dat", get("7/add_file.dat") + raw);
  EXPECT_EQ(shown(), "2/1/c/7");

  // A file changed by hand is found by the check, which the copy's removal
  // settles.
  EXPECT_TRUE(verify_attached_sizes(F));
  file(2, 1, "c", 8);
  EXPECT_FALSE(verify_attached_sizes(F));
  drop_attached_sizes(F);
  EXPECT_TRUE(verify_attached_sizes(F));
  EXPECT_EQ(shown(), "2/1/c/8");
}

TEST_F(AttachSizes, DamagedCopyIsMadeAnew) {
  file(3, 1, "d", 4);
  record(3, 1, "d");
  record(4, 1, "e");
  const std::string good = "3/1/d/4 4/1/e/0";
  ASSERT_EQ(shown(), good);
  const std::string copy = get("7/attsize.bin");
  std::string long_name = copy;
  long_name[40 + 12] = 100;  // the first name's length runs past the names
  for (const std::string& bad : {copy.substr(0, 50), copy + "x", long_name, "MAS2" + copy.substr(4)}) {
    put("7/attsize.bin", bad);
    EXPECT_EQ(shown(), good);
    EXPECT_EQ(get("7/attsize.bin"), copy);
  }
}

}  // namespace
