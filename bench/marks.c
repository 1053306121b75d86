/* The least work an unread count can do: for each board named on the
   command line, read its "index.dat" and open, read and close the read-mark
   file "r<MSG_NO>.dat" of every message in it. The benchmark times it over
   the same files the menu counts, as the floor of the menu's cost. With -b
   it reads the message bodies "x<MSG_NO>.dat" instead: the floor of a
   keyword search.
   usage: bench-marks [-b] DATA_DIR FOLDER... */
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

enum { RECORD = 160, MSG_NO_AT = 4 };

static char *read_all(const char *path, size_t *len) {
  int fd = open(path, O_RDONLY);
  if (fd < 0) return NULL;
  size_t cap = 1 << 16, n = 0;
  char *buf = malloc(cap);
  for (;;) {
    if (n == cap) buf = realloc(buf, cap *= 2);
    ssize_t got = read(fd, buf + n, cap - n);
    if (got <= 0) break;
    n += (size_t)got;
  }
  close(fd);
  *len = n;
  return buf;
}

int main(int argc, char **argv) {
  const char *kind = "r";
  if (argc > 1 && strcmp(argv[1], "-b") == 0) {
    kind = "x";
    argv++;
    argc--;
  }
  if (argc < 3) return 2;
  long files = 0, bytes = 0;
  char path[4096], buf[4096];
  for (int i = 2; i < argc; i++) {
    snprintf(path, sizeof path, "%s%s/index.dat", argv[1], argv[i]);
    size_t len;
    char *index = read_all(path, &len);
    if (!index) continue;
    for (size_t off = 0; off + RECORD <= len; off += RECORD) {
      int msg;
      memcpy(&msg, index + off + MSG_NO_AT, sizeof msg);
      snprintf(path, sizeof path, "%s%s/%s%d.dat", argv[1], argv[i], kind, msg);
      int fd = open(path, O_RDONLY);
      if (fd < 0) continue;
      ssize_t got;
      while ((got = read(fd, buf, sizeof buf)) > 0) bytes += got;
      close(fd);
      files++;
    }
    free(index);
  }
  printf("%ld files, %ld bytes\n", files, bytes);
  return 0;
}
