// Form decoding in-process: CGI variables in the environment, the body on
// standard input, uploads into a throw-away working directory.
#include "cgi/cgilib.h"

#include "board.h"

namespace {

const std::string kBoundary = "xYzBoUnDaRy42";
const std::string kMultipart = "multipart/form-data; boundary=" + kBoundary;
const std::string kUrlEncoded = "application/x-www-form-urlencoded";

class Decode : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(chdir(dir_.path().c_str()), 0); }
  void TearDown() override {
    cgi_free();
    ASSERT_EQ(chdir("/"), 0);
  }
  int get(const std::string& query) {
    cgi_free();
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", query.c_str(), 1);
    return cgi_get();
  }
  // A POST; the announced length is the body's unless given.
  int post(const std::string& ctype, const std::string& body, std::string length = "") {
    cgi_free();
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", ctype.c_str(), 1);
    setenv("CONTENT_LENGTH", (length.empty() ? std::to_string(body.size()) : length).c_str(), 1);
    write_file_bytes(io_ / "stdin", body);
    int fd = open((io_ / "stdin").c_str(), O_RDONLY);  // the body becomes standard input
    dup2(fd, 0);
    close(fd);
    return cgi_get();
  }
  static Fields entries() {
    Fields out;
    for (CGI_ENTRY* e = list; e && e->next; e = e->next) out.emplace_back(e->name, e->value);
    return out;
  }
  TempDir dir_, io_;  // working directory, request bodies
};

// One part of a multipart body; a file part when `filename` is given.
std::string part(const std::string& name, const std::string& value,
                 const char* filename = nullptr) {
  std::string head = "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"";
  if (filename) head += "; filename=\"" + std::string(filename) + "\"\r\nContent-Type: x/y";
  return head + "\r\n\r\n" + value + "\r\n";
}
const std::string kClosing = "--" + kBoundary + "--\r\n";

TEST_F(Decode, QueryStrings) {
  const std::pair<std::string, Fields> cases[] = {
      {"a=1&b=&a=2", {{"a", "1"}, {"b", ""}, {"a", "2"}}},
      {"x&q=A+B%2B&eq=a%3Db=c&", {{"x", ""}, {"q", "A B+"}, {"eq", "a=b=c"}}},
      // A "%" without two hexadecimal digits stays as it is.
      {"a=100%&b=%zz%4&c=%&d=%%41", {{"a", "100%"}, {"b", "%zz%4"}, {"c", "%"}, {"d", "%A"}}},
      {"t=%82%A0%82%A2", {{"t", "\x82\xA0\x82\xA2"}}},
  };
  for (const auto& [query, want] : cases) {
    EXPECT_EQ(get(query), 0);
    EXPECT_EQ(entries(), want) << query;
  }
  EXPECT_EQ(cgi_value("t", 1), "");
  char out[4];  // a copy into a field is cut at a whole character
  cgi_getvalue("t", 0, out);
  EXPECT_STREQ(out, "\x82\xA0");
}

TEST_F(Decode, UrlEncodedBodies) {
  EXPECT_EQ(post(kUrlEncoded, "a=123&b=2", "5"), 0);  // read no further than announced
  EXPECT_EQ(entries(), (Fields{{"a", "123"}}));
  EXPECT_EQ(post(kUrlEncoded, "a=1", "0"), -2);
  EXPECT_EQ(post(kUrlEncoded, "a=1", "-5"), -2);
  EXPECT_TRUE(entries().empty());

  std::string body = "a=" + std::string(CGI_MAX_URLENCODED - 2, 'x');
  EXPECT_EQ(post(kUrlEncoded, body), 0);
  EXPECT_EQ(cgi_value("a").size(), CGI_MAX_URLENCODED - 2);
  EXPECT_EQ(post(kUrlEncoded, body + "y"), -1);
  EXPECT_TRUE(entries().empty());
}

TEST(ShiftJis, StrFindAndCutFilenameStepByCharacters) {
  const std::tuple<std::string, std::string, int> cases[] = {
      {"aab", "ab", 1}, {"abc", "", -1}, {"ab", "abc", -1},
      {"x\x82\xA0", "\x82\xA0", 1}, {"\x82\xA0\x82\xA0", "\xA0\x82", -1},
      // 0x95 0x5C is one character whose second byte is the backslash code.
      {"\x95\x5C", "\\", -1}, {"\x95\x5C\\", "\\", 2},
      // No match ending inside a two-byte character; half-width katakana are one byte.
      {"a\x82\xA0" "a\x82", "a\x82", -1}, {"\xB1,", ",", 1}};
  for (const auto& [text, pattern, at] : cases) EXPECT_EQ(StrFind(text, pattern), at) << text;

  // cut_filename splits the browser's file name and the temporary name.
  const std::tuple<std::string, size_t, std::string, std::string> names[] = {
      {"C:\\My Documents\\pic.jpg,CGI3", 256, "pic.jpg", "CGI3"},
      // Kanji whose second byte is 0x5C stay whole.
      {"D:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C.txt,CGI1", 256, "\x95\x5C.txt", "CGI1"},
      {"D:\\\x83\x5C\x83\x74\x83\x67,CGI2", 256, "\x83\x5C\x83\x74\x83\x67", "CGI2"},
      {"C:\\x\\a,b,c.txt,CGI5", 256, "a,b,c.txt", "CGI5"},  // commas in the user's name
      {"\x82\xA0\x82\xA0\x82\xA0\x82\xA0.txt,CGI0", 8, "\x82\xA0\x82\xA0\x82\xA0", "CGI0"},
  };
  for (auto [value, size, name, tmp] : names) {
    std::vector<char> out(size);
    char t[32];
    EXPECT_EQ(cut_filename(value.data(), out.data(), size, t, sizeof t), t);
    EXPECT_EQ(out.data() + ("," + std::string(t)), name + "," + tmp) << value;
  }
}

