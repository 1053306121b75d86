// Reading many small files at once gives what reading them one by one gives.
#include "store/batch_read.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>

#include "data_dir.h"

namespace {

using BatchRead = DataDir;

struct Got {
  std::string bytes;
  int err;
  bool operator==(const Got&) const = default;
};

std::vector<Got> read_all(const std::string& dir, const std::vector<std::string>& names) {
  std::vector<Got> out;
  read_small_files(dir, names, [&](size_t i, std::string_view bytes, int err) {
    EXPECT_EQ(i, out.size());
    out.push_back({std::string(bytes), err});
  });
  return out;
}

TEST_F(BatchRead, SameAsOneByOne) {
  std::vector<std::string> names;
  for (int i = 0; i < 150; i++) {
    std::string name = "r" + std::to_string(i) + ".dat";
    names.push_back(name);
    if (i % 7 == 3) continue;  // missing
    // Empty, small, and now and then far larger than one read.
    put(name, std::string(i % 50 == 0 ? 70000 + i : i * 32, static_cast<char>('a' + i % 26)));
  }
  names.push_back("sub");  // a directory
  mkdir((dir / "sub").c_str(), 0700);

  std::vector<Got> batched = read_all(dir.path(), names);
  read_small_files_plain(true);
  std::vector<Got> plain = read_all(dir.path(), names);
  read_small_files_plain(false);
  ASSERT_EQ(batched.size(), names.size());
  EXPECT_TRUE(batched == plain);
  EXPECT_EQ(batched[3].err, ENOENT);
  EXPECT_EQ(batched[50].bytes.size(), 70050u);
  EXPECT_EQ(batched[1].bytes, std::string(32, 'b'));
  EXPECT_EQ(batched[150].err, EISDIR);

  // Pieces of the same files in two rounds, the second asked for after the
  // first was seen (past the end: none), batched or not.
  // Every third file has no first pieces: it is only opened at first.
  std::vector<std::vector<FilePiece>> first(names.size(), {{0, 64}, {8, 4}});
  for (size_t i = 0; i < first.size(); i += 3) first[i].clear();
  auto pieces = [&] {
    std::vector<Got> out;
    read_pieces(
        dir.path(), names, first,
        [](size_t i, const std::vector<std::string_view>& got) {
          if (i % 3 == 0) return std::vector<FilePiece>{{0, 3}};
          EXPECT_EQ(got.size(), 2u);
          return i % 2 ? std::vector<FilePiece>{{static_cast<long>(got[0].size()) - 1, 1}, {100000, 5}}
                       : std::vector<FilePiece>{};
        },
        [&](size_t i, const std::vector<std::string_view>& got, int err) {
          EXPECT_EQ(i, out.size());
          std::string all;
          for (std::string_view b : got) all.append(b).append("|");
          out.push_back({all, err});
        });
    return out;
  };
  const std::vector<Got> pieces_batched = pieces();
  read_small_files_plain(true);
  EXPECT_TRUE(pieces() == pieces_batched);
  read_small_files_plain(false);
  EXPECT_EQ(pieces_batched[1].bytes, std::string(32, 'b') + "|bbbb|b||");
  EXPECT_EQ(pieces_batched[50].bytes, std::string(64, 'y') + "|yyyy|");
  EXPECT_EQ(pieces_batched[3].err, ENOENT);
  EXPECT_EQ(pieces_batched[150].bytes, "|");  // a directory opens, but reads nothing
  EXPECT_EQ(pieces_batched[6].bytes, "ggg|");

  // Pieces of one open file, each of its own length, batched or not.
  std::string text;
  for (int i = 0; i < 3000; i++) text += static_cast<char>('a' + i % 26);
  put("pieces", text);
  const std::vector<long> at = {0, 100, 2990, 4000, 7};
  const std::vector<size_t> lens = {10, 2000, 50, 5, 1};
  for (bool plain : {false, true}) {
    read_small_files_plain(plain);
    const int fd = open((dir / "pieces").c_str(), O_RDONLY);
    std::vector<std::string> got;
    read_ranges(fd, at, lens, [&](size_t i, std::string_view b) {
      EXPECT_EQ(i, got.size());
      got.emplace_back(b);
    });
    close(fd);
    EXPECT_EQ(got, (std::vector<std::string>{text.substr(0, 10), text.substr(100, 2000), text.substr(2990), "",
                                             text.substr(7, 1)}));
  }
  read_small_files_plain(false);

  // A directory that is not there: every file is missing.
  std::vector<Got> none = read_all(dir.path() + "/nowhere", {"a", "b"});
  EXPECT_EQ(none, (std::vector<Got>{{"", ENOENT}, {"", ENOENT}}));
}

}  // namespace
