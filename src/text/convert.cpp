// Message text to HTML: line-end conversions, quote colouring, linking of
// addresses, neutralising of page-structure tags, reply quoting, digit
// grouping and the small text helpers. Each conversion is one Shift_JIS-aware
// pass that builds its result in a bounded scratch string; the in-place forms
// copy the result back into the caller's buffer.
#include "text/convert.h"

#include <array>
#include <cctype>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "cgi/sjis.h"

namespace {

constexpr size_t UNBOUNDED = std::string::npos;

inline unsigned char uc(char c) { return static_cast<unsigned char>(c); }

// Length of the character at t[i]: 2 for a two-byte character, 1 for any
// other byte, 0 for a first byte standing last, which ends the text.
size_t char_len(std::string_view t, size_t i) {
  if (!sjis_lead(uc(t[i]))) return 1;
  return i + 1 < t.size() ? 2 : 0;
}

// Byte classes for the scans that copy runs of text whole. A first byte
// always steps over its second byte, whatever that is. LINK: ":" and "<",
// where an address or a tag that Add_a_href looks at shows itself.
enum : unsigned char { LEAD = 1, LINE_END = 2, LINK = 4, LT = 8, GT = 16, URL_END = 32 };

constexpr std::array<unsigned char, 256> CLASS = [] {
  std::array<unsigned char, 256> c{};
  for (int b = 0; b < 256; b++) {
    if (sjis_lead(static_cast<unsigned char>(b))) c[b] |= LEAD | URL_END;
  }
  for (unsigned char b : {'\r', '\n'}) c[b] |= LINE_END | URL_END;
  for (unsigned char b : {':', '<'}) c[b] |= LINK;
  for (unsigned char b : {' ', '<', '>', ','}) c[b] |= URL_END;
  c['<'] |= LT;
  c['>'] |= GT;
  return c;
}();

#if defined(__SSE2__)
// Sixteen bytes at a time: bit k set when byte k of `v` is of a class in
// STOP, wherever it stands.
template <unsigned char STOP>
inline unsigned stop_bits(__m128i v) {
  __m128i m = _mm_setzero_si128();
  auto is = [&](char c) { m = _mm_or_si128(m, _mm_cmpeq_epi8(v, _mm_set1_epi8(c))); };
  if constexpr ((STOP & LINE_END) != 0) is('\r'), is('\n');
  if constexpr ((STOP & LINK) != 0) is(':'), is('<');
  if constexpr ((STOP & LT) != 0) is('<');
  if constexpr ((STOP & GT) != 0) is('>');
  return static_cast<unsigned>(_mm_movemask_epi8(m));
}

// Bit k set when byte k of `v` is a first byte: 0x7F-0xA0 are -128..-95 as
// signed bytes once one is added, 0xE0-0xFF are -32..-1.
inline unsigned lead_bits(__m128i v) {
  const __m128i low = _mm_cmplt_epi8(_mm_add_epi8(v, _mm_set1_epi8(1)), _mm_set1_epi8(-94));
  const __m128i high = _mm_and_si128(_mm_cmpgt_epi8(v, _mm_set1_epi8(-33)),
                                     _mm_cmplt_epi8(v, _mm_setzero_si128()));
  return static_cast<unsigned>(_mm_movemask_epi8(_mm_or_si128(low, high)));
}
#endif

// End of the run of characters from t[i] up to the first single byte of a
// class in STOP, or the end. `t` holds whole characters only.
//
// Sixteen bytes are looked at together, and character boundaries in them
// are found backwards: a byte that is no first byte always ends a
// character, and the first bytes after it (or after t[i], a boundary) pair
// off, so an odd one out takes the next byte as its second.
template <unsigned char STOP>
inline size_t run_end(std::string_view t, size_t i) {
  const auto* p = reinterpret_cast<const unsigned char*>(t.data());
  const size_t n = t.size();
#if defined(__SSE2__)
  while (i + 16 <= n) {
    const __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
    const unsigned stops = stop_bits<STOP>(v);
    const unsigned others = ~lead_bits(v) & 0xFFFFu;
    if (stops == 0) {
      // Past the block: the first bytes at its end, counted down to a byte
      // that is none (bit 15 stands for the byte before the block).
      i += 16 + (__builtin_clz(others << 16 | 0x8000u) & 1);
      continue;
    }
    const unsigned at = __builtin_ctz(stops);
    // The first bytes standing just before `at`.
    const unsigned before = others & ((1u << at) - 1);
    const unsigned leads = before ? at - 32 + __builtin_clz(before) : at;
    if (leads % 2 == 0) return i + at;
    i += at + 1;  // past a second byte that looked like a stop
  }
#endif
  while (i < n) {
    const unsigned char k = CLASS[p[i]];
    if (k & LEAD) {
      i += 2;
    } else if (k & STOP) {
      return i;
    } else {
      i++;
    }
  }
  return i;
}

inline bool starts(std::string_view t, size_t i, std::string_view s) {
  return t.size() - i >= s.size() && memcmp(t.data() + i, s.data(), s.size()) == 0;
}

// The text of a string argument: up to its first NUL, as in a C buffer.
std::string_view text_of(std::string_view v) {
  return v.substr(0, v.find('\0'));
}

// The text held in a caller's buffer of `size` bytes.
std::string_view text_in(const char* buf, size_t size) {
  return std::string_view(buf, strnlen(buf, size));
}

// A result under construction, holding at most `cap` bytes. Pieces are
// appended whole or not at all: a character, a tag or an entity is never
// cut. Once a piece does not fit the result is full and takes nothing more,
// so a text is cut at one place and not thinned out. Room can be held back
// for a closing tag that must follow whatever comes in between.
class Out {
 public:
  // `expect`: the length the result will likely reach, reserved up front.
  explicit Out(size_t cap, size_t expect = 0) : cap_(cap) { s_.reserve(expect < cap ? expect : cap); }

