// The output filter for stored HTML text: one pass that reads the text the
// way a browser's HTML tokenizer does and lets through only formatting
// mark-up.
//
// Every byte that shapes a tag ("<", ">", quotes, "=", "/", blanks and line
// ends) lies below 0x40, and a browser decoding Shift_JIS never takes such a
// byte as the second half of a two-byte character. So the scan looks at
// single bytes: a "<" that follows a first byte is still a "<" here, exactly
// as the browser sees it, and cannot be used to slip a tag past the filter.
#include "text/filter.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

#include "cgi/sjis.h"

namespace {

using sv = std::string_view;

bool is_blank(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f';
}
bool is_alpha(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

// Whether `s` equals the small-letter `name` in any letter case.
bool same_name(sv s, sv name) {
  return s.size() == name.size() &&
         std::equal(s.begin(), s.end(), name.begin(), [](char a, char b) { return lower(a) == b; });
}

// A name of up to eight bytes in small letters as one number. A name holds
// no NUL, so different names give different numbers.
constexpr uint64_t name_key(sv s) {
  uint64_t k = 0;
  for (char c : s) k = k << 8 | static_cast<unsigned char>(lower(c));
  return k;
}

// The numbers of the names of up to eight letters, sorted; 0 for a longer
// name.
template <size_t N>
constexpr std::array<uint64_t, N> keys_of(const std::array<sv, N>& names) {
  std::array<uint64_t, N> keys{};
  for (size_t k = 0; k < N; k++) keys[k] = names[k].size() <= 8 ? name_key(names[k]) : 0;
  std::sort(keys.begin(), keys.end());
  return keys;
}

// Whether `s` in any letter case is one of `names` (small letters), whose
// numbers are `keys`.
template <size_t N>
bool listed(sv s, const std::array<sv, N>& names, const std::array<uint64_t, N>& keys) {
  if (s.empty()) return false;
  if (s.size() <= 8) return std::binary_search(keys.begin(), keys.end(), name_key(s));
  return std::any_of(names.begin(), names.end(), [s](sv n) { return same_name(s, n); });
}

constexpr std::array<sv, 43> TAGS = {
    "b",    "i",          "u",    "s",    "strike", "em",    "strong", "font",  "br",
    "p",    "div",        "span", "center", "blockquote", "pre", "code", "tt",  "big",
    "small", "sub",       "sup",  "hr",   "h1",     "h2",    "h3",     "h4",    "h5",
    "h6",   "ul",         "ol",   "li",   "dl",     "dt",    "dd",     "a",     "img",
    "table", "tbody",     "thead", "tr",  "th",     "td",    "caption"};

constexpr std::array<sv, 15> HARMLESS = {
    "color", "size",  "face",    "align",   "valign",      "width",      "height",    "border",
    "alt",   "title", "colspan", "rowspan", "bgcolor",     "cellpadding", "cellspacing"};

constexpr auto TAG_KEYS = keys_of(TAGS);
constexpr auto HARMLESS_KEYS = keys_of(HARMLESS);

// The character a character reference at v[i] ("&...") stands for, as far
// as an address check needs it: an ASCII character, 0x80 for anything else,
// or -1 for a named reference this check does not know (which might stand
// for ":"). `len` receives the reference's length; 0 when v[i] is a plain
// "&".
int reference(sv v, size_t i, size_t& len) {
  len = 0;
  size_t j = i + 1;
  if (j < v.size() && v[j] == '#') {
    j++;
    bool hex = j < v.size() && (v[j] == 'x' || v[j] == 'X');
    if (hex) j++;
    long cp = 0;
    size_t digits = j;
    for (; j < v.size(); j++) {
      char c = v[j];
      int d = c >= '0' && c <= '9'   ? c - '0'
              : hex && is_alpha(c) && lower(c) <= 'f' ? lower(c) - 'a' + 10
                                                       : -1;
      if (d < 0) break;
      cp = std::min(cp * (hex ? 16 : 10) + d, 0x110000L);
    }
    if (j == digits) return '&';  // "&#" without digits stays as it is
    if (j < v.size() && v[j] == ';') j++;
    len = j - i;
    return cp > 0 && cp < 0x80 ? static_cast<int>(cp) : 0x80;
  }
  if (j < v.size() && is_alpha(v[j])) {
    static constexpr std::array<std::pair<sv, char>, 5> KNOWN = {
        {{"amp;", '&'}, {"lt;", '<'}, {"gt;", '>'}, {"quot;", '"'}, {"apos;", '\''}}};
    for (auto [name, c] : KNOWN)
      if (v.substr(j, name.size()) == name) {
        len = 1 + name.size();
        return c;
      }
    return -1;
  }
  return '&';
}

// Whether an address is relative or uses http:, https: or mailto:, read as
// the browser reads it: references decoded, tabs and line ends removed,
// leading blanks and control characters skipped, and any letter case.
// Anything else that names a scheme before the first "/", "?" or "#" is
// refused, and so is an unknown named reference there.
bool safe_address(sv v) {
  // Only the length of the scheme and its first letters matter.
  char scheme[6];
  size_t scheme_len = 0;
  auto scheme_is = [&](sv name) {
    return scheme_len == name.size() && same_name(sv(scheme, scheme_len), name);
  };
  for (size_t i = 0; i < v.size();) {
    int c = static_cast<unsigned char>(v[i]);
    size_t len = 1;
    if (c == '&') {
      c = reference(v, i, len);
      if (c < 0) return false;
      if (len == 0) len = 1;
    }
    i += len;
    if (c == '\t' || c == '\n' || c == '\r') continue;
    if (scheme_len == 0 && c <= ' ') continue;
    if (c == '/' || c == '?' || c == '#') return true;
    if (c == ':') return scheme_is("http") || scheme_is("https") || scheme_is("mailto");
    if (scheme_len < sizeof scheme) scheme[scheme_len] = static_cast<char>(c);
    scheme_len++;
  }
  return true;
}

// One attribute of a start tag: the blanks and "/" before it begin at
// `fill`, the attribute itself spans [begin, end).
struct Attr {
  size_t fill, begin, end;
  sv name, value;
  bool kept = false;  // set by kept_whole
};

struct Tag {
  bool closing = false;
  sv name;
  size_t name_end = 0;
  std::vector<Attr> attrs;
  size_t close_fill = 0;  // blanks and "/" before the ">"
  size_t end = 0;         // just after the ">"
  bool all_kept = false;  // set by kept_whole
};

// Reads the tag at t[i] ("<" and a letter, or "</" and a letter) as the
// browser's tokenizer does. False when the text ends inside it. `tag` may
// hold an earlier tag; its attribute list is reused.
bool read_tag(sv t, size_t i, Tag& tag) {
  const size_t n = t.size();
  tag.closing = false;
  tag.attrs.clear();
  size_t j = i + 1;
  if (t[j] == '/') {
    tag.closing = true;
    j++;
  }
  size_t name_begin = j;
  while (j < n && !is_blank(t[j]) && t[j] != '/' && t[j] != '>') j++;
  tag.name = t.substr(name_begin, j - name_begin);
  tag.name_end = j;
  for (;;) {
    size_t fill = j;
    while (j < n && (is_blank(t[j]) || t[j] == '/')) j++;
    if (j >= n) return false;
    if (t[j] == '>') {
      tag.close_fill = fill;
      tag.end = j + 1;
      return true;
    }
    Attr a{fill, j, 0, {}, {}};
    if (t[j] == '=') j++;  // a name may begin with "="
    while (j < n && !is_blank(t[j]) && t[j] != '/' && t[j] != '>' && t[j] != '=') j++;
    a.name = t.substr(a.begin, j - a.begin);
    size_t k = j;
    while (k < n && is_blank(t[k])) k++;
    if (k < n && t[k] == '=') {
      k++;
      while (k < n && is_blank(t[k])) k++;
      if (k >= n) return false;
      if (t[k] == '"' || t[k] == '\'') {
        size_t close = t.find(t[k], k + 1);
        if (close == sv::npos) return false;
        a.value = t.substr(k + 1, close - k - 1);
        j = close + 1;
      } else {
        size_t v = k;
        while (k < n && !is_blank(t[k]) && t[k] != '>') k++;
        a.value = t.substr(v, k - v);
        j = k;
      }
    }
    a.end = j;
    tag.attrs.push_back(a);
  }
}

bool attr_allowed(sv tag, const Attr& a) {
  if (listed(a.name, HARMLESS, HARMLESS_KEYS)) return true;
  if (same_name(a.name, "href")) return same_name(tag, "a") && safe_address(a.value);
  if (same_name(a.name, "src")) return same_name(tag, "img") && safe_address(a.value);
  return false;
}

bool starts(sv t, size_t i, sv s) {
  return t.size() - i >= s.size() && memcmp(t.data() + i, s.data(), s.size()) == 0;
}

// Whether one of the page-structure openings starts at t[i] (a "<"):
// "<META", "<TABLE", "</TABLE", "<TR", "</TR", "<TD", "</TD", "<HTML",
// "</HTML", capital letters only.
bool structural_at(sv t, size_t i) {
  if (t.size() - i < 3) return false;
  switch (t[i + 1]) {
    case 'M':
      return starts(t, i, "<META");
    case 'T':
      return starts(t, i, "<TABLE") || starts(t, i, "<TR") || starts(t, i, "<TD");
    case 'H':
      return starts(t, i, "<HTML");
    case '/':
      return starts(t, i, "</TABLE") || starts(t, i, "</TR") || starts(t, i, "</TD") ||
             starts(t, i, "</HTML");
    default:
      return false;
  }
}

// Builds an allowed tag whose attributes are not all kept: its name and
// kept attributes byte for byte. Where an attribute was dropped, a blank
// keeps the next one (or a "/") from running into what came before it.
void build_tag(sv t, size_t i, const Tag& tag, std::string& out) {
  out.append(t.substr(i, tag.name_end - i));
  bool dropped = false;
  auto put_piece = [&](size_t from, size_t to) {
    if (dropped && from < to && !is_blank(t[from]) && t[from] != '>') out += ' ';
    out.append(t.substr(from, to - from));
    dropped = false;
  };
  for (const Attr& a : tag.attrs) {
    if (a.kept)
      put_piece(a.fill, a.end);
    else
      dropped = true;
  }
  put_piece(tag.close_fill, tag.end);
}

// Appends `text` with every "<" that opens one of the page-structure tags
// within it written as "&lt;".
void put_neutralised(sv text, std::string& out) {
  for (size_t k = 0;;) {
    size_t lt = text.find('<', k);
    out.append(text.substr(k, lt - k));
    if (lt == sv::npos) return;
    out.append(structural_at(text, lt) ? sv("&lt;") : sv("<"));
    k = lt + 1;
  }
}

// Decides which attributes of the allowed tag at t[i] are kept, and
// whether the tag then goes out exactly as it stands: all its attributes
// kept (the attributes of an end tag do nothing and are copied with it) and
// no other "<" in it that might open a page-structure tag.
bool kept_whole(sv t, size_t i, Tag& tag) {
  bool all_kept = true;
  if (!tag.closing) {
    for (Attr& a : tag.attrs) {
      a.kept = attr_allowed(tag.name, a);
      all_kept = all_kept && a.kept;
    }
  }
  tag.all_kept = all_kept;
  return all_kept && t.substr(i + 1, tag.end - i - 1).find('<') == sv::npos;
}

// Appends an allowed tag, after kept_whole. The page-structure openings are
// neutralised inside it too (in an attribute value), as everywhere else.
void put_tag(sv t, size_t i, const Tag& tag, std::string& out) {
  if (tag.all_kept) {
    put_neutralised(t.substr(i, tag.end - i), out);
    return;
  }
  std::string built;
  build_tag(t, i, tag, built);
  put_neutralised(built, out);
}

// Appends `text` with every "<" written as "&lt;".
void put_as_text(sv text, std::string& out) {
  for (size_t k = 0;;) {
    size_t lt = text.find('<', k);
    out.append(text.substr(k, lt - k));
    if (lt == sv::npos) return;
    out.append("&lt;");
    k = lt + 1;
  }
}

}  // namespace

std::string safe_html(std::string_view html) {
  std::string out;
  out.reserve(html.size() + html.size() / 8);
  safe_html_into(out, html);
  return out;
}

void safe_html_into(std::string& out, std::string_view html) {
  // Up to the first NUL, as in a C buffer, and without a first byte of a
  // two-byte character standing last.
  sv t = whole_chars(html.substr(0, html.find('\0')));
  // t[plain, i) goes out as it stands, in one piece once something differs.
  size_t plain = 0;
  auto up_to = [&](size_t end) {
    out.append(t.substr(plain, end - plain));
    plain = end;
  };
  Tag tag;
  size_t i = 0;
  while (i < t.size()) {
    i = t.find('<', i);
    if (i == sv::npos) break;
    if (starts(t, i, "<BR>")) {
      // The line break the conversions write, allowed as it stands.
      i += 4;
      continue;
    }
    bool structural = structural_at(t, i);
    char next = i + 1 < t.size() ? t[i + 1] : '\0';
    bool markup = is_alpha(next) || next == '/' || next == '!' || next == '?';
    if (!structural && !markup) {
      // "<" before a blank, a digit or the end is text to the browser too.
      i++;
      continue;
    }
    if (!structural && (is_alpha(next) || (next == '/' && i + 2 < t.size() && is_alpha(t[i + 2])))) {
      // Each tag is read once. One that is not allowed becomes text with
      // every "<" in it, so nothing inside it is read again; one that runs
      // to the end of the text takes the rest of the text with it.
      if (!read_tag(t, i, tag)) {
        up_to(i);
        put_as_text(t.substr(i), out);
        return;
      }
      bool allowed = listed(tag.name, TAGS, TAG_KEYS);
      if (!allowed || !kept_whole(t, i, tag)) {
        up_to(i);
        if (allowed)
          put_tag(t, i, tag, out);
        else
          put_as_text(t.substr(i, tag.end - i), out);
        plain = tag.end;
      }
      i = tag.end;
      continue;
    }
    // A structural opening, a comment, a declaration or a processing
    // instruction becomes text; what follows its "<" is read as text again.
    up_to(i);
    out += "&lt;";
    plain = ++i;
  }
  up_to(t.size());
}
