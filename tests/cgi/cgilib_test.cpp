// Form decoding driven in-process: the CGI variables are set in the
// environment, the body is put on standard input, and the working directory
// is a throw-away one that receives the upload files.
#include "cgi/cgilib.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "site.h"

namespace {

using Entries = std::vector<std::pair<std::string, std::string>>;

const char* const kVars[] = {"REQUEST_METHOD", "QUERY_STRING", "CONTENT_LENGTH",
                             "CONTENT_TYPE"};
const std::string kBoundary = "xYzBoUnDaRy42";
const std::string kMultipart = "multipart/form-data; boundary=" + kBoundary;

class Decode : public ::testing::Test {
 protected:
  void SetUp() override {
    char buf[PATH_MAX];
    ASSERT_NE(getcwd(buf, sizeof buf), nullptr);
    old_cwd_ = buf;
    ASSERT_EQ(chdir(dir_.path().c_str()), 0);
    for (const char* v : kVars) unsetenv(v);
  }
  void TearDown() override {
    cgi_free();
    for (const char* v : kVars) unsetenv(v);
    ASSERT_EQ(chdir(old_cwd_.c_str()), 0);
  }

  int get(const std::string& query) {
    setenv("REQUEST_METHOD", "GET", 1);
    setenv("QUERY_STRING", query.c_str(), 1);
    return run("");
  }
  // A POST; the announced length is the body's unless given.
  int post(const std::string& ctype, const std::string& body,
           std::optional<std::string> length = std::nullopt) {
    setenv("REQUEST_METHOD", "POST", 1);
    setenv("CONTENT_TYPE", ctype.c_str(), 1);
    setenv("CONTENT_LENGTH", length ? length->c_str() : std::to_string(body.size()).c_str(), 1);
    return run(body);
  }
  int run(const std::string& body) {
    std::string in = io_ / "stdin";
    write_file_bytes(in, body);
    int saved = dup(0);
    int fd = open(in.c_str(), O_RDONLY);
    dup2(fd, 0);
    close(fd);
    int rc = cgi_get();
    dup2(saved, 0);
    close(saved);
    return rc;
  }

  static Entries entries() {
    Entries out;
    for (CGI_ENTRY* e = list; e && e->next; e = e->next) out.emplace_back(e->name, e->value);
    return out;
  }
  // Names of the upload files in the working directory, sorted.
  std::vector<std::string> temp_files() const {
    std::vector<std::string> out;
    for (int i = 0; i < 20; i++)
      if (file_exists(dir_ / ("CGI" + std::to_string(i)))) out.push_back("CGI" + std::to_string(i));
    return out;
  }

