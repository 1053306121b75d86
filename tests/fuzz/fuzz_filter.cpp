// The output filter is idempotent and lets through only allowed tags and
// attributes, read by a tokenizer of its own written apart from the filter's.
#include <algorithm>
#include <cctype>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <set>
#include <string>
#include <string_view>

#include "text/filter.h"

namespace {

const std::set<std::string> kTags = {
    "b",  "i",  "u",  "s",  "strike", "em", "strong", "font", "br", "p", "div", "span", "center",
    "blockquote", "pre", "code", "tt", "big", "small", "sub", "sup", "hr", "h1", "h2", "h3", "h4",
    "h5", "h6", "ul", "ol", "li", "dl", "dt", "dd", "a", "img", "table", "tbody", "thead", "tr",
    "th", "td", "caption"};
const std::set<std::string> kAttrs = {
    "color", "size", "face", "align", "valign", "width", "height", "border", "alt", "title",
    "colspan", "rowspan", "bgcolor", "cellpadding", "cellspacing"};

[[noreturn]] void fail(const char* what, std::string_view out, size_t at) {
  fprintf(stderr, "%s at %zu in: %.*s\n", what, at, static_cast<int>(out.size()), out.data());
  abort();
}

bool space(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; }
std::string lower(std::string_view s) {
  std::string r(s);
  for (char& c : r) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  return r;
}

// The value as a browser reads it for a scheme check: references decoded.
std::string decoded(std::string_view v) {
  std::string s;
  for (size_t i = 0; i < v.size();) {
    if (v.substr(i, 2) == "&#") {
      size_t j = i + 2;
      bool hex = j < v.size() && (v[j] == 'x' || v[j] == 'X');
      if (hex) j++;
      long cp = 0;
      size_t d = j;
      while (j < v.size() && (hex ? isxdigit(static_cast<unsigned char>(v[j])) : isdigit(static_cast<unsigned char>(v[j])))) {
        cp = std::min(cp * (hex ? 16 : 10) + (isdigit(static_cast<unsigned char>(v[j])) ? v[j] - '0' : tolower(v[j]) - 'a' + 10), 0x110000L);
        j++;
      }
      if (j > d) {
        if (j < v.size() && v[j] == ';') j++;
        s += cp > 0 && cp < 0x80 ? static_cast<char>(cp) : '\x80';
        i = j;
        continue;
      }
    }
    bool named = false;
    for (auto [ref, c] : {std::pair<std::string_view, char>{"&colon;", ':'}, {"&Tab;", '\t'}, {"&NewLine;", '\n'}})
      if (v.substr(i, ref.size()) == ref) {
        s += c;
        i += ref.size();
        named = true;
        break;
      }
    if (!named) s += v[i++];
  }
  return s;
}

// Whether an address names a scheme other than http, https or mailto, as
// a browser reads it (blanks and control characters dropped).
bool scripted(std::string_view v) {
  std::string s;
  for (char c : decoded(v))
    if (static_cast<unsigned char>(c) > ' ') s += static_cast<char>(tolower(static_cast<unsigned char>(c)));
  size_t colon = s.find(':'), stop = s.find_first_of("/?#");
  if (colon == std::string::npos || colon > stop) return false;
  std::string scheme = s.substr(0, colon);
  return scheme != "http" && scheme != "https" && scheme != "mailto";
}

// Aborts on any tag, comment or attribute of `out` outside the allow-list.
void check(std::string_view out) {
  for (std::string_view cap : {"<META", "<TABLE", "</TABLE", "<TR", "</TR", "<TD", "</TD", "<HTML", "</HTML"})
    if (out.find(cap) != std::string_view::npos) fail("page-structure tag", out, out.find(cap));
  size_t i = 0;
  while ((i = out.find('<', i)) != std::string_view::npos) {
    size_t at = i++;
    if (i >= out.size()) break;
    if (out[i] == '!' || out[i] == '?') fail("comment or declaration", out, at);
    bool closing = out[i] == '/';
    if (closing) i++;
    if (i >= out.size() || !isalpha(static_cast<unsigned char>(out[i]))) {
      if (closing) fail("bogus end tag", out, at);
      continue;
    }
    size_t name_end = i;
    while (name_end < out.size() && !space(out[name_end]) && out[name_end] != '/' && out[name_end] != '>') name_end++;
    std::string name = lower(out.substr(i, name_end - i));
    if (!kTags.count(name)) fail("tag outside the allow-list", out, at);
    i = name_end;
    // Attributes up to the closing ">".
    for (;;) {
      while (i < out.size() && (space(out[i]) || out[i] == '/')) i++;
      if (i >= out.size()) fail("unterminated tag", out, at);
      if (out[i] == '>') { i++; break; }
      size_t a = i;
      if (out[i] == '=') i++;
      while (i < out.size() && !space(out[i]) && out[i] != '/' && out[i] != '>' && out[i] != '=') i++;
      std::string attr = lower(out.substr(a, i - a));
      size_t k = i;
      while (k < out.size() && space(out[k])) k++;
      std::string_view value;
      if (k < out.size() && out[k] == '=') {
        k++;
        while (k < out.size() && space(out[k])) k++;
        if (k < out.size() && (out[k] == '"' || out[k] == '\'')) {
          size_t q = out.find(out[k], k + 1);
          if (q == std::string_view::npos) fail("unterminated value", out, at);
          value = out.substr(k + 1, q - k - 1);
          i = q + 1;
        } else {
          size_t v = k;
          while (k < out.size() && !space(out[k]) && out[k] != '>') k++;
          value = out.substr(v, k - v);
          i = k;
        }
      }
      if (closing) continue;
      bool ok = kAttrs.count(attr) || (attr == "href" && name == "a") || (attr == "src" && name == "img");
      if (!ok) fail("attribute outside the allow-list", out, a);
      if ((attr == "href" || attr == "src") && scripted(value)) fail("script address", out, a);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::string_view in(reinterpret_cast<const char*>(data), size);
  std::string once = safe_html(in);
  std::string twice = safe_html(once);
  if (twice != once) {
    fprintf(stderr, "not idempotent:\n%s\n%s\n", once.c_str(), twice.c_str());
    abort();
  }
  check(once);
  return 0;
}
