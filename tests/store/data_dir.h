// Shared by the store tests: a throw-away data directory (with the
// attachment directory "add/" under it) set up for each test, its files by
// name, and the bytes of a fixed-size record.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "site.h"

class DataDir : public ::testing::Test {
 protected:
  void SetUp() override {
    copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, dir.path() + "/");
    copy_text(SYSINFO.ADD_FILE_PATH, sizeof SYSINFO.ADD_FILE_PATH, dir.path() + "/add/");
  }
  std::string get(const std::string& name) const { return read_file_bytes(dir / name); }
  void put(const std::string& name, const std::string& b) { write_file_bytes(dir / name, b); }
  TempDir dir;
};

template <class R>
std::string bytes_of(const R& r) {
  return std::string(reinterpret_cast<const char*>(&r), sizeof r);
}