  bool full() const { return full_; }
  size_t size() const { return s_.size(); }

  bool put(std::string_view piece) {
    if (!room_for(piece.size())) return false;
    s_.append(piece);
    return true;
  }

  // Whether a piece of `n` bytes fits; one that does not makes the result
  // full. A piece that fits is then written with raw() in parts.
  bool room_for(size_t n) {
    if (full_) return false;
    if (!fits(n, 0)) {
      full_ = true;
      return false;
    }
    return true;
  }
  void raw(std::string_view part) { s_.append(part); }

  // Appends the characters t[from, to) (whole characters of a text that
  // holds whole characters only) as one piece each: all at once when they
  // fit, else up to the first that does not.
  bool put_chars(std::string_view t, size_t from, size_t to) {
    if (full_) return false;
    if (fits(to - from, 0)) {
      s_.append(t.data() + from, to - from);
      return true;
    }
    for (size_t k = from; k < to;) {
      size_t n = sjis_lead(uc(t[k])) ? 2 : 1;
      if (!put(t.substr(k, n))) return false;
      k += n;
    }
    return true;
  }

  // Appends `piece` and holds back `hold` more bytes.
  bool put_holding(std::string_view piece, size_t hold) {
    if (full_) return false;
    if (!fits(piece.size() + hold, 0)) {
      full_ = true;
      return false;
    }
    s_.append(piece);
    held_ += hold;
    return true;
  }

  // Appends `piece`, which may use `release` bytes of the held-back room.
  bool put_releasing(std::string_view piece, size_t release) {
    if (full_) return false;
    if (!fits(piece.size(), release)) {
      full_ = true;
      return false;
    }
    held_ -= release;
    s_.append(piece);
    return true;
  }

  // Appends into the held-back room; always fits.
  void put_held(std::string_view piece) {
    s_.append(piece);
    held_ -= piece.size();
  }

  std::string take() { return std::move(s_); }

 private:
  // Whether `n` more bytes fit once `release` held-back bytes are let go.
  bool fits(size_t n, size_t release) const {
    return cap_ == UNBOUNDED || s_.size() + (held_ - release) + n <= cap_;
  }

