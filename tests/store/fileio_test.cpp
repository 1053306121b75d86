// File helpers and the shared record-file mechanics: open-or-create,
// moving uploads, downloads, emptying trees, name patterns, directory locks
// across processes and atomic replacement.
#include "store/fileio.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "capture.h"
#include "cgi/sjis.h"
#include "site.h"
#include "store/records.h"

namespace {

// Runs `fn` in the given working directory and returns to the old one.
template <class F>
void in_dir(const std::string& dir, F fn) {
  char old[PATH_MAX];
  ASSERT_NE(getcwd(old, sizeof old), nullptr);
  ASSERT_EQ(chdir(dir.c_str()), 0);
  fn();
  ASSERT_EQ(chdir(old), 0);
}

std::set<std::string> split_commas(const std::string& s) {
  std::set<std::string> out;
  std::stringstream in(s);
  std::string item;
  while (std::getline(in, item, ',')) out.insert(item);
  return out;
}

bool wait_ok(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

// ---- b_open, get_filelength, filemove -------------------------------------

TEST(FileHelpers, BOpenCreatesPrivateFileAndKeepsContents) {
  TempDir d;
  std::string p = d / "new.dat";
  int fd = b_open(p.c_str());
  ASSERT_GE(fd, 0);
  EXPECT_EQ(write(fd, "abc", 3), 3);
  close(fd);
  EXPECT_EQ(file_mode(p), 0600);
  EXPECT_EQ(get_filelength(p.c_str()), 3);

  fd = b_open(p.c_str());  // an existing file is not truncated
  ASSERT_GE(fd, 0);
  close(fd);
  EXPECT_EQ(read_file_bytes(p), "abc");

  EXPECT_EQ(b_open((d / "missing/x.dat").c_str()), -1);
  EXPECT_EQ(get_filelength((d / "missing/x.dat").c_str()), 0);
}

TEST(FileHelpers, FilemoveOfMissingSourceGivesEmptyDestination) {
  TempDir d;
  std::string src = d / "CGI0", dst = d / "dst.jpg";
  EXPECT_EQ(filemove(src.c_str(), dst.c_str()), 0);
  EXPECT_EQ(read_file_bytes(dst), "");
  EXPECT_EQ(file_mode(dst), 0700);
  EXPECT_FALSE(file_exists(src));
}

TEST(FileHelpers, FilemoveReplacesDestinationCompletely) {
  TempDir d;
  std::string src = d / "CGI1", dst = d / "dst.bin";
  std::string data;
  for (int i = 0; i < 150000; i++) data += static_cast<char>(i * 7);  // NULs included
  write_file_bytes(dst, std::string(300000, 'L'));
  write_file_bytes(src, data);
  EXPECT_EQ(filemove(src.c_str(), dst.c_str()), 0);
  EXPECT_TRUE(read_file_bytes(dst) == data);
  EXPECT_EQ(file_mode(dst), 0700);
  EXPECT_FALSE(file_exists(src));

  // A shorter file over a longer one leaves nothing of the old tail.
  write_file_bytes(src, "short");
  EXPECT_EQ(filemove(src.c_str(), dst.c_str()), 0);
  EXPECT_EQ(read_file_bytes(dst), "short");

  // Only the two files: no helper file is left behind.
  std::vector<std::string> names;
  for (const auto& e : std::filesystem::directory_iterator(d.path()))
    names.push_back(e.path().filename().string());
  EXPECT_EQ(names, std::vector<std::string>{"dst.bin"});
}

TEST(FileHelpers, FilemoveIntoMissingDirectoryFailsAndKeepsSource) {
  TempDir d;
  std::string src = d / "CGI2";
  write_file_bytes(src, "upload");
  EXPECT_EQ(filemove(src.c_str(), (d / "nodir/x").c_str()), -1);
  EXPECT_EQ(read_file_bytes(src), "upload");
}

// ---- file_DL ------------------------------------------------------------

TEST(FileHelpers, FileDownload) {
  TempDir d;
  std::string dir = d.path() + "/";
  EXPECT_EQ(capture_stdout([&] { file_DL(dir.c_str(), "missing.log"); }),
            "Content-Disposition: attachment; filename=missing.log\n\n");

  std::string text = "line one,\n" + std::string(2500, 'x') + "\nlast without newline";
  write_file_bytes(dir + "system.log", text);
  EXPECT_EQ(capture_stdout([&] { file_DL(dir.c_str(), "system.log"); }),
            "Content-Disposition: attachment; filename=system.log\n\n" + text);
}

// ---- DelDIR and editpath ------------------------------------------------

TEST(FileHelpers, DelDirEmptiesTreeButKeepsTheDirectory) {
  TempDir d;
  std::string root = d / "12";
  std::filesystem::create_directories(root + "/a/b/c");
  std::filesystem::create_directories(root + "/empty");
  for (const char* f : {"/index.dat", "/a/1.txt", "/a/b/2.txt", "/a/b/c/3"})
    write_file_bytes(root + f, "x");
  // A link to a directory outside is removed, not followed.
  std::string outside = d / "keep";
  std::filesystem::create_directories(outside);
  write_file_bytes(outside + "/precious", "x");
  std::filesystem::create_directory_symlink(outside, root + "/link");

  DelDIR(root.c_str());
  EXPECT_TRUE(std::filesystem::is_directory(root));
  EXPECT_TRUE(std::filesystem::is_empty(root));
  EXPECT_TRUE(file_exists(outside + "/precious"));

  DelDIR((root + "/").c_str());            // trailing slash, already empty
  DelDIR((d / "does-not-exist").c_str());  // no error
  EXPECT_TRUE(std::filesystem::is_directory(root));

  char out[PATH_SIZE];
  EXPECT_STREQ(editpath("f.txt", "/data/3", out), "/data/3/f.txt");
  EXPECT_STREQ(editpath("f.txt", "/data/3/", out), "/data/3/f.txt");
}

// ---- check_name, strupr, filefind ---------------------------------------

TEST(FileHelpers, CheckNamePatterns) {
  struct Case {
    const char* pattern;
    const char* name;
    int result;
  } cases[] = {
      {"japan.lng", "japan.lng", 0},   {"japan.lng", "japan.lngx", -1},
      {"*.LNG", "JAPAN.LNG", 0},       {"*.LNG", ".LNG", -1},  // suffix alone
      {"*.LNG", "A.LNG", 0},           {"*.LNG", "A.LNGX", -1},
      {"*.LNG", "LNG", -1},            {"JAP*", "JAP", 0},     // prefix text itself
      {"JAP*", "JAPAN", 0},            {"JAP*", "XJAPAN", -1},
      {"*PAN*", "JAPAN.LNG", 0},       {"*PAN*", "PAN", 0},
      {"*PAN*", "JAPN", -1},           {"**", "ANY", 0},
      {"J*N", "JAPAN", -1},            {"J*N", "J*N", -1},     // star in the middle
      {"*", "A", 0},                   {"*", "", -1},
      {"*.lng", "A.LNG", -1},                                  // case-sensitive
  };
  for (const auto& c : cases)
    EXPECT_EQ(check_name(c.pattern, c.name), c.result) << c.pattern << " vs " << c.name;
}

TEST(FileHelpers, StruprChangesAsciiLettersOfTheFirst1025Characters) {
  std::string s(2000, 'a');
  EXPECT_EQ(strupr(s.data()), s.data());
  EXPECT_EQ(s, std::string(1025, 'A') + std::string(975, 'a'));

  char sj[] = "\x82\xa0z9-\xdfq";
  strupr(sj);
  EXPECT_STREQ(sj, "\x82\xa0Z9-\xdfQ");
}

TEST(FileHelpers, FilefindListsMatchingNames) {
  TempDir d;
  for (const char* f : {"japan.lng", "ENGLISH.LNG", "Mixed.Lng", ".lng", "lng", "a.lngx", "b.txt"})
    write_file_bytes(d / f, "");
  std::filesystem::create_directories(d / "dir.lng");  // directories are listed too

  char buf[PATH_SIZE] = "*.lng";
  in_dir(d.path(), [&] { filefind(buf); });
  std::string got = buf;
  EXPECT_EQ(split_commas(got),
            (std::set<std::string>{"japan.lng", "ENGLISH.LNG", "Mixed.Lng", "dir.lng"}));
  EXPECT_NE(got.back(), ',');
  EXPECT_EQ(std::count(got.begin(), got.end(), ','), 3);

  char none[PATH_SIZE] = "*.zzz";
  in_dir(d.path(), [&] { filefind(none); });
  EXPECT_STREQ(none, "");
}

TEST(FileHelpers, FilefindInUnreadableDirectoryLeavesPattern) {
  TempDir d;
  std::string dir = d / "locked";
  std::filesystem::create_directories(dir);
  write_file_bytes(dir + "/a.lng", "");
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    // Without read permission on the directory (root reads everything, so
    // drop to an ordinary user first).
    if (chdir(dir.c_str()) != 0 || chmod(".", 0) != 0) _exit(2);
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    char buf[PATH_SIZE] = "*.lng";
    filefind(buf);
    (void)!write(p[1], buf, strlen(buf));
    _exit(0);
  }
  close(p[1]);
  char got[PATH_SIZE] = {0};
  ssize_t n = read(p[0], got, sizeof got - 1);
  close(p[0]);
  EXPECT_TRUE(wait_ok(pid));
  chmod(dir.c_str(), 0700);
  EXPECT_EQ(std::string(got, n > 0 ? n : 0), "*.lng");
}

// ---- DirLock ------------------------------------------------------------

// True when another process could take the lock on `dir` right now.
bool free_for_others(const std::string& dir) {
  pid_t pid = fork();
  if (pid == 0) {
    int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
    _exit(fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) == 0 ? 0 : 1);
  }
  return wait_ok(pid);
}

