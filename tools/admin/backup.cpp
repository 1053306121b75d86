// backup: a consistent copy of a serving site. The data directory's own
// files are copied under its lock, held to the end; each folder's message
// directory and attachment directory under the folder's lock, taken after
// it, as every writer of the program takes them. So each file is copied
// between two store steps, never in the middle of one.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "admin.h"
#include "settings/sysinfo.h"
#include "store/fileio.h"
#include "store/folder.h"
#include "store/records.h"

namespace {

std::string real_dir(const std::string& path) {
  char buf[PATH_MAX];
  std::string r = realpath(path.c_str(), buf) ? buf : "";
  return r.empty() || r.back() == '/' ? r : r + "/";
}

// Whether `dir` lies in `root` (both as real_dir gives them).
bool inside(const std::string& dir, const std::string& root) {
  return !root.empty() && dir.compare(0, root.size(), root) == 0;
}

// The names in `dir`, without "." and "..", in name order.
std::vector<std::string> entries(const std::string& dir) {
  std::vector<std::string> out;
  if (DIR* d = opendir(dir.c_str())) {
    while (struct dirent* e = readdir(d))
      if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) out.push_back(e->d_name);
    closedir(d);
  }
  std::sort(out.begin(), out.end());
  return out;
}

bool empty_dir(const std::string& dir) {
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  int n = 0;
  while (struct dirent* e = readdir(d))
    if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) n++;
  closedir(d);
  return n == 0;
}

}  // namespace

int backup_site(const std::string& dir_arg) {
  const std::string data = real_dir(SYSINFO.DATA_FILE_PATH);
  if (data.empty()) {
    fprintf(stderr, "morvel-admin: cannot read the data directory %s\n", SYSINFO.DATA_FILE_PATH);
    return 1;
  }
  std::string add = real_dir(SYSINFO.ADD_FILE_PATH), pic = real_dir(SYSINFO.CG_FILE_PATH);
  // A root inside the data directory is copied with it.
  if (inside(add, data)) add.clear();
  if (inside(pic, data) || pic == add) pic.clear();
  if (mkdir(dir_arg.c_str(), 0700) != 0 && !(errno == EEXIST && empty_dir(dir_arg))) {
    fprintf(stderr, "morvel-admin: %s must be a new or empty directory\n", dir_arg.c_str());
    return 1;
  }
  const std::string dir = real_dir(dir_arg);
  for (const std::string& root : {data, add, pic})
    if (inside(dir, root)) {
      fprintf(stderr, "morvel-admin: %s lies inside %s, which it would copy\n", dir.c_str(), root.c_str());
      return 1;
    }

  TreeCopy c;
  c.on_fail = [](const std::string& path) {
    fprintf(stderr, "morvel-admin: cannot copy %s: %s\n", path.c_str(), strerror(errno));
  };
  auto copy_in = [&c](const std::string& src, const std::string& dst) { copy_tree(src, dst, c); };
  const std::string out_data = dir + "data", out_add = dir + "attachments";
  {
    DirLock lock(data_file("b_title.mst").c_str());
    const std::vector<std::string> names = entries(data);
    mkdir(out_data.c_str(), 0700);
    if (!add.empty()) mkdir(out_add.c_str(), 0700);
    std::set<std::string> copied;
    size_t done = 0;
    for (const std::string& name : names) {
      const std::string src = data + name;
      struct stat st;
      const bool folder = lstat(src.c_str(), &st) == 0 && S_ISDIR(st.st_mode) &&
                          name.find_first_not_of("0123456789") == std::string::npos;
      if (!folder) {
        copy_in(src, out_data + "/" + name);
        continue;
      }
      if (isatty(STDERR_FILENO)) fprintf(stderr, "\rfolders: %zu", ++done);
      // The folder's messages and their attached files are stored under
      // this lock, the one its writers take.
      DirLock folder_lock((src + "/x").c_str());
      copy_in(src, out_data + "/" + name);
      if (!add.empty()) copy_in(add + name, out_add + "/" + name);
      copied.insert(name);
    }
    if (done && isatty(STDERR_FILENO)) fprintf(stderr, "\n");
    if (!add.empty())
      for (const std::string& name : entries(add))
        if (!copied.count(name)) copy_in(add + name, out_add + "/" + name);
    struct stat st;
    if (stat(data.c_str(), &st) == 0) chmod(out_data.c_str(), st.st_mode & 07777);
  }
  if (!pic.empty()) copy_in(pic.substr(0, pic.size() - 1), dir + "pictures");
  if (!c.ok) {
    fprintf(stderr, "morvel-admin: the backup in %s is incomplete\n", dir.c_str());
    return 1;
  }
  printf("Backup written: %ld files, %lld bytes in %s\n", c.files, c.bytes, dir.c_str());
  printf(
      "To restore it, stop the web server, move the present directories aside and copy\n"
      "the backup in their place:\n");
  printf("  cp -a %sdata %s\n", dir.c_str(), data.substr(0, data.size() - 1).c_str());
  if (!add.empty()) printf("  cp -a %sattachments %s\n", dir.c_str(), add.substr(0, add.size() - 1).c_str());
  if (!pic.empty()) printf("  cp -a %spictures %s\n", dir.c_str(), pic.substr(0, pic.size() - 1).c_str());
  printf("then start the web server again.\n");
  return 0;
}