  size_t cap_;
  size_t held_ = 0;
  bool full_ = false;
  std::string s_;
};

// Copies a result back into the caller's buffer; callers build results of at
// most size - 1 bytes.
void store(char* buf, size_t size, const std::string& r) {
  size_t n = r.size() < size ? r.size() : size - 1;
  memcpy(buf, r.data(), n);
  buf[n] = '\0';
}

// Runs a conversion on a caller's buffer of `size` bytes in place.
template <typename F>
void in_place(char* text, size_t size, F conv) {
  if (text == nullptr || size == 0) return;
  store(text, size, conv(text_in(text, size), size - 1));
}

// --- the conversions, each from a text to a result of at most `cap` bytes

std::string do_CrLf_to_Cr(std::string_view t) {
  std::string r;
  r.reserve(t.size());
  for (size_t i = 0; i < t.size();) {
    size_t n = char_len(t, i);
    if (n == 0) break;
    if (t[i] != '\n') r.append(t, i, n);
    i += n;
  }
  return r;
}

std::string do_CrLf_to_BR(std::string_view t, size_t cap) {
  t = whole_chars(t);
  Out out(cap, t.size() + t.size() / 8 + 64);
  for (size_t i = 0; i < t.size() && out.size() < CONV_BR_LIMIT && !out.full();) {
    size_t j = run_end<LINE_END>(t, i);
    if (out.size() + (j - i) > CONV_BR_LIMIT) {
      // The limit falls inside the run: take the characters that start
      // below it.
      size_t k = i;
      while (k < j && out.size() + (k - i) < CONV_BR_LIMIT) k += sjis_lead(uc(t[k])) ? 2 : 1;
      j = k;
    }
    if (j > i) {
      out.put_chars(t, i, j);
      i = j;
      continue;
    }
    if (t[i] == '\r' && !out.put("<BR>\n")) break;
    i++;
  }
  return out.take();
}

std::string do_Add_Blue(std::string_view t, std::string_view color, size_t cap) {
  static constexpr std::string_view CLOSE = "</FONT>";
  enum { LINE_START, PLAIN, QUOTED, AFTER_QUOTED } state = LINE_START;
  // The opening tag with the quote mark that goes with it.
  std::string open = "<FONT COLOR=\"#";
  open.append(color).append("\">>");
  // The closing tag and the character that ends a quoted run.
  char close_and[CLOSE.size() + 2];
  memcpy(close_and, CLOSE.data(), CLOSE.size());
  auto close_then = [&](std::string_view ch) {
    memcpy(close_and + CLOSE.size(), ch.data(), ch.size());
    return std::string_view(close_and, CLOSE.size() + ch.size());
  };
  t = whole_chars(t);
  Out out(cap, t.size() + 64);
  // t[plain, i) goes out as it stands, in one piece before the next tag.
  // Only the tags open or close a quoted run, so where that text does not
  // fit, the run is open or closed just as it was where the text is cut.
  size_t plain = 0, i = 0;
  while (i < t.size()) {
    if (state == PLAIN || state == QUOTED) {
      // Inside a line only its end changes anything.
      i = run_end<LINE_END>(t, i);
      if (i == t.size()) break;
    }
    const size_t n = char_len(t, i);
    const char c = n == 1 ? t[i] : '\0';
    if (c == '\r' || c == '\n') {
      // CR, LF and CR LF end a line. The two line-start states stay as they
      // are, so empty lines inside a quoted run keep it open.
      if (state == PLAIN) state = LINE_START;
      else if (state == QUOTED) state = AFTER_QUOTED;
    } else if (state == LINE_START && c == '>') {
      // The quote mark goes with its tag, and the closing tag's room is
      // held from here on.
      if (!out.put_chars(t, plain, i) || !out.put_holding(open, CLOSE.size())) break;
      state = QUOTED;
      plain = i + 1;
    } else if (state == AFTER_QUOTED && c != '>') {
      if (!out.put_chars(t, plain, i) || !out.put_releasing(close_then(t.substr(i, n)), CLOSE.size()))
        break;
      state = PLAIN;
      plain = i + n;
    } else if (state == AFTER_QUOTED) {
      state = QUOTED;  // the next quoted line
    } else if (state == LINE_START) {
      state = PLAIN;
    }
    i += n;
  }
  out.put_chars(t, plain, t.size());
  if (state == QUOTED || state == AFTER_QUOTED) out.put_held(CLOSE);
  return out.take();
}

// Length of the address at t[i]: up to the end or the first terminator.
size_t url_len(std::string_view t, size_t i) {
  size_t j = i;
  while (j < t.size() && !(CLASS[uc(t[j])] & URL_END)) j++;
  return j - i;
}

// Appends <A HREF="url">text</A> as one piece. A quote in the address is
// written as "&quot;" in the HREF so that it cannot end the attribute and
// start another one.
void put_link(Out& out, std::string_view url, std::string_view text) {
  size_t quotes = 0;
  for (char c : url) quotes += c == '"';
  if (!out.room_for(url.size() + 5 * quotes + text.size() + 15)) return;
  out.raw("<A HREF=\"");
  for (; quotes > 0; quotes--) {
    size_t q = url.find('"');
    out.raw(url.substr(0, q));
    out.raw("&quot;");
    url.remove_prefix(q + 1);
  }
  out.raw(url);
  out.raw("\">");
  out.raw(text);
  out.raw("</A>");
}

// Position of the first "</A>" or "</a>" at a character boundary after
// t[i], or npos.
size_t link_close(std::string_view t, size_t i) {
  for (size_t k = run_end<LT>(t, i + 1); k < t.size(); k = run_end<LT>(t, k + 1))
    if (starts(t, k, "</A>") || starts(t, k, "</a>")) return k;
  return std::string_view::npos;
}

// Whether t[p] begins a character, `from` being a boundary at or before it.
bool boundary_at(std::string_view t, size_t from, size_t p) {
  size_t leads = 0;
  while (p - leads > from && sjis_lead(uc(t[p - 1 - leads]))) leads++;
  return leads % 2 == 0;
}

// Where the address whose scheme ends with the ":" at t[k] begins: the
// "http://", "https://" or "mailto:" (or the same in capitals) that holds
// this ":", when it starts on a character boundary at or after `from`.
// npos for any other ":".
size_t address_start(std::string_view t, size_t from, size_t k) {
  auto at = [&](size_t colon, std::string_view small, std::string_view capital) {
    if (k - from < colon) return std::string_view::npos;
    size_t p = k - colon;
    return (starts(t, p, small) || starts(t, p, capital)) && boundary_at(t, from, p)
               ? p
               : std::string_view::npos;
  };
  switch (k > from ? t[k - 1] : '\0') {
    case 'p':
    case 'P':
      return at(4, "http://", "HTTP://");
    case 's':
    case 'S':
      return at(5, "https://", "HTTPS://");
    case 'o':
    case 'O':
      return at(6, "mailto:", "MAILTO:");
    default:
      return std::string_view::npos;
  }
}

std::string do_Add_a_href(std::string_view t, size_t cap) {
  t = whole_chars(t);
  Out out(cap, t.size() + t.size() / 8 + 64);
  // Text from `plain` on is copied as it is once something starts. Every
  // address holds a ":" and every tag looked at starts with "<", so the scan
  // stops only there; an address is then found back from its ":".
  size_t plain = 0, i = 0;
  while (!out.full()) {
    i = run_end<LINK>(t, i);
    if (i == t.size()) break;
    size_t start = i;
    bool address = false, own_link = false, image = false;
    if (t[i] == ':') {
      start = address_start(t, plain, i);
      address = start != std::string_view::npos;
    } else {
      const char next = i + 1 < t.size() ? t[i + 1] : '\0';
      own_link = (next == 'A' && starts(t, i, "<A HREF")) || (next == 'a' && starts(t, i, "<a href"));
      image = (next == 'I' && starts(t, i, "<IMG")) || (next == 'i' && starts(t, i, "<img"));
    }
    if (!address && !own_link && !image) {
      i++;
      continue;
    }
    if (!out.put_chars(t, plain, start)) break;
    plain = i = start;
    if (address) {
      std::string_view url = t.substr(i, url_len(t, i));
      put_link(out, url, t[i] == 'm' || t[i] == 'M' ? url.substr(7) : url);
      i += url.size();
    } else if (own_link) {
      // The user's own link is copied as it is up to its end.
      size_t end = link_close(t, i);
      if (end == std::string_view::npos) break;
      out.put_chars(t, i, end);
      out.put("</A>");
      i = end + 4;
    } else {
      size_t end = run_end<GT>(t, i);
      if (end == t.size()) break;
      out.put_chars(t, i, end + 1);
      i = end + 1;
    }
    plain = i;
  }
  // The rest, or all of an element that runs to the end.
  out.put_chars(t, plain, t.size());
  return out.take();
}

std::string do_HtmlConvert(std::string_view t, size_t cap) {
  static constexpr std::string_view TAGS[] = {
      "<META", "<TABLE", "</TABLE", "<TR",   "</TR",
      "<TD",   "</TD",   "<HTML",   "</HTML"};
  Out out(cap);
  for (size_t i = 0; i < t.size() && !out.full();) {
    size_t n = char_len(t, i);
    if (n == 0) break;
    bool structural = false;
    if (n == 1 && t[i] == '<')
      for (std::string_view tag : TAGS)
        if (starts(t, i, tag)) structural = true;
    out.put(structural ? std::string_view("&lt;") : t.substr(i, n));
    i += n;
  }
  return out.take();
}

std::string do_Add_Res(std::string_view t, size_t cap) {
  Out out(cap);
  bool line_start = true, after_cr = false;
  for (size_t i = 0; i < t.size() && !out.full();) {
    size_t n = char_len(t, i);
    if (n == 0) break;
    bool cr = n == 1 && t[i] == '\r';
    if (n == 1 && t[i] == '\n' && after_cr) {
      // The second half of a CR LF pair: the CR has ended the line.
      after_cr = false;
      i++;
      continue;
    }
    std::string piece = line_start ? ">" : "";
    if (cr || (n == 1 && t[i] == '\n')) {
      piece += '\r';
      line_start = true;
    } else {
      piece.append(t, i, n);
      line_start = false;
    }
    after_cr = cr;
    out.put(piece);
    i += n;
  }
  return out.take();
}

// The grouped form of the number at the start of `t`, or `t` itself when it
// holds no number.
std::string do_ketadori(std::string_view t) {
  size_t i = 0;
  while (i < t.size() && isspace(uc(t[i]))) i++;
  bool neg = false;
  if (i < t.size() && (t[i] == '-' || t[i] == '+')) neg = t[i++] == '-';
  size_t begin = i;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') i++;
  if (i == begin) return std::string(t);
  // Read as a number: leading zeros go, any length is kept exact.
  while (begin + 1 < i && t[begin] == '0') begin++;
  std::string_view digits = t.substr(begin, i - begin);
  std::string r;
  if (neg && digits != "0") r += '-';
  for (size_t k = 0; k < digits.size(); k++) {
    if (k > 0 && (digits.size() - k) % 3 == 0) r += ',';
    r += digits[k];
  }
  return r;
}

std::string do_TrimRight(std::string_view t) {
  size_t keep = 0;
  for (size_t i = 0; i < t.size();) {
    size_t n = sjis_lead(uc(t[i])) && i + 1 < t.size() ? 2 : 1;
    i += n;
    if (n == 2 || t[i - 1] != ' ') keep = i;
  }
  return std::string(t.substr(0, keep));
}

std::string do_Add_Bold(std::string_view t, std::string_view word, size_t cap) {
  Out out(cap);
  for (size_t i = 0; i < t.size() && !out.full();) {
    if (!word.empty() && starts(t, i, word)) {
      std::string bold = "<B>";
      bold.append(word).append("</B>");
      out.put(bold);
      i += word.size();
      continue;
    }
    size_t n = char_len(t, i);
    if (n == 0) break;
    out.put(t.substr(i, n));
    i += n;
  }
  return out.take();
}

std::string do_BR_to_CrLf(std::string_view t) {
  std::string r;
  r.reserve(t.size());
  for (size_t i = 0; i < t.size();) {
    if (starts(t, i, "<BR>")) {
      r += '\r';
      i += 4;
      continue;
    }
    size_t n = char_len(t, i);
    if (n == 0) break;
    r.append(t, i, n);
    i += n;
  }
  return r;
}

std::string do_AddQuart(std::string_view t, size_t cap) {
  Out out(cap);
  for (size_t i = 0; i < t.size() && !out.full();) {
    size_t n = char_len(t, i);
    if (n == 0) break;
    out.put(n == 1 && t[i] == '\'' ? std::string_view("''") : t.substr(i, n));
    i += n;
  }
  return out.take();
}

}  // namespace

