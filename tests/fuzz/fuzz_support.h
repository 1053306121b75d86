// Shared set-up of the fuzz targets: a scratch working directory, input fed
// as standard input, and removal of the upload files a run leaves.
#pragma once
#include <dirent.h>
#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>

inline std::string g_fuzz_dir;

// Moves into a fresh directory for the whole run, removed with its files
// when the run ends; in memory where possible (a disk file system may flush
// every rewritten file, which costs far more than the code under test).
// Corpus paths given to the fuzzer must therefore be absolute.
inline bool fuzz_enter_scratch_dir() {
  for (const char* base : {"/dev/shm", "/tmp"}) {
    std::string dir = std::string(base) + "/morvel-fuzz-XXXXXX";
    if (mkdtemp(dir.data())) {
      g_fuzz_dir = dir;
      break;
    }
  }
  if (g_fuzz_dir.empty() || chdir(g_fuzz_dir.c_str()) != 0) abort();
  atexit([] {
    if (DIR* d = opendir(g_fuzz_dir.c_str())) {
      while (struct dirent* e = readdir(d))
        if (e->d_name[0] != '.') unlink((g_fuzz_dir + "/" + e->d_name).c_str());
      closedir(d);
    }
    rmdir(g_fuzz_dir.c_str());
  });
  return true;
}

// Makes `bytes` the process's standard input (file descriptor 0).
inline void fuzz_stdin(std::string_view bytes) {
  int fd = memfd_create("stdin", 0);
  if (fd < 0) abort();
  for (size_t done = 0; done < bytes.size();) {
    ssize_t n = write(fd, bytes.data() + done, bytes.size() - done);
    if (n <= 0) abort();
    done += static_cast<size_t>(n);
  }
  lseek(fd, 0, SEEK_SET);
  dup2(fd, 0);
  close(fd);
}

// Removes every "CGI<digits>" file of the working directory.
inline void fuzz_remove_uploads() {
  DIR* d = opendir(".");
  if (!d) return;
  while (struct dirent* e = readdir(d))
    if (strncmp(e->d_name, "CGI", 3) == 0) unlink(e->d_name);
  closedir(d);
}

// Writes `bytes` to the file `path`, replacing it.
inline void fuzz_write_file(const std::string& path, std::string_view bytes) {
  FILE* f = fopen(path.c_str(), "wb");
  if (!f) abort();
  fwrite(bytes.data(), 1, bytes.size(), f);
  fclose(f);
}
