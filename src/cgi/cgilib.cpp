// Decoding of all form input into the entry list: query strings,
// URL-encoded bodies and multipart bodies whose file parts stream into
// temporary files "CGI<n>" in the working directory.
#include "cgi/cgilib.h"

#include <dirent.h>
#include <fcntl.h>
#include <strings.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <vector>

#include "cgi/sjis.h"

CGI_ENTRY* list = nullptr;
CGI_ENTRY* cur = nullptr;
uint32_t content_length = 0;
uint32_t input_byte = 0;

namespace {

constexpr size_t MAX_TEXT_VALUE = 100000;  // bytes collected of a text part
constexpr size_t MAX_FIELD_NAME = 999;     // multipart field and file names
constexpr size_t MAX_BOUNDARY = 97;
constexpr size_t MAX_HEADER_LINE = 8192;

CGI_ENTRY* last = nullptr;  // the empty entry that ends the list
std::vector<std::string> g_uploads;  // temporary files this request created

void free_list() {
  while (list) {
    CGI_ENTRY* next = list->next;
    delete list;
    list = next;
  }
  cur = last = nullptr;
}

void reset_list() {
  free_list();
  list = cur = last = new CGI_ENTRY;
}

// Removes the upload files this request created that are still in place;
// one a handler moved away is simply gone.
void remove_own_uploads() {
  for (const std::string& u : g_uploads) unlink(u.c_str());
  g_uploads.clear();
}

// Fills the list's closing empty entry and appends a new empty one.
void add_entry(std::string name, std::string value) {
  if (!last) reset_list();
  last->name = std::move(name);
  last->value = std::move(value);
  last->next = new CGI_ENTRY;
  last = last->next;
  cur = last;
}

int hexval(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Percent-decoding; a "%" without two hexadecimal digits after it stays.
std::string cgi_decode(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size(); i++) {
    if (s[i] == '%' && i + 2 < s.size() && hexval(s[i + 1]) >= 0 && hexval(s[i + 2]) >= 0) {
      out += static_cast<char>(hexval(s[i + 1]) * 16 + hexval(s[i + 2]));
      i += 2;
    } else {
      out += s[i];
    }
  }
  return out;
}

void cgi_setdata(std::string_view piece) {
  int eq = StrFind(piece, "=");
  if (eq < 0) {
    add_entry(cgi_decode(piece), std::string());
  } else {
    add_entry(cgi_decode(piece.substr(0, eq)), cgi_decode(piece.substr(eq + 1)));
  }
}

void decode_urlencoded(std::string input) {
  for (char& c : input)
    if (c == '+') c = ' ';
  std::string_view rest(input);
  while (!rest.empty()) {
    size_t amp = rest.find('&');
    std::string_view piece = rest.substr(0, amp);
    if (!piece.empty()) cgi_setdata(piece);
    if (amp == std::string_view::npos) break;
    rest.remove_prefix(amp + 1);
  }
}

// Standard input, never read beyond the announced length.
class Input {
 public:
  int get() {
    if (pos_ == len_ && !fill()) return -1;
    return static_cast<unsigned char>(buf_[pos_++]);
  }
  // Bytes available without another read (refilling when empty).
  std::string_view peek_chunk() {
    if (pos_ == len_) fill();
    return std::string_view(buf_ + pos_, len_ - pos_);
  }
  void consume(size_t n) { pos_ += n; }

 private:
  bool fill() {
    pos_ = len_ = 0;
    if (input_byte >= content_length) return false;
    size_t want = std::min<size_t>(sizeof buf_, content_length - input_byte);
    ssize_t n;
    do {
      n = read(0, buf_, want);
    } while (n < 0 && errno == EINTR);
    if (n <= 0) {
      input_byte = content_length;  // the body ended early
      return false;
    }
    input_byte += static_cast<uint32_t>(n);
    len_ = static_cast<size_t>(n);
    return true;
  }
  char buf_[65536];
  size_t pos_ = 0, len_ = 0;
};

// Receives the bytes before a separator, holding back the last two (the
// line break that precedes the separator), which are dropped at the end.
class Sink {
 public:
  virtual ~Sink() = default;
  void feed(std::string_view s) {
    held_.append(s.data(), s.size());
    if (held_.size() > 2) {
      emit(std::string_view(held_).substr(0, held_.size() - 2));
      held_.erase(0, held_.size() - 2);
    }
  }
  virtual void emit(std::string_view s) = 0;
  // True when the input must not be read any further.
  virtual bool stop() const { return false; }

