// Message text to HTML: the conversions between the form in which message
// bodies are stored (Shift_JIS, a carriage return alone as line end) and the
// HTML the pages print, plus digit grouping and a few small text helpers.
//
// Every scan steps Shift_JIS characters: a byte 0x7F-0xA0 or 0xE0-0xFF
// starts a two-byte character that is copied whole, its second byte never
// taken for "<", ">", a quote, a blank or a line end. A first byte standing
// directly before the end of the text ends the text (it is dropped by the
// conversions that rebuild the text).
//
// A message body on its way to the page:
//   Add_Blue(body, quote colour)                  every HTML mode
//   HTML mode 0: Add_a_href(body); CrLf_to_BR(body)
//   HTML mode 1: the caller encloses it in "<PRE>%s</PRE>"
//   HTML mode 2: nothing
//   HtmlConvert(body)                             just before printing
// On its way in: CrLf_to_Cr(body) before it is stored. For a reply form:
// Add_Res(stored body).
//
// Three forms of each conversion that can lengthen the text:
//   X(char* text)              in place, in a buffer of CONV_BUFF_SIZE bytes
//                              (the size pages use for message bodies);
//   X(char* text, size_t size) in place, in a buffer of `size` bytes - use
//                              this for any other buffer, g_databuff
//                              (100002 bytes) included;
//   X(std::string_view text)   returns the result; no length limit.
// A char array or char* argument selects the in-place form; wrap it in
// std::string_view to get the returning one instead.
// A result that does not fit in the buffer is cut at the limit: on a
// character boundary, never inside a tag or entity the conversion adds, and
// a colour element opened by Add_Blue is always closed. Nothing is written
// beyond `size` bytes, the terminator included. The std::string forms read
// their input up to its first NUL byte.
#pragma once
#include <cstddef>
#include <string>
#include <string_view>

// Caller buffer assumed by the in-place forms without a size.
constexpr size_t CONV_BUFF_SIZE = 104000;
// CrLf_to_BR stops reading once its result holds this many bytes.
constexpr size_t CONV_BR_LIMIT = 100000;
// Buffer assumed by ketadori(char*): enough for any 32-bit value grouped.
constexpr size_t KETADORI_SIZE = 14;

// Removes every line feed; carriage returns stay. CR LF input becomes CR
// alone, as bodies are stored. A text with line feeds alone loses its line
// ends, so give it CR LF text (forms send that). Never lengthens the text.
void CrLf_to_Cr(char* text);
[[nodiscard]] std::string CrLf_to_Cr(std::string_view text);

// Every carriage return becomes "<BR>\n"; line feeds are dropped. Stops
// reading once the result holds CONV_BR_LIMIT bytes or more.
void CrLf_to_BR(char* text, size_t size = CONV_BUFF_SIZE);
[[nodiscard]] std::string CrLf_to_BR(std::string_view text);

// Colours every run of quoted lines (lines beginning with ">") with
// "<FONT COLOR=\"#<color>\">" ... "</FONT>"; consecutive quoted lines and
// the empty lines between them share one element. `color` is six hex
// digits. CR, LF and CR LF all end a line.
void Add_Blue(char* text, const char* color, size_t size = CONV_BUFF_SIZE);
[[nodiscard]] std::string Add_Blue(std::string_view text,
                                   std::string_view color);

// Turns "http://", "HTTP://", "https://", "HTTPS://" addresses into
// <A HREF="addr">addr</A> and "mailto:"/"MAILTO:" addresses into
// <A HREF="mailto:x">x</A>; a '"' in the address is written as "&quot;"
// inside the HREF and as it is in the link text. The user's own links
// (<A HREF / <a href up to the next </A> or </a>, which is written back as
// "</A>") and image tags (<IMG / <img up to ">") are copied without linking
// anything inside them.
void Add_a_href(char* text, size_t size = CONV_BUFF_SIZE);
[[nodiscard]] std::string Add_a_href(std::string_view text);

// Copies the address at the start of `text` into `out` (`size` bytes), up
// to the end, a blank, "<", ">", ",", CR, LF or a byte 0x7F-0xA0/0xE0-0xFF.
void get_url(const char* text, char* out, size_t size = CONV_BUFF_SIZE);
[[nodiscard]] std::string get_url(std::string_view text);

// Replaces the "<" of the capital tags "<META", "<TABLE", "</TABLE", "<TR",
// "</TR", "<TD", "</TD", "<HTML", "</HTML" with "&lt;", so that a message
// cannot break the page around it. Small-letter tags are left alone.
void HtmlConvert(char* text, size_t size = CONV_BUFF_SIZE);
[[nodiscard]] std::string HtmlConvert(std::string_view text);

// Quotes a text for a reply: ">" in front of every line, empty lines
// included; line ends become CR alone (CR, LF and CR LF each end a line).
void Add_Res(char* text, size_t size = CONV_BUFF_SIZE);
[[nodiscard]] std::string Add_Res(std::string_view text);

// Rewrites a decimal number with a comma between groups of three digits
// ("1234567" -> "1,234,567") and returns the buffer. Read like atol (leading
// blanks, a sign, digits up to the first other character); a text without
// digits is left unchanged, and so is one whose result would not fit.
// ketadori(char*) assumes a buffer of max(KETADORI_SIZE, strlen + 1) bytes.
char* ketadori(char* text);
char* ketadori(char* text, size_t size);
[[nodiscard]] std::string ketadori(std::string_view text);

// Removes trailing blanks (0x20 only; tabs stay).
void TrimRight(char* text);
[[nodiscard]] std::string TrimRight(std::string_view text);

// Encloses every occurrence of `word` in "<B>" and "</B>". An empty word
// changes nothing.
void Add_Bold(char* text, const char* word, size_t size = CONV_BUFF_SIZE);
[[nodiscard]] std::string Add_Bold(std::string_view text, std::string_view word);

// Every "<BR>" (capitals only) becomes one carriage return. Never lengthens
// the text.
void BR_to_CrLf(char* text);
[[nodiscard]] std::string BR_to_CrLf(std::string_view text);

// Every "'" becomes "''"; a doubled quote is never cut in half.
void AddQuart(char* text, size_t size = CONV_BUFF_SIZE);
[[nodiscard]] std::string AddQuart(std::string_view text);