TEST(DirLockTest, ReentrantWithinProcessExclusiveAcrossProcesses) {
  TempDir d;
  std::string dir = d / "1";
  std::filesystem::create_directories(dir);
  std::filesystem::create_directory_symlink(dir, d / "alias");
  EXPECT_TRUE(free_for_others(dir));
  {
    DirLock outer((dir + "/index.dat").c_str());
    ASSERT_TRUE(outer.held());
    {
      // Other spellings of the same directory: no deadlock.
      DirLock inner((dir + "/./add_file.dat").c_str());
      DirLock third((d / "alias/index.dat").c_str());
      EXPECT_TRUE(inner.held());
      EXPECT_TRUE(third.held());
      EXPECT_FALSE(free_for_others(dir));
    }
    // Releasing the nested locks keeps the outer one.
    EXPECT_FALSE(free_for_others(dir));
  }
  EXPECT_TRUE(free_for_others(dir));

  DirLock nowhere((d / "missing/x.dat").c_str());
  EXPECT_FALSE(nowhere.held());
}

TEST(DirLockTest, ConcurrentIncrementsLoseNothing) {
  TempDir d;
  const std::string counter = d / "count.dat", tmp = d / "count.tmp";
  write_file_bytes(counter, "0");
  const int kProcs = 4, kRounds = 50;
  std::vector<pid_t> pids;
  for (int p = 0; p < kProcs; p++) {
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      for (int i = 0; i < kRounds; i++) {
        DirLock lock(counter.c_str());
        std::string s;
        if (!read_file(counter.c_str(), s)) _exit(1);
        int n = std::stoi(s);
        { DirLock nested((d.path() + "/./count.dat").c_str()); }
        usleep(100);  // widen the window between read and write
        if (replace_file(counter.c_str(), tmp.c_str(), std::to_string(n + 1)) != 0) _exit(1);
      }
      _exit(0);
    }
    pids.push_back(pid);
  }
  for (pid_t pid : pids) EXPECT_TRUE(wait_ok(pid));
  EXPECT_EQ(read_file_bytes(counter), std::to_string(kProcs * kRounds));
  EXPECT_FALSE(file_exists(tmp));
}

