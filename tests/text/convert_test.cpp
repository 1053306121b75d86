// Message text conversions, their Shift_JIS stepping, and results cut to the buffer.
#include "text/convert.h"
#include "board.h"

namespace {

using sv = std::string_view;

// A conversion's in-place form (CONV_BUFF_SIZE bytes) and string form, which agree.
struct Conv {
  const char* name;
  void (*in_place)(char*);
  std::string (*whole)(sv);
};
#define CONV(F, ...) \
  Conv { #F, [](char* b) { F(b __VA_ARGS__); }, [](sv t) { return F(t __VA_ARGS__); } }
const Conv kCr = CONV(CrLf_to_Cr), kBr = CONV(CrLf_to_BR), kBlue = CONV(Add_Blue, , "0000FF"),
           kHref = CONV(Add_a_href), kHtml = CONV(HtmlConvert), kRes = CONV(Add_Res),
           kTrim = CONV(TrimRight), kBold = CONV(Add_Bold, , "ab"), kBrCr = CONV(BR_to_CrLf),
           kQuart = CONV(AddQuart), kGroup = CONV(ketadori);

std::string run(const Conv& c, sv in) {
  std::vector<char> buf(CONV_BUFF_SIZE, '\0');
  memcpy(buf.data(), in.data(), in.size());
  c.in_place(buf.data());
  std::string r = c.whole(in);
  EXPECT_EQ(std::string(buf.data()), r) << c.name << ": in-place and string forms differ";
  return r;
}

const std::string OPEN = "<FONT COLOR=\"#0000FF\">";
const std::string A = "<A HREF=\"";

TEST(Convert, Cases) {
  const struct {
    const Conv& conv;
    std::string in, want;
  } cases[] = {
      {kCr, "a\r\nb\r\n\r\nc", "a\rb\r\rc"}, {kBr, "a\rb\r", "a<BR>\nb<BR>\n"},
      {kBrCr, "a<BR>b<br>", "a\rb<br>"},
      // Quoted lines and the empty lines between them share one colour.
      {kBlue, "> a\r> b\r\r> c\rplain", OPEN + "> a\r> b\r\r> c\r</FONT>plain"},
      {kBlue, "a > b\r>c\r\x82\xA0", "a > b\r" + OPEN + ">c\r</FONT>\x82\xA0"},
      // Addresses stop at a blank, "<", ">", a comma or a two-byte character.
      {kHref, "http://a\x82\xA0", A + "http://a\">http://a</A>\x82\xA0"},
      {kHref, "http://a<b>x", A + "http://a\">http://a</A><b>x"},
      {kHref, "Http://x HTTP:/x", "Http://x HTTP:/x"},
      {kHref, "mailto:me@x.y, MAILTO:a@b",
       A + "mailto:me@x.y\">me@x.y</A>, " + A + "MAILTO:a@b\">a@b</A>"},
      // The user's own links and images are not linked again.
      {kHref, "<a href=\"http://x\">http://x</a> http://y",
       "<a href=\"http://x\">http://x</A> " + A + "http://y\">http://y</A>"},
      {kHref, "<IMG SRC=\"http://x/p.gif\">", "<IMG SRC=\"http://x/p.gif\">"},
      {kHtml, "<TABLE BORDER=1><TR><TD>x</TD></TR></TABLE><META a><HTML></HTML>",
       "&lt;TABLE BORDER=1>&lt;TR>&lt;TD>x&lt;/TD>&lt;/TR>&lt;/TABLE>"
       "&lt;META a>&lt;HTML>&lt;/HTML>"},
      {kRes, "a\r\n\r\nb\nc", ">a\r>\r>b\r>c"},
      {kTrim, "a\t  ", "a\t"}, {kBold, "abcab", "<B>ab</B>c<B>ab</B>"}, {kQuart, "it's", "it''s"},
{kGroup, "-1234567", "-1,234,567"},
      {kGroup, "2147483647", "2,147,483,647"}};
  for (const auto& c : cases) EXPECT_EQ(run(c.conv, c.in), c.want) << c.conv.name << ": " << c.in;
}

TEST(Convert, ShiftJisSecondBytesAreNeverDelimiters) {
  // Second bytes "\", "|", "@", "~" and delimiters the conversions look for.
  const std::string texts[] = {"\x83\x5C\x95\x5C", "\x83\x7C\x81\x40\x83\x7E", "\x81<TABLE>",
                               "\x81\rX", "\x81'", "\x88http://x", "\xE0>", "\x81 "};
  for (const std::string& t : texts) {
    for (const Conv* c : {&kCr, &kBr, &kBlue, &kHref, &kHtml, &kBrCr, &kQuart, &kTrim})
      EXPECT_EQ(run(*c, t), t) << c->name;
    EXPECT_EQ(run(kRes, t), ">" + t);
  }
  EXPECT_EQ(run(kHtml, "\xDF<TABLE>"), "\xDF&lt;TABLE>");  // one-byte katakana
}

// Runs `f` on `text` in a buffer of `size` bytes followed by untouched guard bytes.
std::string cut(const std::function<void(char*, size_t)>& f, sv text, size_t size) {
  std::vector<char> mem(size + 64, '\x5A');
  std::fill_n(mem.begin(), size, '\0');
  memcpy(mem.data(), text.data(), std::min(text.size(), size - 1));
  f(mem.data(), size);
  EXPECT_LT(strnlen(mem.data(), size), size) << "no terminator";
  EXPECT_TRUE(std::all_of(mem.begin() + size, mem.end(), [](char c) { return c == '\x5A'; }));
  return std::string(mem.data(), strnlen(mem.data(), size));
}

std::string repeat(sv piece, size_t times) { std::string r; while (times--) r += piece; return r; }

TEST(Bounded, CutsWithoutOverrunAndKeepAddedMarkupWhole) {
  const std::pair<const Conv&, std::string> cases[] = {
      {kHtml, repeat("<TABLE", 16666)}, {kHref, repeat("http://a ", 11111)},
      {kRes, repeat("\r", 99999)},      {kQuart, repeat("'", 99999)},
      {kBold, repeat("ab", 49999)},     {kBlue, repeat(">\rx\r", 24999)}};
  for (const auto& [c, text] : cases) {
    SCOPED_TRACE(c.name);
    std::string got = cut([&c](char* b, size_t) { c.in_place(b); }, text, CONV_BUFF_SIZE);
    // Cut between two pieces of the uncut result, near the end of the buffer.
    EXPECT_GE(got.size(), CONV_BR_LIMIT);
    EXPECT_EQ(c.whole(text).compare(0, got.size(), got), 0);
  }
  // The colour element stays closed; entities and two-byte characters are never split.
  EXPECT_EQ(cut([](char* b, size_t n) { Add_Blue(b, "0000FF", n); }, "> quoted text", 40),
            OPEN + "> quoted t</FONT>");
  EXPECT_EQ(cut([](char* b, size_t n) { HtmlConvert(b, n); }, "<TABLE<TABLE", 8), "&lt;TAB");
  EXPECT_EQ(cut([](char* b, size_t n) { Add_Res(b, n); }, repeat("\x82\xA0", 3), 7),
            ">" + repeat("\x82\xA0", 2));
  char url[9];
  get_url("http://a.b,c", url, sizeof url);
  EXPECT_STREQ(url, "http://a");
}

}  // namespace

namespace {

// Long texts are read sixteen bytes at a time: a two-byte character may cross
// into the next block, and its second byte may look like a line end, "<" or ":".
TEST(Convert, TwoByteCharactersAcrossBlocks) {
  const std::string pad(15, 'a'), pairs = repeat("\x81\x81", 8);
  for (const std::string& t : {pad + "\x81\rb" + pad, pad.substr(3) + "\x81\r\x81<\x81:" + pad,
                               repeat("\x81", 17) + "\r" + pad, pad + pad + "\x88http://x"})
    for (const Conv* c : {&kBr, &kBlue, &kHref}) EXPECT_EQ(run(*c, t), t) << c->name;
  EXPECT_EQ(run(kHref, pairs + "http://x"), pairs + A + "http://x\">http://x</A>");
  EXPECT_EQ(run(kBr, pad + "\r" + pad), pad + "<BR>\n" + pad);
}

size_t count(sv s, sv piece) {
  size_t n = 0;
  for (size_t at = s.find(piece); at != sv::npos; at = s.find(piece, at + 1)) n++;
  return n;
}

// A body whose result is cut at any buffer size that holds the body: the cut
// result is the start of the uncut one, with added mark-up whole and a colour
// element opened in it closed.
TEST(Bounded, EveryCutOfABodyKeepsMarkupWhole) {
  const std::string text = "ab\r> q\x82\xA0uoted line\r\r>more\rplain http://x.y/z\r\n" + repeat("t", 20);
  for (const Conv* c : {&kBr, &kBlue, &kHref}) {
    const std::string whole = c->whole(text);
    for (size_t size = text.size() + 1; size <= whole.size() + 1; size++) {
      std::string got = cut([c](char* b, size_t n) {
        if (c == &kBr) CrLf_to_BR(b, n);
        else if (c == &kBlue) Add_Blue(b, "0000FF", n);
        else Add_a_href(b, n);
      }, text, size);
      EXPECT_EQ(count(got, OPEN), count(got, "</FONT>")) << c->name << size;
      EXPECT_EQ(count(got, A), count(got, "</A>")) << c->name << size;
      if (count(got, OPEN) > count(whole.substr(0, got.size()), "</FONT>")) got.resize(got.size() - 7);
      EXPECT_EQ(whole.compare(0, got.size(), got), 0) << c->name << size;
      EXPECT_EQ(std::string(whole_chars(got)), got) << c->name << size;
    }
  }
}

}  // namespace
