// Test harness: temporary directories, file helpers, and CGI requests run
// through the real program.
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <sstream>
#include <stdexcept>

#include "board.h"

namespace fs = std::filesystem;

TempDir::TempDir() {
  path_ = (fs::temp_directory_path() / "morvel-XXXXXX").string();
  if (!mkdtemp(path_.data())) throw std::runtime_error("mkdtemp failed");
}

TempDir::~TempDir() {
  std::error_code ec;
  if (!getenv("MORVEL_KEEP_TMP")) fs::remove_all(path_, ec);
}

std::string read_file_bytes(const std::string& path) {
  std::ostringstream s;
  s << std::ifstream(path, std::ios::binary).rdbuf();
  return s.str();
}

void write_file_bytes(const std::string& path, const std::string& bytes) {
  std::ofstream(path, std::ios::binary) << bytes;
}

int file_mode(const std::string& path) {
  struct stat st;
  return stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : -1;
}

bool file_exists(const std::string& path) { return file_mode(path) >= 0; }

size_t files_named(const std::string& dir, const std::string& prefix) {
  size_t n = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir))
    n += e.path().filename().string().rfind(prefix, 0) == 0;
  return n;
}

std::string url_encode(const std::string& s) {
  std::string out;
  for (unsigned char c : s) {
    char hex[4];
    snprintf(hex, sizeof hex, "%%%02X", c);
    out += isalnum(c) || (c && strchr("-_.*", c)) ? std::string(1, c) : c == ' ' ? "+" : hex;
  }
  return out;
}

// The multipart body a browser would send.
static std::string multipart_body(const std::string& boundary, const Fields& fields,
                           const std::vector<Upload>& files) {
  std::string b;
  for (const auto& [k, v] : fields)
    b += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + k + "\"\r\n\r\n" + v +
         "\r\n";
  for (const auto& f : files)
    b += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + f.field +
         "\"; filename=\"" + f.filename + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
         f.content + "\r\n";
  return b + "--" + boundary + "--\r\n";
}

bool run_together(int n, const std::function<int(int)>& fn) {
  int go[2];
  if (pipe(go) != 0) return false;
  for (int i = 0; i < n; i++) {
    if (fork() == 0) {
      char c;
      close(go[1]);
      (void)!read(go[0], &c, 1);  // returns once the parent closes its end
      _exit(fn(i));
    }
  }
  close(go[0]);
  close(go[1]);
  bool all_ok = true;
  for (int i = 0, status; i < n; i++) all_ok &= wait(&status) > 0 && status == 0;
  return all_ok;
}

Site::Site(bool write_ini)
    : cgi_dir(dir / "cgi-bin"), program(cgi_dir + "/bbs.cgi"), ini(cgi_dir + "/bbs.ini"),
      data(dir / "data/"), pic(dir / "pic/"), add(dir / "add/") {
  for (const auto& d : {cgi_dir, data, pic, add}) fs::create_directories(d);
  fs::copy_file(MORVEL_CGI, program);
  std::string lng;
  for (int n = 1; n < 400; n++) lng += std::to_string(n) + ",S" + std::to_string(n) + "\n";
  write_file_bytes(cgi_dir + "/test.lng", lng);
  if (write_ini) write_settings();
}

void Site::write_settings(const std::string& extra) {
  write_file_bytes(ini, "LANGUAGE,test.lng,\nCG_FILE_PATH," + pic + ",\nCG_FILE_WEB_PATH," +
                            pic_web + ",\nDATA_FILE_PATH," + data + ",\nADD_FILE_PATH," + add +
                            ",\nADD_FILE_WEB_PATH,http://test/add/,\nLOGIN_GIF,title.jpg,\n"
                            "BACK_GIF,back.gif,\nLOG_DATE,365,\nDATETIME,1,\nIECOLS,80,\n"
                            "NSCOLS,60,\nROWS,8,\nMYDATA,0,\nMAX_CONTENTS,4000,\n"
                            "FRAME_DIVIDE,20,\n" + extra);
}

void Site::add_user(const std::string& id, const std::string& pass, int level, int mode,
                    const std::string& name) {
  std::ofstream(data + "user.mst", std::ios::binary | std::ios::app)
      << id << "," << (name.empty() ? id : name) << "," << level << ",," << pass << ",0,1,"
      << mode << ",1,,,0,\n";
}

Response Site::run(const std::string& method, const std::string& query,
                   const std::string& content_type, const std::string& body,
                   const std::map<std::string, std::string>& extra_env,
                   long kill_after_us) const {
  TempDir io;
  const std::string in = body_file.empty() ? io / "in" : body_file;
  if (body_file.empty()) write_file_bytes(in, body);
  std::map<std::string, std::string> e = env;
  e["REQUEST_METHOD"] = method;
  e["GATEWAY_INTERFACE"] = "CGI/1.1";
  if (!query.empty()) e["QUERY_STRING"] = query;
  if (method == "POST") {
    e["CONTENT_LENGTH"] = std::to_string(fs::file_size(in));
    e["CONTENT_TYPE"] = content_type;
  }
  for (const auto& [k, v] : extra_env) e[k] = v;
  std::vector<std::string> env_strings;
  for (const auto& [k, v] : e) env_strings.push_back(k + "=" + v);
  std::vector<char*> envp;
  for (auto& s : env_strings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string arg0 = program;
  char* argv[] = {arg0.data(), nullptr};

  pid_t pid = fork();
  if (pid == 0) {
    dup2(open(in.c_str(), O_RDONLY), 0);
    dup2(open((io / "out").c_str(), O_WRONLY | O_CREAT, 0600), 1);
    if (chdir(cgi_dir.c_str()) == 0) execve(program.c_str(), argv, envp.data());
    _exit(127);
  }
  if (kill_after_us >= 0) {
    usleep(static_cast<useconds_t>(kill_after_us));
    kill(pid, SIGKILL);  // a child that ended already is a zombie until waited for
  }
  int status = 0;
  struct rusage use {};
  wait4(pid, &status, 0, &use);
  return {read_file_bytes(io / "out"),
          WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status), use.ru_maxrss};
}

static std::string encode_fields(const Fields& fields) {
  std::string q;
  for (const auto& [k, v] : fields)
    q += (q.empty() ? "" : "&") + url_encode(k) + "=" + url_encode(v);
  return q;
}

Response Site::get(const Fields& fields) const { return run("GET", encode_fields(fields), "", ""); }

Response Site::post(const Fields& fields) const {
  return run("POST", "", "application/x-www-form-urlencoded", encode_fields(fields));
}

Response Site::multipart(const Fields& fields, const std::vector<Upload>& files,
                         long kill_after_us) const {
  const std::string boundary = "----WebKitFormBoundaryq7Tz3XkYdL0a9bQe";
  return run("POST", "", "multipart/form-data; boundary=" + boundary,
             multipart_body(boundary, fields, files), {}, kill_after_us);
}

std::string Site::login(const std::string& id, const std::string& pass) const {
  std::string out = post({{"uid", id}, {"upw", pass}, {"JOB", "TOP"}}).out;
  size_t at = out.find("?SKEY=");
  return at == std::string::npos ? "" : out.substr(at + 6, out.find('&', at) - at - 6);
}