// ---- replace_file -----------------------------------------------------

TEST(ReplaceFile, ReplacesAtomicallyAndKeepsOldOnFailure) {
  TempDir d;
  std::string path = d / "b_title.mst", tmp = d / "b_title.mst.tmp";
  EXPECT_EQ(replace_file(path.c_str(), tmp.c_str(), "first"), 0);  // target missing
  EXPECT_EQ(read_file_bytes(path), "first");

  write_file_bytes(tmp, std::string(5000, 'J'));  // leftover of an earlier crash
  chmod(path.c_str(), 0640);
  EXPECT_EQ(replace_file(path.c_str(), tmp.c_str(), "second"), 0);
  EXPECT_EQ(read_file_bytes(path), "second");
  EXPECT_EQ(file_mode(path), 0640);
  EXPECT_FALSE(file_exists(tmp));

  EXPECT_EQ(replace_file(path.c_str(), (d / "nodir/x.tmp").c_str(), "third"), -1);
  EXPECT_EQ(read_file_bytes(path), "second");
}

TEST(ReplaceFile, ReadersNeverMeetMissingOrPartialFile) {
  TempDir d;
  std::string path = d / "index.dat", tmp = d / "index.tmp", stop = d / "stop";
  const std::string a(60000, 'a'), b(40000, 'b');
  write_file_bytes(path, a);
  pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    while (!file_exists(stop)) {
      std::string s;
      if (!read_file(path.c_str(), s)) _exit(1);
      if (s != a && s != b) _exit(2);
    }
    _exit(0);
  }
  for (int i = 0; i < 300; i++) {
    DirLock lock(path.c_str());
    ASSERT_EQ(replace_file(path.c_str(), tmp.c_str(), i % 2 ? a : b), 0);
  }
  write_file_bytes(stop, "");
  EXPECT_TRUE(wait_ok(pid));
}

