// Standard output capture through a temporary file.
#include "capture.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstdio>

#include "site.h"

std::string capture_stdout(const std::function<void()>& fn) {
  TempDir dir;
  std::string path = dir / "out";
  fflush(stdout);
  int saved = dup(1);
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
  dup2(fd, 1);
  close(fd);
  fn();
  fflush(stdout);
  dup2(saved, 1);
  close(saved);
  return read_file_bytes(path);
}
