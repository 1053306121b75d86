// Shared by the fuzz targets: case picking, a scratch directory, standard input.
#pragma once
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

inline std::string g_fuzz_dir;

// Moves into a fresh directory (in memory where possible) removed when the
// run ends; corpus paths given to the fuzzer must therefore be absolute.
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
    std::error_code ec;
    std::filesystem::remove_all(g_fuzz_dir, ec);
  });
  return true;
}

inline std::string_view fuzz_rest(const uint8_t* data, size_t size, size_t skip) {
  return {reinterpret_cast<const char*>(data + skip), size - skip};
}

// Byte 0 picks one of `cases`, which gets the rest of the input.
template <class Cases>
int fuzz_pick(const uint8_t* data, size_t size, const Cases& cases) {
  if (size >= 1) cases[data[0] % std::size(cases)](fuzz_rest(data, size, 1));
  return 0;
}

// Makes `bytes` the standard input.
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

inline void fuzz_remove_uploads() {
  for (const auto& e : std::filesystem::directory_iterator("."))
    if (e.path().filename().string().rfind("CGI", 0) == 0) unlink(e.path().c_str());
}

inline void fuzz_write_file(const std::string& path, std::string_view bytes) {
  if (!(std::ofstream(path, std::ios::binary) << bytes)) abort();
}
