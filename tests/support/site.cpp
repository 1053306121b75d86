// Test harness: throw-away sites and CGI requests through the real program.
#include "site.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
  std::string tmpl = (fs::temp_directory_path() / "morvel-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
  path_ = tmpl;
}

TempDir::~TempDir() {
  if (getenv("MORVEL_KEEP_TMP")) return;
  std::error_code ec;
  fs::remove_all(path_, ec);
}

std::string read_file_bytes(const std::string& path) {
  std::ifstream f(path, std::ios::binary);
  std::ostringstream s;
  s << f.rdbuf();
  return s.str();
}

void write_file_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream f(path, std::ios::binary | std::ios::trunc);
  f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

bool file_exists(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0;
}

int file_mode(const std::string& path) {
  struct stat st;
  if (stat(path.c_str(), &st) != 0) return -1;
  return st.st_mode & 07777;
}

std::string url_encode(const std::string& s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if (isalnum(c) || c == '-' || c == '_' || c == '.' || c == '*') {
      out += static_cast<char>(c);
    } else if (c == ' ') {
      out += '+';
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

Site::Site(bool write_ini) {
  cgi_dir = dir / "cgi-bin";
  data = dir / "data/";
  pic = dir / "pic/";
  add = dir / "add/";
  for (const auto& d : {cgi_dir, data, pic, add}) fs::create_directories(d);
  program = cgi_dir + "/bbs.cgi";
  ini = cgi_dir + "/bbs.ini";
  fs::copy_file(MORVEL_CGI, program);
  std::string lng;
  for (int n = 1; n < 400; n++) lng += std::to_string(n) + ",S" + std::to_string(n) + "\n";
  write_file_bytes(cgi_dir + "/test.lng", lng);
  if (write_ini) write_settings();
}

void Site::write_settings(const std::string& extra) {
  std::string s;
  s += "LANGUAGE,test.lng,\n";
  s += "CG_FILE_PATH," + pic + ",\n";
  s += "CG_FILE_WEB_PATH," + pic_web + ",\n";
  s += "DATA_FILE_PATH," + data + ",\n";
  s += "ADD_FILE_PATH," + add + ",\n";
  s += "ADD_FILE_WEB_PATH," + add_web + ",\n";
  s += "LOGIN_GIF,title.jpg,\n";
  s += "BACK_GIF,back.gif,\n";
  s += "LOG_DATE,365,\n";
  s += "DATETIME,1,\nIECOLS,80,\nNSCOLS,60,\nROWS,8,\nMYDATA,0,\n";
  s += "MAX_CONTENTS,4000,\nFRAME_DIVIDE,20,\n";
  s += extra;
  write_file_bytes(ini, s);
}

void Site::add_user(const std::string& id, const std::string& pass, int level, int mode,
                    const std::string& name) {
  std::string line = id + "," + (name.empty() ? id : name) + "," + std::to_string(level) +
                     ",," + pass + ",0,1," + std::to_string(mode) + ",1,,,0,\n";
  std::ofstream f(data + "user.mst", std::ios::binary | std::ios::app);
  f << line;
}

Response Site::run(const std::string& method, const std::string& query,
                   const std::string& content_type, const std::string& body,
                   const std::map<std::string, std::string>& extra_env) const {
  TempDir io;
  std::string in_path = io / "in", out_path = io / "out";
  write_file_bytes(in_path, body);
  std::map<std::string, std::string> e = env;
  e["REQUEST_METHOD"] = method;
  e["GATEWAY_INTERFACE"] = "CGI/1.1";
  if (!query.empty()) e["QUERY_STRING"] = query;
  if (method == "POST") {
    e["CONTENT_LENGTH"] = std::to_string(body.size());
    e["CONTENT_TYPE"] = content_type;
  }
  for (const auto& [k, v] : extra_env) e[k] = v;
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : e) env_strings.push_back(k + "=" + v);

  pid_t pid = fork();
  if (pid == 0) {
    int in = open(in_path.c_str(), O_RDONLY);
    int out = open(out_path.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    dup2(in, 0);
    dup2(out, 1);
    if (chdir(cgi_dir.c_str()) != 0) _exit(126);
    std::vector<char*> envp;
    for (auto& s : env_strings) envp.push_back(s.data());
    envp.push_back(nullptr);
    std::string arg0 = program;
    char* argv[] = {arg0.data(), nullptr};
    execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  Response r;
  r.out = read_file_bytes(out_path);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  return r;
}

static std::string encode_fields(const Fields& fields) {
  std::string q;
  for (const auto& [k, v] : fields) {
    if (!q.empty()) q += '&';
    q += url_encode(k) + "=" + url_encode(v);
  }
  return q;
}

Response Site::get(const Fields& fields) const {
  return run("GET", encode_fields(fields), "", "");
}

Response Site::post(const Fields& fields) const {
  return run("POST", "", "application/x-www-form-urlencoded", encode_fields(fields));
}

std::string multipart_body(const std::string& boundary, const Fields& fields,
                           const std::vector<Upload>& files) {
  std::string b;
  for (const auto& [k, v] : fields) {
    b += "--" + boundary + "\r\n";
    b += "Content-Disposition: form-data; name=\"" + k + "\"\r\n\r\n";
    b += v + "\r\n";
  }
  for (const auto& f : files) {
    b += "--" + boundary + "\r\n";
    b += "Content-Disposition: form-data; name=\"" + f.field + "\"; filename=\"" + f.filename +
         "\"\r\n";
    b += "Content-Type: application/octet-stream\r\n\r\n";
    b += f.content + "\r\n";
  }
  b += "--" + boundary + "--\r\n";
  return b;
}

Response Site::multipart(const Fields& fields, const std::vector<Upload>& files) const {
  const std::string boundary = "----WebKitFormBoundaryq7Tz3XkYdL0a9bQe";
  return run("POST", "", "multipart/form-data; boundary=" + boundary,
             multipart_body(boundary, fields, files));
}

std::string Site::login(const std::string& id, const std::string& pass) const {
  Response r = post({{"uid", id}, {"upw", pass}, {"JOB", "TOP"}});
  size_t at = r.out.find("?SKEY=");
  if (at == std::string::npos) return "";
  size_t end = r.out.find('&', at);
  return r.out.substr(at + 6, end - at - 6);
}
