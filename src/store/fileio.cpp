// File and directory helpers: open-or-create, length, moving uploads,
// downloads, emptying, copying and removing directory trees, pattern
// matching and file listing.
#include "store/fileio.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cgi/sjis.h"
#include "store/records.h"

int b_open(const char* path) {
  int fd = open(path, O_RDWR | O_CLOEXEC);
  if (fd < 0) fd = open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  return fd;
}

int32_t get_filelength(const char* path) {
  struct stat st;
  if (stat(path, &st) != 0) return 0;
  return static_cast<int32_t>(st.st_size);
}

int filemove(const char* src, const char* dst) {
  Fd in(b_open(src));
  if (in.get() < 1) return -1;
  // The new file is written under a temporary name and renamed over the
  // destination, so a failure never leaves a half-copied destination and
  // never loses the old one.
  std::string tmp = std::string(dst) + ".part";
  unlink(tmp.c_str());
  Fd out(open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600));
  if (out.get() < 1) return -1;
  char buf[65536];
  for (;;) {
    ssize_t n = read(in.get(), buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    if (n == 0) break;
    // A read error must not pass a cut copy off as the moved file.
    if (n < 0 || !write_all(out.get(), buf, static_cast<size_t>(n))) {
      out.reset();
      unlink(tmp.c_str());
      return -1;
    }
  }
  out.reset();
  in.reset();
  if (rename(tmp.c_str(), dst) != 0) {
    unlink(tmp.c_str());
    return -1;
  }
  unlink(src);
  return chmod(dst, 0700);
}

void file_DL(const char* dir, const char* name) {
  printf("Content-Disposition: attachment; filename=%s\n\n", name);
  std::string path = std::string(dir) + name;
  FILE* f = fopen(path.c_str(), "r+");
  if (!f) {
    fflush(stdout);
    return;
  }
  char buf[1000];
  while (fgets(buf, sizeof buf, f)) printf("%s", buf);
  fclose(f);
  fflush(stdout);
}

void DelDIR(const char* dir) {
  DIR* d = opendir(dir);
  if (!d) return;
  while (struct dirent* e = readdir(d)) {
    if (e->d_ino == 0) continue;
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    char path[PATH_SIZE];
    editpath(e->d_name, dir, path);
    struct stat st;
    if (lstat(path, &st) != 0) continue;
    if (S_ISDIR(st.st_mode)) {
      DelDIR(path);
      rmdir(path);
    } else {
      unlink(path);
    }
  }
  closedir(d);
}

namespace {

void copy_failed(TreeCopy& c, const std::string& path) {
  c.ok = false;
  if (c.on_fail) c.on_fail(path);
}

// Where the kernel cannot copy between the two files itself.
bool slow_copy(int in, int out, off_t from) {
  char buf[65536];
  for (;;) {
    ssize_t n = pread(in, buf, sizeof buf, from);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return false;
    if (n == 0) return true;
    if (!write_all(out, buf, static_cast<size_t>(n))) return false;
    from += n;
  }
}

void copy_file(const std::string& src, const std::string& dst, TreeCopy& c) {
  Fd in(open(src.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!in.ok() || fstat(in.get(), &st) != 0) {
    if (errno != ENOENT) copy_failed(c, src);
    return;
  }
  Fd out(open(dst.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600));
  if (!out.ok()) return copy_failed(c, dst);
  off_t done = 0;
  while (done < st.st_size) {
    ssize_t n =
        copy_file_range(in.get(), nullptr, out.get(), nullptr, static_cast<size_t>(st.st_size - done), 0);
    if (n > 0) {
      done += n;
      continue;
    }
    if (n == 0) break;  // the file got shorter
    if (errno == EINTR) continue;
    if (!slow_copy(in.get(), out.get(), done)) return copy_failed(c, dst);
    break;
  }
  fchmod(out.get(), st.st_mode & 07777);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  futimens(out.get(), times);
  c.files++;
  c.bytes += st.st_size;
}

}  // namespace

void copy_tree(const std::string& src, const std::string& dst, TreeCopy& c) {
  struct stat st;
  if (lstat(src.c_str(), &st) != 0) {
    if (errno != ENOENT) copy_failed(c, src);
    return;
  }
  if (S_ISLNK(st.st_mode)) {
    char target[PATH_MAX];
    ssize_t n = readlink(src.c_str(), target, sizeof target - 1);
    if (n < 0 || symlink(std::string(target, static_cast<size_t>(n)).c_str(), dst.c_str()) != 0)
      copy_failed(c, src);
    return;
  }
  if (S_ISREG(st.st_mode)) return copy_file(src, dst, c);
  if (!S_ISDIR(st.st_mode)) return;
  if (mkdir(dst.c_str(), 0700) != 0 && errno != EEXIST) return copy_failed(c, dst);
  DIR* d = opendir(src.c_str());
  if (!d) return copy_failed(c, src);
  while (struct dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    copy_tree(src + "/" + e->d_name, dst + "/" + e->d_name, c);
  }
  closedir(d);
  chmod(dst.c_str(), st.st_mode & 07777);
  const struct timespec times[2] = {st.st_atim, st.st_mtim};
  utimensat(AT_FDCWD, dst.c_str(), times, 0);
}

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

char* editpath(const char* name, const char* dir, char* out) {
  std::string p(dir);
  if (p.empty() || p.back() != '/') p += '/';
  p += name;
  copy_text(out, PATH_SIZE, p);
  return out;
}

int check_name(const char* pattern, const char* name) {
  size_t plen = strlen(pattern), nlen = strlen(name);
  const char* star = strchr(pattern, '*');
  if (!star) return strcmp(pattern, name) == 0 ? 0 : -1;
  bool first = pattern[0] == '*';
  bool last = pattern[plen - 1] == '*';
  if (first && !last) {
    size_t n = plen - 1;
    if (nlen <= n) return -1;
    return memcmp(name + nlen - n, pattern + 1, n) == 0 ? 0 : -1;
  }
  if (first && last) {
    if (plen == 1) return nlen > 0 ? 0 : -1;
    std::string mid(pattern + 1, plen - 2);
    if (mid.find('*') != std::string::npos) return -1;
    return std::string_view(name).find(mid) != std::string_view::npos ? 0 : -1;
  }
  if (last) {
    size_t n = plen - 1;
    if (std::string_view(pattern, n).find('*') != std::string_view::npos) return -1;
    return strncmp(name, pattern, n) == 0 ? 0 : -1;
  }
  return -1;
}

char* strupr(char* s) {
  for (int i = 0; i < 1025 && s[i]; i++)
    s[i] = static_cast<char>(toupper(static_cast<unsigned char>(s[i])));
  return s;
}

void filefind(char* buf) {
  char pattern[PATH_SIZE];
  copy_text(pattern, sizeof pattern, buf);
  strupr(pattern);
  DIR* d = opendir(".");
  if (!d) return;
  std::string result;
  while (struct dirent* e = readdir(d)) {
    if (e->d_ino == 0) continue;
    char upper[PATH_SIZE];
    copy_text(upper, sizeof upper, e->d_name);
    strupr(upper);
    if (check_name(pattern, upper) != 0) continue;
    char path[PATH_SIZE];
    struct stat st;
    if (stat(editpath(e->d_name, ".", path), &st) != 0) continue;
    std::string next = result.empty() ? std::string(e->d_name) : result + "," + e->d_name;
    if (next.size() > PATH_SIZE - 1) break;  // the caller's buffer is full
    result = next;
  }
  closedir(d);
  copy_text(buf, PATH_SIZE, result);
}
