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

#include "store/fileio.h"
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
  TreeCopy c;
  copy_tree(src, dst, c);
  if (!c.ok) {
    remove_tree(dst);
    return "";
  }
  return remove_tree(src) ? dst : "";
}