 private:
  std::string held_;
};

class DropSink : public Sink {
  void emit(std::string_view) override {}
};

class TextSink : public Sink {
 public:
  // At most MAX_TEXT_VALUE bytes of the value are kept; later bytes are lost.
  // One byte more is collected so that finish() can tell a cut value and
  // cut it at a character boundary.
  void emit(std::string_view s) override {
    size_t room = MAX_TEXT_VALUE + 1 - std::min(MAX_TEXT_VALUE + 1, value.size());
    value.append(s.substr(0, std::min(room, s.size())));
  }
  void finish() { value.resize(sjis_fit(value, MAX_TEXT_VALUE)); }
  std::string value;
};

// Writes a file part to its temporary file, counting its bytes against what
// the whole request may upload (`budget`); past that it stops the input.
class FileSink : public Sink {
 public:
  FileSink(int fd, uint64_t& budget) : fd_(fd), budget_(budget) {}
  ~FileSink() override {
    if (fd_ >= 0) close(fd_);
  }
  bool stop() const override { return over_; }
  void emit(std::string_view s) override {
    if (over_ || s.size() > budget_) {
      over_ = true;
      return;
    }
    budget_ -= s.size();
    if (fd_ < 0) return;
    size_t done = 0;
    while (done < s.size()) {
      ssize_t n = write(fd_, s.data() + done, s.size() - done);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      done += static_cast<size_t>(n);
    }
  }