// ---- Fixed-size and text records ----------------------------------------

struct Rec {
  int32_t no;
  char text[12];
};
static_assert(sizeof(Rec) == 16);

Rec rec(int no, const char* text) {
  Rec r{};
  r.no = no;
  set_field(r.text, text);
  return r;
}

TEST(Records, PutRecordInPlaceAndAppendOverPartialTail) {
  TempDir d;
  std::string path = d / "index.dat";
  std::vector<Rec> v;
  EXPECT_TRUE(load_records(path.c_str(), v));  // a missing file is created empty
  EXPECT_TRUE(v.empty());
  EXPECT_TRUE(file_exists(path));

  Rec r1 = rec(1, "one"), r2 = rec(2, "two");
  ASSERT_EQ(put_record(path.c_str(), 0, &r1, sizeof r1), 0);
  ASSERT_EQ(put_record(path.c_str(), 1, &r2, sizeof r2), 0);
  // A torn append leaves 5 bytes of a third record.
  std::string bytes = read_file_bytes(path) + std::string("\x03\0\0\0t", 5);
  write_file_bytes(path, bytes);
  ASSERT_TRUE(load_records(path.c_str(), v));
  ASSERT_EQ(v.size(), 2u);  // the partial record is never used

  Rec r3 = rec(3, "three");
  EXPECT_EQ(put_record(path.c_str(), 3, &r3, sizeof r3), -1);  // beyond the end
  ASSERT_EQ(put_record(path.c_str(), 2, &r3, sizeof r3), 0);
  EXPECT_EQ(get_filelength(path.c_str()), 48);
  Rec r1b = rec(1, "ONE");
  ASSERT_EQ(put_record(path.c_str(), 0, &r1b, sizeof r1b), 0);
  ASSERT_TRUE(load_records(path.c_str(), v));
  ASSERT_EQ(v.size(), 3u);
  EXPECT_EQ(field(v[0].text), "ONE");
  EXPECT_EQ(field(v[1].text), "two");
  EXPECT_EQ(v[2].no, 3);
  EXPECT_EQ(field(v[2].text), "three");

  v.erase(v.begin() + 1);
  ASSERT_EQ(save_records(path.c_str(), (path + ".tmp").c_str(), v), 0);
  EXPECT_EQ(get_filelength(path.c_str()), 32);
}

TEST(Records, LinePiecesAsA1000ByteBufferReadsThem) {
  std::string longline(2500, 'x');
  auto pieces = line_pieces(longline + "\nshort,\n" + std::string(999, 'y') + "\nend");
  std::vector<size_t> sizes;
  for (auto p : pieces) sizes.push_back(p.size());
  EXPECT_EQ(sizes, (std::vector<size_t>{999, 999, 503, 7, 999, 1, 3}));
  EXPECT_EQ(pieces[3], "short,\n");
  EXPECT_EQ(pieces[5], "\n");
  EXPECT_TRUE(line_pieces("").empty());
}

}  // namespace