std::string tmp_of(const std::string& value) { return value.substr(value.rfind(',') + 1); }

TEST_F(Decode, MultipartBodies) {
  // Names still taken (by an earlier process of this id) are skipped.
  const unsigned long long base = static_cast<unsigned long long>(getpid()) * 1000;
  for (int i = 1; i < 1000; i++) write_file_bytes(dir_ / ("CGI" + std::to_string(base + i)), "old");
  std::string data1("bin\0ary\r\n--x\r\n", 14);
  std::string body = "preamble\r\n" + part("two", "\x82\xA0") + part("empty", "") +
                     part("lines", "a\r\n--b\r\n\r\n") + part("f1", data1, "C:\\d\\a.bin") +
                     part("none", "dropped", "") + part("after", "ok") + kClosing;
  EXPECT_EQ(post(kMultipart, body), 0);
  const std::string tmp = "CGI" + std::to_string(base);
  EXPECT_EQ(entries(), (Fields{{"two", "\x82\xA0"}, {"empty", ""}, {"lines", "a\r\n--b\r\n\r\n"},
                                {"f1", "C:\\d\\a.bin," + tmp}, {"none", ""}, {"after", "ok"}}));
  EXPECT_EQ(read_file_bytes(dir_ / tmp), data1);
  EXPECT_EQ(file_mode(dir_ / tmp), 0600);
  EXPECT_TRUE(cgi_own_upload(tmp));
  EXPECT_FALSE(cgi_own_upload("CGI" + std::to_string(base + 1)));
  // The request's end removes its own upload, nobody else's.
  cgi_free();
  EXPECT_FALSE(file_exists(dir_ / tmp));
  EXPECT_EQ(read_file_bytes(dir_ / ("CGI" + std::to_string(base + 999))), "old");

  // Without a boundary parameter nothing is read; its name in any case.
  EXPECT_EQ(post("multipart/form-data", part("a", "1") + kClosing), 0);
  EXPECT_TRUE(entries().empty());
  post("multipart/form-data; BOUNDARY=" + kBoundary, part("a", "1") + kClosing);
  EXPECT_EQ(entries(), (Fields{{"a", "1"}}));

  // A body cut short keeps the fields that were complete.
  body = part("a", "1") + part("c", "never ends") + kClosing;
  EXPECT_EQ(post(kMultipart, body, std::to_string(body.find("never") + 5)), 0);
  EXPECT_EQ(entries(), (Fields{{"a", "1"}}));
  // A text value is kept to 100000 bytes, cut before a split character.
  post(kMultipart,
       part("kanji", "a" + std::string(120000, '\x82')) + part("next", "ok") + kClosing);
  EXPECT_EQ(cgi_value("kanji"), "a" + std::string(99998, '\x82'));
  EXPECT_EQ(cgi_value("next"), "ok");
}

// Beyond 100 file parts or 64 MiB of files the whole body is refused, files made gone.
TEST_F(Decode, UploadsBeyondTheRequestLimitsAreRefused) {
  auto uploads = [&] { return files_named(dir_.path(), "CGI"); };
  std::string body;
  for (int i = 0; i < CGI_MAX_FILE_PARTS; i++) body += part("f", "x", "a.txt");
  EXPECT_EQ(post(kMultipart, body + part("t", "1") + kClosing), 0);
  EXPECT_EQ(entries().size(), 101u);
  EXPECT_EQ(uploads(), 100u);
  EXPECT_EQ(post(kMultipart, body + part("f", "", "") + kClosing), -1);
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(uploads(), 0u);

  const std::string big(CGI_MAX_FILE_BYTES / 2, 'b');
  body = part("f", big, "1.bin") + part("f", big, "2.bin");
  EXPECT_EQ(post(kMultipart, body + kClosing), 0);
  EXPECT_EQ(read_file_bytes(dir_ / tmp_of(cgi_value("f", 1))).size(), big.size());
  EXPECT_EQ(post(kMultipart, part("t", "1") + body + part("f", "!", "3.bin") + kClosing), -1);
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(uploads(), 0u);
}

TEST_F(Decode, FreeRemovesUploadFilesUntouchedForAnHour) {
  const std::tuple<const char*, int, bool> files[] = {
      {"CGI0", 7200, false}, {"cgi7", 3700, false}, {"CGI1", 3000, true},
      {"data.dat", 86400, true}};
  for (const auto& [name, age, kept] : files) {
    write_file_bytes(dir_ / name, "x");
    struct timespec t[2] = {{time(nullptr) - age, 0}, {0, UTIME_OMIT}};  // access time
    ASSERT_EQ(utimensat(AT_FDCWD, (dir_ / name).c_str(), t, 0), 0);
  }
  get("a=1");
  cgi_free();
  EXPECT_EQ(list, nullptr);
  for (const auto& [name, age, kept] : files) EXPECT_EQ(file_exists(dir_ / name), kept) << name;
}

}  // namespace
