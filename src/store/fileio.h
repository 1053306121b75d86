// File and directory helpers shared by the stores and pages: open-or-create,
// length, moving uploads into place, downloads, emptying directory trees,
// and listing files by pattern.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t PATH_SIZE = 1000;  // every path buffer holds 999 characters

int b_open(const char* path);
int32_t get_filelength(const char* path);
int filemove(const char* src, const char* dst);
void file_DL(const char* dir, const char* name);
void DelDIR(const char* dir);
char* editpath(const char* name, const char* dir, char* out);
int check_name(const char* pattern, const char* name);
char* strupr(char* s);
void filefind(char* buf);
