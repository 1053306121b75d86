// A throw-away installation run as a web server runs the program; its
// language file's slot n reads "S<n>", so a test sees which message printed where.
#pragma once
#include <functional>
#include <map>
#include <string>
#include <utility>
#include <vector>

#include "store/records.h"

using Fields = std::vector<std::pair<std::string, std::string>>;

struct Upload {
  std::string field, filename, content;  // form field, name the browser sends, bytes
};

struct Response {
  std::string out;  // everything the program printed
  int status = -1;  // exit status
  long max_rss_kb = 0;  // its peak resident memory in KiB
};

// A fresh temporary directory, removed at the end unless MORVEL_KEEP_TMP is set.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& path() const { return path_; }
  std::string operator/(const std::string& rel) const { return path_ + "/" + rel; }

 private:
  std::string path_;
};

std::string read_file_bytes(const std::string& path);
void write_file_bytes(const std::string& path, const std::string& bytes);
bool file_exists(const std::string& path);
int file_mode(const std::string& path);  // permission bits, -1 when missing
size_t files_named(const std::string& dir, const std::string& prefix);
std::string url_encode(const std::string& s);
// Runs fn(i), i < n, in child processes released at once; true when all exit 0.
bool run_together(int n, const std::function<int(int)>& fn);

class Site {
 public:
  explicit Site(bool write_ini = true);  // false: no settings file, as on a first run

  TempDir dir;
  std::string cgi_dir;  // working directory of the program
  std::string program;  // its path (the first argument it gets)
  std::string ini;      // its settings file
  std::string data;     // DATA_FILE_PATH, ending in "/"
  std::string pic;      // CG_FILE_PATH
  std::string add;      // ADD_FILE_PATH
  std::string pic_web = "http://test/pic/";
  // Environment given to every request; tests may change it.
  std::map<std::string, std::string> env = {{"REMOTE_ADDR", "127.0.0.1"},
                                            {"HTTP_USER_AGENT", "TestBrowser/1.0"}};
  // When set, requests read their body from this file instead.
  std::string body_file;

  // Writes the settings file; `extra` lines are appended (later lines win).
  void write_settings(const std::string& extra = "");
  // Appends a user line to "user.mst" in the master's 12-field format.
  void add_user(const std::string& id, const std::string& pass, int level = 1, int mode = 1,
                const std::string& name = "");
  std::string data_file(const std::string& name) const { return data + name; }
  // The fixed-size records of a data file, by its path under `data`.
  template <class T>
  std::vector<T> records(const std::string& path) const {
    std::vector<T> out;
    split_records(read_file_bytes(data + path), out);
    return out;
  }

  Response get(const Fields& fields) const;
  Response post(const Fields& fields) const;  // URL-encoded body
  // With `kill_after_us` >= 0 the request is killed (SIGKILL, status 128 + 9)
  // that many microseconds after it started, unless it ended before.
  Response multipart(const Fields& fields, const std::vector<Upload>& files = {},
                     long kill_after_us = -1) const;
  Response run(const std::string& method, const std::string& query,
               const std::string& content_type, const std::string& body,
               const std::map<std::string, std::string>& extra_env = {},
               long kill_after_us = -1) const;
  // Logs in by POST and returns the session key from the frameset ("" on failure).
  std::string login(const std::string& id, const std::string& pass) const;
};
