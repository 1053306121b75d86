// Message text conversions: line ends, quote colouring, linking, tag
// neutralising, reply quoting, digit grouping and the small helpers; the
// Shift_JIS stepping they share; and results cut to the caller's buffer.
#include "text/convert.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <string_view>
#include <vector>

namespace {

using sv = std::string_view;
using namespace std::string_literals;

// Runs the in-place form in a buffer of CONV_BUFF_SIZE bytes and the
// std::string form on the same text; both must agree.
template <typename InPlace, typename Returning>
std::string both(sv in, InPlace in_place, Returning returning) {
  std::vector<char> buf(CONV_BUFF_SIZE, '\0');
  memcpy(buf.data(), in.data(), in.size());
  in_place(buf.data());
  std::string r = returning(in);
  EXPECT_EQ(std::string(buf.data()), r) << "in-place and string forms differ";
  return r;
}

std::string to_cr(sv s) {
  return both(s, [](char* b) { CrLf_to_Cr(b); }, [](sv t) { return CrLf_to_Cr(t); });
}
std::string to_br(sv s) {
  return both(s, [](char* b) { CrLf_to_BR(b); }, [](sv t) { return CrLf_to_BR(t); });
}
std::string blue(sv s, const char* color = "0000FF") {
  return both(s, [color](char* b) { Add_Blue(b, color); },
              [color](sv t) { return Add_Blue(t, color); });
}
std::string href(sv s) {
  return both(s, [](char* b) { Add_a_href(b); }, [](sv t) { return Add_a_href(t); });
}
std::string neutral(sv s) {
  return both(s, [](char* b) { HtmlConvert(b); }, [](sv t) { return HtmlConvert(t); });
}
std::string res(sv s) {
  return both(s, [](char* b) { Add_Res(b); }, [](sv t) { return Add_Res(t); });
}
std::string trim(sv s) {
  return both(s, [](char* b) { TrimRight(b); }, [](sv t) { return TrimRight(t); });
}
std::string bold(sv s, const char* word) {
  return both(s, [word](char* b) { Add_Bold(b, word); },
              [word](sv t) { return Add_Bold(t, word); });
}
std::string br_to_cr(sv s) {
  return both(s, [](char* b) { BR_to_CrLf(b); }, [](sv t) { return BR_to_CrLf(t); });
}
std::string quart(sv s) {
  return both(s, [](char* b) { AddQuart(b); }, [](sv t) { return AddQuart(t); });
}
std::string group(const char* s) {
  char buf[32] = {0};
  strcpy(buf, s);
  EXPECT_EQ(ketadori(buf), buf);
  EXPECT_EQ(std::string(buf), ketadori(sv(s)));
  return buf;
}

const std::string OPEN = "<FONT COLOR=\"#0000FF\">";

// A buffer of `size` bytes followed by guard bytes that must stay untouched.
struct Guarded {
  static constexpr size_t GUARD = 64;
  std::vector<char> mem;
  size_t size;
  Guarded(sv text, size_t size) : mem(size + GUARD, '\x5A'), size(size) {
    memset(mem.data(), 0, size);
    memcpy(mem.data(), text.data(), std::min(text.size(), size - 1));
  }
  char* data() { return mem.data(); }
  std::string text() const { return std::string(mem.data(), strnlen(mem.data(), size)); }
  bool intact() const {
    if (strnlen(mem.data(), size) == size) return false;  // no terminator
    for (size_t i = size; i < mem.size(); i++)
      if (mem[i] != '\x5A') return false;
    return true;
  }
};

std::string repeat(sv piece, size_t times) {
  std::string r;
  for (size_t i = 0; i < times; i++) r += piece;
  return r;
}

size_t count(const std::string& s, sv what) {
  size_t n = 0;
  for (size_t p = s.find(what); p != std::string::npos; p = s.find(what, p + 1)) n++;
  return n;
}

TEST(LineEnds, StoredWithCrShownWithBreaks) {
  EXPECT_EQ(to_cr("a\r\nb\r\n\r\nc"), "a\rb\r\rc");
  EXPECT_EQ(to_cr("a\rb"), "a\rb");
  EXPECT_EQ(to_br(to_cr("a\r\nb\r\n")), "a<BR>\nb<BR>\n");
  EXPECT_EQ(to_br("a\r\nb\n"), "a<BR>\nb");
  EXPECT_EQ(br_to_cr("a<BR>b<br><BR"), "a\rb<br><BR");
  for (auto f : {to_cr, to_br, neutral, res, trim, br_to_cr, quart, href})
    EXPECT_EQ(f(""), "");
}

TEST(LineEnds, BreaksStopAtTheLengthLimit) {
  // The line end that brings the result to the limit is the last thing read.
  std::string body(CONV_BR_LIMIT - 2, 'x');
  EXPECT_EQ(to_br(body + "\rmore"), body + "<BR>\n");
  std::string longer(CONV_BR_LIMIT + 50, 'x');
  EXPECT_EQ(to_br(longer), std::string(CONV_BR_LIMIT, 'x'));
}

TEST(ShiftJis, SecondBytesAreNeverDelimiters) {
  // Real characters whose second byte is "\", "|", "@" or "~", and pairs
  // whose second byte equals a delimiter the conversions look for.
  const std::string texts[] = {
      "\x83\x5C\x95\x5C\x94\x5C", "\x83\x7C\x81\x40\x83\x7E", "\x81<TABLE>",
      "\x81\rX",                   "\x81\nX",                  "\x81'",
      "\x88http://x",              "\xA0<TD>",                 "\x7F<BR>",
      "\xE0>",                     "\x81 "};
  for (const std::string& t : texts) {
    EXPECT_EQ(to_cr(t), t);
    EXPECT_EQ(to_br(t), t);
    EXPECT_EQ(blue(t), t);
    EXPECT_EQ(href(t), t);
    EXPECT_EQ(neutral(t), t);
    EXPECT_EQ(br_to_cr(t), t);
    EXPECT_EQ(quart(t), t);
    EXPECT_EQ(trim(t), t);
    EXPECT_EQ(res(t), ">" + t);
  }
  // One-byte katakana are characters of their own.
  EXPECT_EQ(neutral("\xDF<TABLE>"), "\xDF&lt;TABLE>");
  EXPECT_EQ(bold("\x83\x5C\\", "\\"), "\x83\x5C<B>\\</B>");
  // A first byte standing last ends the text.
  EXPECT_EQ(to_br("ab\x82"), "ab");
  EXPECT_EQ(neutral("ab\x82"), "ab");
}

TEST(AddBlue, QuotedRunsShareOneColour) {
  EXPECT_EQ(blue("> a\r> b\r\r> c\rplain"),
            OPEN + "> a\r> b\r\r> c\r</FONT>plain");
  EXPECT_EQ(blue("x\r> q"), "x\r" + OPEN + "> q</FONT>");
  EXPECT_EQ(blue(">q", "FF0000"), "<FONT COLOR=\"#FF0000\">>q</FONT>");
  EXPECT_EQ(blue("a > b\r>c\rd"), "a > b\r" + OPEN + ">c\r</FONT>d");
  // A two-byte character at the start of the next line closes the run.
  EXPECT_EQ(blue("> q\r\x82\xA0"), OPEN + "> q\r</FONT>\x82\xA0");
  // Text that still has CR LF or LF line ends is coloured line by line too.
  EXPECT_EQ(blue("> a\r\n> b\r\n\r\nc"), OPEN + "> a\r\n> b\r\n\r\n</FONT>c");
  EXPECT_EQ(blue("> a\n> b\nc"), OPEN + "> a\n> b\n</FONT>c");
}

TEST(AddAHref, WebAddresses) {
  EXPECT_EQ(href("see http://a.b/c?d=1,next"),
            "see <A HREF=\"http://a.b/c?d=1\">http://a.b/c?d=1</A>,next");
  EXPECT_EQ(href("HTTPS://x/y"), "<A HREF=\"HTTPS://x/y\">HTTPS://x/y</A>");
  EXPECT_EQ(href("xhttps://q"), "x<A HREF=\"https://q\">https://q</A>");
  EXPECT_EQ(href("Http://x HTTP:/x"), "Http://x HTTP:/x");
  // Each terminator ends the address; quotes and katakana belong to it.
  for (std::string end : {" z", "<z", ">z", "\rz", "\nz", "\x82\xA0"})
    EXPECT_EQ(href("http://a" + end), "<A HREF=\"http://a\">http://a</A>" + end);
  EXPECT_EQ(href("http://a'\"\xB1"), "<A HREF=\"http://a'\"\xB1\">http://a'\"\xB1</A>");
  EXPECT_EQ(get_url("http://a.b,c"), "http://a.b");
  char out[9];
  get_url("http://a.b,c", out, sizeof out);
  EXPECT_STREQ(out, "http://a");
}

TEST(AddAHref, MailAddressesKeepThePrefixInTheTargetOnly) {
  EXPECT_EQ(href("mailto:me@x.y, MAILTO:a@b"),
            "<A HREF=\"mailto:me@x.y\">me@x.y</A>, <A HREF=\"MAILTO:a@b\">a@b</A>");
}

TEST(AddAHref, UsersOwnLinksAndImagesAreNotLinkedAgain) {
  EXPECT_EQ(href("<a href=\"http://x\">http://x</a> http://y"),
            "<a href=\"http://x\">http://x</A> <A HREF=\"http://y\">http://y</A>");
  EXPECT_EQ(href("<A HREF=\"http://x\">http://x"), "<A HREF=\"http://x\">http://x");
  EXPECT_EQ(href("<IMG SRC=\"http://x/p.gif\">http://y"),
            "<IMG SRC=\"http://x/p.gif\"><A HREF=\"http://y\">http://y</A>");
  EXPECT_EQ(href("<img src=http://x"), "<img src=http://x");
  // The closing tag is found by characters, not inside a two-byte one.
  EXPECT_EQ(href("<a href=x>\x81</a>http://z</a>"), "<a href=x>\x81</a>http://z</A>");
}

TEST(HtmlConvert, OnlyCapitalStructuralTagsAreNeutralised) {
  EXPECT_EQ(neutral("<TABLE BORDER=1><TR><TD>x</TD></TR></TABLE>"),
            "&lt;TABLE BORDER=1>&lt;TR>&lt;TD>x&lt;/TD>&lt;/TR>&lt;/TABLE>");
  EXPECT_EQ(neutral("<META a><HTML></HTML>"), "&lt;META a>&lt;HTML>&lt;/HTML>");
  const std::string kept = "<table><Table><TH><FONT COLOR=red><B>b</B><BR>\n<A HREF=x>";
  EXPECT_EQ(neutral(kept), kept);
}

TEST(HtmlConvert, PlainBodyThroughTheWholeDisplayChain) {
  std::string body = to_cr("> q\r\n\r\n> r\r\nsee http://x/a,b\r\n<TABLE>");
  body = neutral(to_br(href(blue(body))));
  EXPECT_EQ(body, OPEN + "> q<BR>\n<BR>\n> r<BR>\n</FONT>see "
                  "<A HREF=\"http://x/a\">http://x/a</A>,b<BR>\n&lt;TABLE>");
}

TEST(AddRes, EveryLineIsQuoted) {
  EXPECT_EQ(res("a\r\rb"), ">a\r>\r>b");
  EXPECT_EQ(res("a\r\n\r\nb"), ">a\r>\r>b");
  EXPECT_EQ(res("a\n\nb"), ">a\r>\r>b");
  EXPECT_EQ(res("a\r"), ">a\r");
  EXPECT_EQ(res("\x82\xA0\r\xB1"), ">\x82\xA0\r>\xB1");
}

TEST(Ketadori, DigitGrouping) {
  EXPECT_EQ(group("0"), "0");
  EXPECT_EQ(group("999"), "999");
  EXPECT_EQ(group("1000"), "1,000");
  EXPECT_EQ(group("1000000"), "1,000,000");
  EXPECT_EQ(group("2147483647"), "2,147,483,647");
  EXPECT_EQ(group("-1234567"), "-1,234,567");
  EXPECT_EQ(group(" 0012345"), "12,345");
  EXPECT_EQ(group(""), "");
  EXPECT_EQ(group("abc"), "abc");
  // The one-argument form fits the largest 32-bit value in 14 bytes.
  char max[KETADORI_SIZE] = "4294967295";
  EXPECT_STREQ(ketadori(max), "4,294,967,295");
  // A result that does not fit leaves the plain digits.
  char small[5] = "1000";
  EXPECT_STREQ(ketadori(small, sizeof small), "1000");
}

TEST(SmallHelpers, TrimBoldAndQuotes) {
  EXPECT_EQ(trim("a b  "), "a b");
  EXPECT_EQ(trim("a\t "), "a\t");
  EXPECT_EQ(trim("   "), "");
  EXPECT_EQ(bold("abcab abx", "ab"), "<B>ab</B>c<B>ab</B> <B>ab</B>x");
  EXPECT_EQ(bold("wor word", "word"), "wor <B>word</B>");
  EXPECT_EQ(bold("abc", ""), "abc");
  EXPECT_EQ(quart("it's 'x'"), "it''s ''x''");
}

TEST(Bounded, FullSizeBodiesAreCutWithoutOverrun) {
  struct Case {
    const char* name;
    std::string text;
    void (*in_place)(char*);
    std::string (*whole)(sv);
  };
  const Case cases[] = {
      {"HtmlConvert", repeat("<TABLE", 16666), [](char* b) { HtmlConvert(b); },
       [](sv t) { return HtmlConvert(t); }},
      {"Add_a_href", repeat("http://a ", 11111), [](char* b) { Add_a_href(b); },
       [](sv t) { return Add_a_href(t); }},
      {"Add_Res", repeat("\r", 99999), [](char* b) { Add_Res(b); },
       [](sv t) { return Add_Res(t); }},
      {"AddQuart", repeat("'", 99999), [](char* b) { AddQuart(b); },
       [](sv t) { return AddQuart(t); }},
      {"Add_Bold", repeat("w", 99999), [](char* b) { Add_Bold(b, "w"); },
       [](sv t) { return Add_Bold(t, "w"); }},
      {"CrLf_to_BR", repeat("\r", 99999), [](char* b) { CrLf_to_BR(b); },
       [](sv t) { return CrLf_to_BR(t); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Guarded buf(c.text, CONV_BUFF_SIZE);
    c.in_place(buf.data());
    ASSERT_TRUE(buf.intact());
    std::string got = buf.text();
    EXPECT_GE(got.size(), CONV_BR_LIMIT);
    // Cut between two pieces of the uncut result.
    std::string whole = c.whole(c.text);
    EXPECT_EQ(whole.compare(0, got.size(), got), 0);
    if (whole.size() > got.size()) {
      EXPECT_GT(got.size() + 32, CONV_BUFF_SIZE);
    }
  }
}

TEST(Bounded, CutsKeepAddedMarkupWhole) {
  // The colour element stays closed however little room is left.
  Guarded q("> quoted text", 40);
  Add_Blue(q.data(), "0000FF", q.size);
  EXPECT_TRUE(q.intact());
  EXPECT_EQ(q.text(), OPEN + "> quoted t</FONT>");
  Guarded none("> quoted text", 20);
  Add_Blue(none.data(), "0000FF", none.size);
  EXPECT_EQ(none.text(), "");

  // Many quoted runs: every opened element is closed.
  Guarded runs(repeat(">\rx\r", 24999), CONV_BUFF_SIZE);
  Add_Blue(runs.data(), "0000FF");
  ASSERT_TRUE(runs.intact());
  std::string r = runs.text();
  EXPECT_EQ(count(r, "<FONT"), count(r, "</FONT>"));
  EXPECT_GT(r.size() + 40, CONV_BUFF_SIZE);

  // A link that does not fit is left out rather than cut.
  Guarded link("ab http://example.com/x", 30);
  Add_a_href(link.data(), link.size);
  EXPECT_EQ(link.text(), "ab ");

  // Entities, doubled quotes and line breaks are never split.
  Guarded lt("<TABLE<TABLE", 8);
  HtmlConvert(lt.data(), lt.size);
  EXPECT_EQ(lt.text(), "&lt;TAB");
  Guarded qq("a''", 4);
  AddQuart(qq.data(), qq.size);
  EXPECT_EQ(qq.text(), "a''");
  Guarded brk("ab\rc", 6);
  CrLf_to_BR(brk.data(), brk.size);
  EXPECT_EQ(brk.text(), "ab");
  for (Guarded* g : {&lt, &qq, &brk, &link}) EXPECT_TRUE(g->intact());

  // Two-byte characters are never cut in half.
  Guarded kana("<TD" + repeat("\x82\xA0", 2), 8);
  HtmlConvert(kana.data(), kana.size);
  EXPECT_EQ(kana.text(), "&lt;TD");
  Guarded quoted(repeat("\x82\xA0", 3), 7);
  Add_Res(quoted.data(), quoted.size);
  EXPECT_EQ(quoted.text(), ">" + repeat("\x82\xA0", 2));
  EXPECT_TRUE(kana.intact() && quoted.intact());
}

}  // namespace
