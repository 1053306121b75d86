// File and directory helpers shared by the stores and pages: open-or-create,
// length, moving uploads into place, downloads, emptying directory trees,
// and listing files by pattern.
#pragma once
#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

constexpr size_t PATH_SIZE = 1000;  // every path buffer holds 999 characters

int b_open(const char* path);
int32_t get_filelength(const char* path);
int filemove(const char* src, const char* dst);
void file_DL(const char* dir, const char* name);
void DelDIR(const char* dir);

// A copy of a tree: what it copied, and whether all of it was.
struct TreeCopy {
  long files = 0;
  long long bytes = 0;
  bool ok = true;
  std::function<void(const std::string& path)> on_fail;  // told of each failure (errno set)
};
// Copies a file, a symbolic link or a directory tree to `dst`, which must
// not exist yet, with modes and times. A file removed meanwhile is no loss.
void copy_tree(const std::string& src, const std::string& dst, TreeCopy& c);
// Removes a file or a whole directory tree; false when something stays.
bool remove_tree(const std::string& path);
char* editpath(const char* name, const char* dir, char* out);
int check_name(const char* pattern, const char* name);
char* strupr(char* s);
void filefind(char* buf);
