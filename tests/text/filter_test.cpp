// The output filter neutralises script in any spelling; safe mark-up prints as before.
#include "text/filter.h"

#include "text/convert.h"
#include "board.h"

namespace {

TEST(SafeHtml, NeutralisesScriptInEverySpelling) {
  const std::pair<const char*, const char*> cases[] = {
      {"<script>alert(1)</script>", "&lt;script>alert(1)&lt;/script>"},
      {"<img src=x onerror=alert(1)>", "<img src=x>"},
      {"<IMG SRC=\"a.gif\"\nONERROR\n=\n'alert(1)' ALT=\"a\">", "<IMG SRC=\"a.gif\" ALT=\"a\">"},
      {"<img/src=\"x\"/onerror=alert(1)>", "<img/src=\"x\">"},
      {"<b onmouseover=\"x\"title=t>", "<b title=t>"},
      {"<b title=\"a\"onclick=\"x\"/>", "<b title=\"a\" />"},
      {"<a href=\"javascript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"java&#115;cript:alert(1)\">x</a>", "<a>x</a>"},
      {"<a href=\"&#x6A;avascript&#58;x\">", "<a>"},
      {"<a href=\"javascript&colon;x\">", "<a>"},
      {"<a href=\" \tJaVa\nScRiPt:x\">", "<a>"},
      {"<a href=\"data:text/html,x\">", "<a>"},
      {"<img src=\"javascript:x\" width=1>", "<img width=1>"},
      {"<b href=\"http://x/\" src=y style=\"x\">", "<b>"},
      {"<a target=_blank href='https://x/'>", "<a href='https://x/'>"},
      {"<!-- x --><!DOCTYPE x><?php x ?>", "&lt;!-- x -->&lt;!DOCTYPE x>&lt;?php x ?>"},
      {"</script x>", "&lt;/script x>"},
      {"<b title=\"unclosed", "&lt;b title=\"unclosed"},
      // A "<" after a first byte is still a "<" to the browser.
      {"\x81<script>", "\x81&lt;script>"},
      {"<TABLE BORDER=1><TR><TD>x</TD></TR></TABLE>",
       "&lt;TABLE BORDER=1>&lt;TR>&lt;TD>x&lt;/TD>&lt;/TR>&lt;/TABLE>"},
      // A tag not allowed is text as a whole; one left open takes the rest.
      {"<x <b>y</b>", "&lt;x &lt;b>y</b>"},
      {"<b>a</b><i title=\"x <b>y</b>", "<b>a</b>&lt;i title=\"x &lt;b>y&lt;/b>"},
  };
  for (auto [in, want] : cases) {
    EXPECT_EQ(safe_html(in), want) << in;
    EXPECT_EQ(safe_html(safe_html(in)), want) << "second pass over " << in;
  }
}

TEST(SafeHtml, SafeTextAndMarkupPrintAsHtmlConvertPrintsThem) {
  const char* kept[] = {
      "",
      "plain text, a < b > c & d; 3<4",
      "\x93\xfa\x96\x7b\x8c\xea \x83\x5c\x83\x7b",  // Japanese, second bytes 0x5C and 0x7B
      "<FONT COLOR=\"#0000FF\">&gt;quoted</FONT>line<BR>\nnext",
      "<A HREF=\"http://x.test/a?b=1&amp;c=2\">http://x.test/a?b=1&amp;c=2</A>",
      "<a href=\"../x.html#t\">rel</a> <a href>e</a>",
      "<IMG SRC=\"HTTPS://x/p.gif\" ALT='p' BORDER=0><img src=p.gif width=\"10\" height=10/>",
      "<PRE>x</PRE><p align=center><b>B</b><i>I</i><strike>S</strike></p><hr size=1><h6>6</h6>",
      "<table border=1 cellpadding=2 cellspacing=0 bgcolor=\"#fff\"><caption>c</caption>"
      "<thead><tr><th colspan=2>h</th></tr></thead><tbody><tr><td rowspan=1 valign=top>d"
      "</td></tr></tbody></table>",
      "<TH>capital cells other than the nine</TH><TBODY><Table><tR>",
      "<font face=\"MS Gothic\" size=+1 color=red>f</font><FONT\tCOLOR = red >g</FONT >",
      "<b title=\"a<TABLE>b\">x</b>",
  };
  for (const char* in : kept) EXPECT_EQ(safe_html(in), HtmlConvert(std::string_view(in))) << in;
  // A first byte standing last is dropped, as by every conversion.
  EXPECT_EQ(safe_html("ab\x82"), "ab");
}

// Every tag is read once: open or unknown tags by the thousand take linear time.
TEST(SafeHtml, ManyOpenTagsTakeLinearTime) {
  std::string open, unknown = "<x";
  for (int i = 0; i < 40000; i++) open += "<b ", unknown += " <x";
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(safe_html(open).size(), open.size() + 3 * 40000);
  EXPECT_EQ(safe_html(unknown + ">").size(), unknown.size() + 1 + 3 * 40001);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2));
}

}  // namespace

// Names longer than eight letters, and a "<" inside an allowed tag that opens nothing.
TEST(SafeHtml, LongNamesAndInnerOpenings) {
  EXPECT_EQ(safe_html("<blockquote>q</BLOCKQUOTE><blockquotes>"),
            "<blockquote>q</BLOCKQUOTE>&lt;blockquotes>");
  EXPECT_EQ(safe_html("<td cellspacing=1 cellspacings=2><b title=\"a<b\">"),
            "<td cellspacing=1><b title=\"a<b\">");
}