// --- in-place forms and std::string forms

void CrLf_to_Cr(char* text) {
  if (text) store(text, strlen(text) + 1, do_CrLf_to_Cr(text));
}
std::string CrLf_to_Cr(std::string_view text) {
  return do_CrLf_to_Cr(text_of(text));
}

void CrLf_to_BR(char* text, size_t size) { in_place(text, size, do_CrLf_to_BR); }
std::string CrLf_to_BR(std::string_view text) {
  return do_CrLf_to_BR(text_of(text), UNBOUNDED);
}

void Add_Blue(char* text, const char* color, size_t size) {
  std::string_view c = color ? color : "";
  in_place(text, size, [c](std::string_view t, size_t cap) {
    return do_Add_Blue(t, c, cap);
  });
}
std::string Add_Blue(std::string_view text, std::string_view color) {
  return do_Add_Blue(text_of(text), text_of(color), UNBOUNDED);
}

void Add_a_href(char* text, size_t size) { in_place(text, size, do_Add_a_href); }
std::string Add_a_href(std::string_view text) {
  return do_Add_a_href(text_of(text), UNBOUNDED);
}

void get_url(const char* text, char* out, size_t size) {
  if (out == nullptr || size == 0) return;
  std::string_view t = text ? text : "";
  std::string_view url = t.substr(0, url_len(t, 0));
  // No address holds a two-byte character, so any cut is a boundary.
  store(out, size, std::string(url.substr(0, size - 1)));
}
std::string get_url(std::string_view text) {
  std::string_view t = text_of(text);
  return std::string(t.substr(0, url_len(t, 0)));
}