 private:
  int fd_;
  uint64_t& budget_;
  bool over_ = false;
};

// Passes input to `sink` up to the next separator, which is consumed.
// False when the input ends first.
bool until_separator(Input& in, const std::string& sep, Sink& sink) {
  std::string win;  // bytes that may still be the start of a separator
  for (;;) {
    std::string_view chunk = in.peek_chunk();
    if (chunk.empty()) {
      sink.feed(win);
      return false;
    }
    size_t before = win.size();
    win.append(chunk.data(), chunk.size());
    size_t hit = win.find(sep);
    if (hit != std::string::npos) {
      sink.feed(std::string_view(win).substr(0, hit));
      in.consume(hit + sep.size() - before);
      return true;
    }
    in.consume(chunk.size());
    size_t keep = std::min(win.size(), sep.size() - 1);
    sink.feed(std::string_view(win).substr(0, win.size() - keep));
    win.erase(0, win.size() - keep);
    if (sink.stop()) return false;
  }
}

// Reads one line (through its line feed); false at the end of input.
bool read_line(Input& in, std::string& line) {
  line.clear();
  int c;
  bool any = false;
  while ((c = in.get()) >= 0) {
    any = true;
    if (line.size() < MAX_HEADER_LINE) line += static_cast<char>(c);
    if (c == '\n') return true;
  }
  return any;
}

void get_0x0a(Input& in) {
  int c;
  while ((c = in.get()) >= 0 && c != '\n') {
  }
}

// The text after the character at `open` (the opening quote) up to the next
// quote or the line end. Sets `closed` when a quote ended it.
std::string quoted_after(const std::string& line, size_t open, bool& closed) {
  std::string out;
  closed = false;
  for (size_t i = open + 1; i < line.size(); i++) {
    char c = line[i];
    if (c == '"') {
      closed = true;
      break;
    }
    if (c == '\r' || c == '\n') break;
    if (out.size() < MAX_FIELD_NAME) out += c;
  }
  return out;
}

// Claims a fresh name "CGI<n>" atomically (O_EXCL) and returns its
// descriptor (or -1 when no file can be created; the name is still given).
// Numbers start at the process id times 1000, so simultaneous requests draw
// from ranges of their own and a claim costs one open; a name still taken
// (left by a dead process that had the same id) moves on to the next one.
int claim_temp(std::string& name) {
  static unsigned counter = 0;
  const unsigned long long base = static_cast<unsigned long long>(getpid()) * 1000;
  for (int tries = 0; tries < 1000; tries++) {
    name = "CGI" + std::to_string(base + counter++ % 1000);
    int fd = open(name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
      g_uploads.push_back(name);
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

// Decodes a multipart body into the list. -1 when the body uploads more
// than one request may (CGI_MAX_FILE_PARTS, CGI_MAX_FILE_BYTES); reading
// stops there and the caller drops everything.
int decode_multipart(const char* ctype) {
  // The boundary parameter: "boundary=" after the first character.
  const char* b = nullptr;
  for (const char* p = ctype + (ctype[0] ? 1 : 0); *p; p++) {
    if (strncasecmp(p, "boundary=", 9) == 0) {
      b = p + 9;
      break;
    }
  }
  if (!b) return 0;
  std::string boundary;
  for (const char* p = b; *p && *p != ']'; p++) boundary += *p;
  if (boundary.empty() || boundary.size() > MAX_BOUNDARY) return 0;
  const std::string sep = "--" + boundary;

  Input in;
  DropSink drop;
  if (!until_separator(in, sep, drop)) return 0;
  in.get();
  if (in.get() == '-') return 0;
  int file_parts = 0;
  uint64_t budget = CGI_MAX_FILE_BYTES;

  for (;;) {
    // Part headers: the line with name= gives the field name, and a
    // filename= on the same line makes it a file part.
    std::string line, name, filename;
    bool is_file = false, found = false;
    while (read_line(in, line)) {
      size_t at = line.find("name=");
      if (at == std::string::npos) continue;
      bool closed;
      name = quoted_after(line, at + 5, closed);
      size_t fat = line.find("filename=", at + 5);
      if (closed && fat != std::string::npos) {
        filename = quoted_after(line, fat + 9, closed);
        is_file = closed;
      }
      found = true;
      break;
    }
    if (!found) return 0;
    int c = in.get();
    if (c < 0) return 0;
    if (c == '\r') {
      get_0x0a(in);
    } else {
      get_0x0a(in);
      get_0x0a(in);
    }

    bool complete;
    if (!is_file) {
      TextSink text;
      complete = until_separator(in, sep, text);
      if (!complete) return 0;
      text.finish();
      add_entry(std::move(name), std::move(text.value));
    } else if (++file_parts > CGI_MAX_FILE_PARTS) {
      return -1;
    } else if (filename.empty()) {
      add_entry(std::move(name), std::string());
      complete = until_separator(in, sep, drop);
    } else {
      std::string tmp;
      int fd = claim_temp(tmp);
      add_entry(std::move(name), filename + "," + tmp);
      FileSink file(fd, budget);
      complete = until_separator(in, sep, file);
      if (file.stop()) return -1;
    }
    if (!complete) return 0;
    in.get();
    if (in.get() == '-') return 0;
  }
}

}  // namespace

int cgi_get() {
  reset_list();
  content_length = input_byte = 0;
  const char* method = getenv("REQUEST_METHOD");
  if (!method) return 0;
  if (strcasecmp(method, "GET") == 0) {
    const char* q = getenv("QUERY_STRING");
    if (q && *q) decode_urlencoded(q);
    return 0;
  }
  if (strcasecmp(method, "POST") != 0) return 0;
  const char* cl = getenv("CONTENT_LENGTH");
  long long len = cl ? strtoll(cl, nullptr, 10) : 0;
  if (len <= 0) return -2;
  content_length = len > 0xFFFFFFFFLL ? 0xFFFFFFFFu : static_cast<uint32_t>(len);
  const char* ctype = getenv("CONTENT_TYPE");
  if (!ctype) ctype = "";
  if (strcasecmp(ctype, "application/x-www-form-urlencoded") == 0) {
    if (content_length > CGI_MAX_URLENCODED) return -1;
    std::string body;
    body.resize(content_length);
    size_t got = 0;
    while (got < content_length) {
      ssize_t n = read(0, body.data() + got, content_length - got);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      got += static_cast<size_t>(n);
    }
    input_byte = static_cast<uint32_t>(got);
    body.resize(got);
    decode_urlencoded(std::move(body));
    return 0;
  }
  if (decode_multipart(ctype) < 0) {
    reset_list();
    remove_own_uploads();
    return -1;
  }
  return 0;
}

std::string cgi_value(const char* name, int n) {
  for (CGI_ENTRY* e = list; e && e->next; e = e->next) {
    if (e->name == name && n-- == 0) return e->value;
  }
  return std::string();
}

std::vector<std::string> cgi_values(const char* name) {
  std::vector<std::string> out;
  for (CGI_ENTRY* e = list; e && e->next; e = e->next)
    if (e->name == name) out.push_back(e->value);
  return out;
}

void cgi_getvalue(const char* name, int n, char* out, size_t size) {
  copy_text(out, size, cgi_value(name, n));
}

bool cgi_own_upload(std::string_view tmp) {
  for (const std::string& u : g_uploads)
    if (u == tmp) return true;
  return false;
}

namespace {
// Names the decoder gives its upload files: "CGI" and decimal digits, the
// three letters in any case. Other files of the working directory (the
// program itself, say) are never swept.
bool upload_name(const char* name) {
  if (strncasecmp(name, "CGI", 3) != 0 || !name[3]) return false;
  for (const char* p = name + 3; *p; p++)
    if (*p < '0' || *p > '9') return false;
  return true;
}
}  // namespace

void cgi_free() {
  free_list();
  remove_own_uploads();
  // Sweep upload files nobody has touched for an hour: those of processes
  // that ended before their own clean-up.
  time_t now = time(nullptr);
  DIR* d = opendir(".");
  if (!d) return;
  while (struct dirent* e = readdir(d)) {
    if (!upload_name(e->d_name)) continue;
    struct stat st;
    if (stat(e->d_name, &st) != 0) continue;
    if (!S_ISREG(st.st_mode)) continue;
    if (st.st_atime < now - 3600) unlink(e->d_name);
  }
  closedir(d);
}

int StrFind(std::string_view text, std::string_view pattern) {
  if (pattern.empty()) return -1;
  // A single byte that cannot be part of a two-byte character (a comma, a
  // line feed) is found in one walk over the characters.
  if (pattern.size() == 1 && static_cast<unsigned char>(pattern[0]) < 0x40) {
    for (size_t i = 0; i < text.size(); i += sjis_lead(static_cast<unsigned char>(text[i])) ? 2 : 1)
      if (text[i] == pattern[0]) return static_cast<int>(i);
    return -1;
  }
  // Byte matches are found with the library search; `at` steps through the
  // characters alongside, so the whole scan stays one pass over the text.
  size_t at = 0;
  for (size_t from = 0;;) {
    size_t c = text.find(pattern, from);
    if (c == std::string_view::npos) return -1;
    while (at < c) at += sjis_lead(static_cast<unsigned char>(text[at])) ? 2 : 1;
    if (at == c) {
      // The match must also end at a character boundary: a pattern that
      // stops after the first byte of a two-byte character does not match it.
      size_t end = c + pattern.size(), j = c;
      while (j < end) j += sjis_lead(static_cast<unsigned char>(text[j])) ? 2 : 1;
      if (j == end) return static_cast<int>(c);
    }
    from = c + 1;
  }
}

char* cut_filename(char* value, char* name_out, size_t name_size, char* tmp_out,
                   size_t tmp_size) {
  // Drop the directory part the browser may send (Windows or Unix style).
  size_t len = strlen(value);
  size_t slash = sjis_rfind(std::string_view(value, len), "\\/");
  if (slash != std::string_view::npos) memmove(value, value + slash + 1, len - slash);
  // The temporary name is after the last comma: it never holds one, while
  // the user's file name may.
  std::string_view v(value);
  size_t comma = sjis_rfind(v, ",");
  if (comma == std::string_view::npos) {
    copy_text(name_out, name_size, v);
    copy_text(tmp_out, tmp_size, "");
  } else {
    copy_text(name_out, name_size, v.substr(0, comma));
    copy_text(tmp_out, tmp_size, v.substr(comma + 1));
  }
  return tmp_out;
}