  TempDir dir_;  // working directory
  TempDir io_;   // request bodies
  std::string old_cwd_;
};

std::string part(const std::string& name, const std::string& value) {
  return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name + "\"\r\n\r\n" +
         value + "\r\n";
}
std::string file_part(const std::string& name, const std::string& filename,
                      const std::string& data) {
  return "--" + kBoundary + "\r\nContent-Disposition: form-data; name=\"" + name +
         "\"; filename=\"" + filename + "\"\r\nContent-Type: application/octet-stream\r\n\r\n" +
         data + "\r\n";
}
std::string closing() { return "--" + kBoundary + "--\r\n"; }

// ---- URL-encoded input ---------------------------------------------------

TEST_F(Decode, RepeatedEmptyAndValuelessFields) {
  EXPECT_EQ(get("a=1&b=&a=2"), 0);
  EXPECT_EQ(cgi_value("a", 0), "1");
  EXPECT_EQ(cgi_value("a", 1), "2");
  EXPECT_EQ(cgi_value("a", 2), "");
  EXPECT_EQ(cgi_value("b"), "");
  EXPECT_EQ(cgi_value("A"), "");  // names are case-sensitive
  cgi_free();

  get("x&y=1&");
  EXPECT_EQ(entries(), (Entries{{"x", ""}, {"y", "1"}}));
}

TEST_F(Decode, PlusAndPercentEscapes) {
  get("q=A+B%2B&%6e%41me=%41%6a&eq=a%3Db=c");
  EXPECT_EQ(cgi_value("q"), "A B+");    // "+" is a space, "%2B" a plus sign
  EXPECT_EQ(cgi_value("nAme"), "Aj");   // names are decoded too, either case of hex
  EXPECT_EQ(cgi_value("eq"), "a=b=c");  // only the first "=" splits
}

TEST_F(Decode, PercentWithoutTwoHexDigitsStays) {
  get("a=100%&b=%zz%4&c=%&d=%%41&e=%4g");
  EXPECT_EQ(cgi_value("a"), "100%");
  EXPECT_EQ(cgi_value("b"), "%zz%4");
  EXPECT_EQ(cgi_value("c"), "%");
  EXPECT_EQ(cgi_value("d"), "%A");
  EXPECT_EQ(cgi_value("e"), "%4g");
}

TEST_F(Decode, ShiftJisBytesKeptAndFieldOutputCutAtCharacter) {
  get("t=%82%A0%82%A2");
  EXPECT_EQ(cgi_value("t"), "\x82\xA0\x82\xA2");
  char out[4];
  cgi_getvalue("t", 0, out);  // room for 3 bytes: one whole character only
  EXPECT_STREQ(out, "\x82\xA0");
  cgi_getvalue("missing", 0, out);
  EXPECT_STREQ(out, "");
}

TEST_F(Decode, UrlEncodedPostReadsExactlyTheAnnouncedLength) {
  EXPECT_EQ(post("Application/X-WWW-Form-Urlencoded", "a=123&b=2", "5"), 0);
  EXPECT_EQ(entries(), (Entries{{"a", "123"}}));
  cgi_free();
  // A body shorter than announced keeps what arrived.
  EXPECT_EQ(post("application/x-www-form-urlencoded", "a=1&b=2", "100"), 0);
  EXPECT_EQ(entries(), (Entries{{"a", "1"}, {"b", "2"}}));
}

TEST_F(Decode, UrlEncodedBodyAboveEightMebibytesIsRefused) {
  std::string body = "a=" + std::string(CGI_MAX_URLENCODED - 2, 'x');
  EXPECT_EQ(post("application/x-www-form-urlencoded", body), 0);
  EXPECT_EQ(cgi_value("a").size(), CGI_MAX_URLENCODED - 2);
  cgi_free();

  EXPECT_EQ(post("application/x-www-form-urlencoded", body + "y"), -1);
  EXPECT_TRUE(entries().empty());
  EXPECT_EQ(cgi_value("a"), "");
}

TEST_F(Decode, NoInputCases) {
  EXPECT_EQ(post("application/x-www-form-urlencoded", "a=1", "0"), -2);
  EXPECT_TRUE(entries().empty());
  cgi_free();
  EXPECT_EQ(post("application/x-www-form-urlencoded", "a=1", "-5"), -2);
  EXPECT_TRUE(entries().empty());
  cgi_free();
  EXPECT_EQ(get(""), 0);
  EXPECT_TRUE(entries().empty());
  cgi_free();
  setenv("REQUEST_METHOD", "PUT", 1);
  setenv("QUERY_STRING", "a=1", 1);
  EXPECT_EQ(run(""), 0);
  EXPECT_TRUE(entries().empty());
  cgi_free();
  unsetenv("QUERY_STRING");
  setenv("REQUEST_METHOD", "get", 1);  // the method in any case
  setenv("QUERY_STRING", "a=1", 1);
  run("");
  EXPECT_EQ(cgi_value("a"), "1");
}

// ---- StrFind and cut_filename --------------------------------------------

TEST(StrFind, StepsByShiftJisCharacters) {
  EXPECT_EQ(StrFind("aab", "ab"), 1);
  EXPECT_EQ(StrFind("abc", ","), -1);
  EXPECT_EQ(StrFind("abc", ""), -1);
  EXPECT_EQ(StrFind("", "a"), -1);
  EXPECT_EQ(StrFind("ab", "abc"), -1);
  // 0x95 0x5C is one character whose second byte is the backslash code.
  EXPECT_EQ(StrFind("\x95\x5C", "\\"), -1);
  EXPECT_EQ(StrFind("\x95\x5C\\", "\\"), 2);
  EXPECT_EQ(StrFind("\x82\xA0\x82\xA0", "\xA0\x82"), -1);
  EXPECT_EQ(StrFind("x\x82\xA0", "\x82\xA0"), 1);
  // A pattern ending inside a two-byte character of the text does not match.
  EXPECT_EQ(StrFind("a\x82\xA0", "a\x82"), -1);
  EXPECT_EQ(StrFind("a\x82\xA0" "a\x82", "a\x82"), -1);
  // Half-width katakana are one byte.
  EXPECT_EQ(StrFind("\xB1,", ","), 1);
  EXPECT_EQ(StrFind(std::string_view("a\0,", 3), ","), 2);
}

std::pair<std::string, std::string> cut(const std::string& value, size_t name_size = 256) {
  std::vector<char> v(value.begin(), value.end());
  v.push_back('\0');
  std::vector<char> name(name_size);
  char tmp[32];
  char* r = cut_filename(v.data(), name.data(), name.size(), tmp, sizeof tmp);
  EXPECT_EQ(r, tmp);
  return {name.data(), tmp};
}

TEST(CutFilename, SplitsFileNameAndTemporaryName) {
  using P = std::pair<std::string, std::string>;
  EXPECT_EQ(cut("C:\\My Documents\\pic.jpg,CGI3"), P("pic.jpg", "CGI3"));
  EXPECT_EQ(cut("/home/u/notes.txt,CGI12"), P("notes.txt", "CGI12"));
  EXPECT_EQ(cut("plain.bin,CGI0"), P("plain.bin", "CGI0"));
  // Kanji whose second byte is 0x5C stay whole (ソフト, 表).
  EXPECT_EQ(cut("D:\\\x83\x5C\x83\x74\x83\x67\\\x95\x5C.txt,CGI1"), P("\x95\x5C.txt", "CGI1"));
  EXPECT_EQ(cut("D:\\\x83\x5C\x83\x74\x83\x67,CGI2"), P("\x83\x5C\x83\x74\x83\x67", "CGI2"));
  // The user's file name may hold commas; the temporary name never does.
  EXPECT_EQ(cut("C:\\x\\a,b,c.txt,CGI5"), P("a,b,c.txt", "CGI5"));
}

TEST(CutFilename, OutputIsCutAtCharacterBoundary) {
  EXPECT_EQ(cut("\x82\xA0\x82\xA0\x82\xA0\x82\xA0.txt,CGI0", 8).first, "\x82\xA0\x82\xA0\x82\xA0");
  EXPECT_EQ(cut("abcdefghij,CGI0", 8).first, "abcdefg");
}

// ---- Multipart input -----------------------------------------------------

TEST_F(Decode, MultipartTextFields) {
  std::string body = "preamble\r\n" + part("two", "\x82\xA0") + part("empty", "") +
                     part("JOB", "ROOM") + part("lines", "a\r\n--b\r\n\r\n") +
                     part("two", "second") + closing();
  EXPECT_EQ(post(kMultipart, body), 0);
  EXPECT_EQ(entries(), (Entries{{"two", "\x82\xA0"},
                                {"empty", ""},
                                {"JOB", "ROOM"},
                                {"lines", "a\r\n--b\r\n\r\n"},
                                {"two", "second"}}));
  EXPECT_TRUE(temp_files().empty());
}

TEST_F(Decode, MultipartBoundaryParameter) {
  std::string body = part("a", "1") + closing();
  EXPECT_EQ(post("multipart/form-data", body), 0);
  EXPECT_TRUE(entries().empty());
  cgi_free();
  // The parameter name in any case; a "]" ends the boundary.
  post("multipart/form-data; BOUNDARY=" + kBoundary + "]", body);
  EXPECT_EQ(entries(), (Entries{{"a", "1"}}));
  cgi_free();
  // A body that is only the closing separator holds no parts.
  post(kMultipart, closing());
  EXPECT_TRUE(entries().empty());
}

TEST_F(Decode, FilePartsGoToTemporaryFiles) {
  std::string data1("bin\0ary\r\n--x\r\n", 14), data2 = "second file";
  std::string body = part("JOB", "W") + file_part("f1", "C:\\dir\\a.bin", data1) +
                     file_part("none", "", "dropped") + file_part("f2", "b.txt", data2) +
                     part("after", "ok") + closing();
  EXPECT_EQ(post(kMultipart, body), 0);
  EXPECT_EQ(entries(), (Entries{{"JOB", "W"},
                                {"f1", "C:\\dir\\a.bin,CGI0"},
                                {"none", ""},
                                {"f2", "b.txt,CGI1"},
                                {"after", "ok"}}));
  // No file chosen: no temporary file for it.
  EXPECT_EQ(temp_files(), (std::vector<std::string>{"CGI0", "CGI1"}));
  EXPECT_EQ(read_file_bytes(dir_ / "CGI0"), data1);
  EXPECT_EQ(read_file_bytes(dir_ / "CGI1"), data2);
  EXPECT_EQ(file_mode(dir_ / "CGI0"), 0600);
}

TEST_F(Decode, TemporaryNameSkipsExistingFiles) {
  write_file_bytes(dir_ / "CGI0", "someone else's upload");
  write_file_bytes(dir_ / "CGI2", "another");
  std::string body = file_part("f", "a", "AAA") + file_part("g", "b", "BBB") + closing();
  post(kMultipart, body);
  EXPECT_EQ(cgi_value("f"), "a,CGI1");
  EXPECT_EQ(cgi_value("g"), "b,CGI3");
  EXPECT_EQ(read_file_bytes(dir_ / "CGI0"), "someone else's upload");
  EXPECT_EQ(read_file_bytes(dir_ / "CGI1"), "AAA");
  EXPECT_EQ(read_file_bytes(dir_ / "CGI2"), "another");
  EXPECT_EQ(read_file_bytes(dir_ / "CGI3"), "BBB");
}

TEST_F(Decode, TruncatedBodyKeepsCompleteFields) {
  std::string body = part("a", "1") + part("b", "complete") + part("c", "never ends") + closing();
  size_t cut_at = body.find("never") + 5;
  // Cut by the announced length, and cut by the input ending early.
  EXPECT_EQ(post(kMultipart, body, std::to_string(cut_at)), 0);
  EXPECT_EQ(entries(), (Entries{{"a", "1"}, {"b", "complete"}}));
  cgi_free();
  EXPECT_EQ(post(kMultipart, body.substr(0, cut_at), std::to_string(body.size())), 0);
  EXPECT_EQ(entries(), (Entries{{"a", "1"}, {"b", "complete"}}));
  cgi_free();
  // Cut inside a part's headers.
  post(kMultipart, part("a", "1") + "--" + kBoundary + "\r\nContent-Disp");
  EXPECT_EQ(entries(), (Entries{{"a", "1"}}));
}

TEST_F(Decode, LongTextValueIsCut) {
  std::string exact(100000, 'e');
  std::string body = part("exact", exact) + part("long", std::string(150000, 'x')) +
                     part("kanji", "a" + std::string(120000, '\x82')) + part("next", "ok") +
                     closing();
  post(kMultipart, body);
  EXPECT_EQ(cgi_value("exact"), exact);
  EXPECT_EQ(cgi_value("long"), std::string(100000, 'x'));
  // 0x82 0x82 ... pairs: a cut at 100000 would split a character.
  std::string kanji = cgi_value("kanji");
  EXPECT_EQ(kanji.size(), 99999u);
  EXPECT_EQ(kanji.substr(0, 3), "a\x82\x82");
  EXPECT_EQ(cgi_value("next"), "ok");
}

// ---- Sweep of stale upload files ----------------------------------------

void age(const std::string& path, int seconds) {
  struct timespec t[2];
  t[0].tv_sec = time(nullptr) - seconds;  // access time
  t[0].tv_nsec = 0;
  t[1].tv_sec = 0;
  t[1].tv_nsec = UTIME_OMIT;
  ASSERT_EQ(utimensat(AT_FDCWD, path.c_str(), t, 0), 0);
}

TEST_F(Decode, FreeRemovesUploadFilesUntouchedForAnHour) {
  for (const char* n : {"CGI0", "cgi7", "CGIold", "CGI1", "CGI2", "data.dat"})
    write_file_bytes(dir_ / n, "x");
  age(dir_ / "CGI0", 7200);
  age(dir_ / "cgi7", 3700);
  age(dir_ / "CGIold", 86400);
  age(dir_ / "CGI1", 3000);
  age(dir_ / "data.dat", 86400);
  get("a=1");
  cgi_free();
  EXPECT_EQ(list, nullptr);
  EXPECT_FALSE(file_exists(dir_ / "CGI0"));
  EXPECT_FALSE(file_exists(dir_ / "cgi7"));
  EXPECT_FALSE(file_exists(dir_ / "CGIold"));
  EXPECT_TRUE(file_exists(dir_ / "CGI1"));
  EXPECT_TRUE(file_exists(dir_ / "CGI2"));
  EXPECT_TRUE(file_exists(dir_ / "data.dat"));
  EXPECT_EQ(cgi_value("a"), "");
}

}  // namespace