void HtmlConvert(char* text, size_t size) { in_place(text, size, do_HtmlConvert); }
std::string HtmlConvert(std::string_view text) {
  return do_HtmlConvert(text_of(text), UNBOUNDED);
}

void Add_Res(char* text, size_t size) { in_place(text, size, do_Add_Res); }
std::string Add_Res(std::string_view text) {
  return do_Add_Res(text_of(text), UNBOUNDED);
}

char* ketadori(char* text, size_t size) {
  if (text == nullptr || size == 0) return text;
  std::string r = do_ketadori(text_in(text, size));
  if (r.size() < size) store(text, size, r);
  return text;
}
char* ketadori(char* text) {
  if (text == nullptr) return text;
  size_t len = strlen(text);
  return ketadori(text, len + 1 > KETADORI_SIZE ? len + 1 : KETADORI_SIZE);
}
std::string ketadori(std::string_view text) { return do_ketadori(text_of(text)); }

void TrimRight(char* text) {
  if (text) store(text, strlen(text) + 1, do_TrimRight(text));
}
std::string TrimRight(std::string_view text) { return do_TrimRight(text_of(text)); }

void Add_Bold(char* text, const char* word, size_t size) {
  std::string_view w = word ? word : "";
  in_place(text, size, [w](std::string_view t, size_t cap) {
    return do_Add_Bold(t, w, cap);
  });
}
std::string Add_Bold(std::string_view text, std::string_view word) {
  return do_Add_Bold(text_of(text), text_of(word), UNBOUNDED);
}

void BR_to_CrLf(char* text) {
  if (text) store(text, strlen(text) + 1, do_BR_to_CrLf(text));
}
std::string BR_to_CrLf(std::string_view text) {
  return do_BR_to_CrLf(text_of(text));
}

void AddQuart(char* text, size_t size) { in_place(text, size, do_AddQuart); }
std::string AddQuart(std::string_view text) {
  return do_AddQuart(text_of(text), UNBOUNDED);
}
