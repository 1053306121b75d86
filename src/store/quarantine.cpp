// Moving leftovers into the quarantine directory: a rename where source and
// quarantine share a file system, otherwise a copy of the tree followed by
// the removal of the original.
#include "store/quarantine.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>

#include "store/records.h"

namespace {

// The directory's name has letters only, so it never meets a folder number
// directory or any of the system's record files.
constexpr const char* kQuarantineDir = "quarantine";

// `label` with everything but letters, digits, '.', '-' and '_' turned into
// '_', and never empty.
std::string safe_label(const std::string& label) {
  std::string out;
  for (unsigned char c : label.substr(0, 100)) {
    bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') ||
              c == '.' || c == '-' || c == '_';
    out += ok ? static_cast<char>(c) : '_';
  }
  if (out.empty() || out[0] == '.') out.insert(0, "x");
  return out;
}

// Removes a file or a whole directory tree; false when something stays.
bool remove_tree(const std::string& path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return errno == ENOENT;
  if (!S_ISDIR(st.st_mode)) return unlink(path.c_str()) == 0 || errno == ENOENT;
  if (DIR* d = opendir(path.c_str())) {
    while (struct dirent* e = readdir(d)) {
      std::string n = e->d_name;
      if (n == "." || n == "..") continue;
      remove_tree(path + "/" + n);
    }
    closedir(d);
  }
  return rmdir(path.c_str()) == 0 || errno == ENOENT;
}

bool copy_file(const std::string& src, const std::string& dst, mode_t mode) {
  Fd in(open(src.c_str(), O_RDONLY | O_CLOEXEC));
  if (!in.ok()) return false;
  Fd out(open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode & 0777));
  if (!out.ok()) return false;
  char buf[65536];
  for (;;) {
    ssize_t n = read(in.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!write_all(out.get(), buf, static_cast<size_t>(n))) return false;
  }
}

// Copies a file, a symbolic link or a directory tree to `dst`, which must
// not exist yet. False when anything could not be copied.
bool copy_tree(const std::string& src, const std::string& dst) {
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) return false;
  if (S_ISLNK(st.st_mode)) {
    char target[PATH_SIZE];
    ssize_t n = readlink(src.c_str(), target, sizeof target - 1);
    if (n < 0) return false;
    target[n] = '\0';
    return symlink(target, dst.c_str()) == 0;
  }
  if (S_ISREG(st.st_mode)) return copy_file(src, dst, st.st_mode);
  if (!S_ISDIR(st.st_mode)) return false;
  if (mkdir(dst.c_str(), 0700) != 0) return false;
  DIR* d = opendir(src.c_str());
  if (!d) return false;
  bool ok = true;
  while (struct dirent* e = readdir(d)) {
    std::string n = e->d_name;
    if (n == "." || n == "..") continue;
    if (!copy_tree(src + "/" + n, dst + "/" + n)) ok = false;
  }
  closedir(d);
  return ok;
}

}  // namespace

std::string quarantine(const std::string& path, const std::string& label) {
  std::string src = path;
  while (src.size() > 1 && src.back() == '/') src.pop_back();
  struct stat st;
  if (src.empty() || lstat(src.c_str(), &st) != 0) return "";
  std::string dir = data_file(kQuarantineDir);
  make_dir(dir.c_str());
  // A name no other process can choose at the same time (the process ID),
  // nor this one twice (the counter).
  static unsigned serial = 0;
  char stamp[80];
  time_t now = time(nullptr);
  struct tm tm_now;
  gmtime_r(&now, &tm_now);
  std::string dst;
  for (int tries = 0; tries < 1000; tries++) {
    snprintf(stamp, sizeof stamp, "-%04d%02d%02d%02d%02d%02d-%ld-%u", tm_now.tm_year + 1900,
             tm_now.tm_mon + 1, tm_now.tm_mday, tm_now.tm_hour, tm_now.tm_min, tm_now.tm_sec,
             static_cast<long>(getpid()), serial++);
    dst = dir + "/" + safe_label(label) + stamp;
    struct stat taken;
    if (lstat(dst.c_str(), &taken) != 0 && errno == ENOENT) break;
    dst.clear();
  }
  if (dst.empty()) return "";
  if (rename(src.c_str(), dst.c_str()) == 0) return dst;
  if (errno != EXDEV) return "";
  // Another file system: copy, then remove the original. A failed copy is
  // dropped again and the original stays where it was.
  if (!copy_tree(src, dst)) {
    remove_tree(dst);
    return "";
  }
  return remove_tree(src) ? dst : "";
}
