// Field-level helpers for the text stores.
#include "store/textrec.h"

#include <algorithm>

#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "store/records.h"

int32_t parse_num(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) i++;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  int64_t v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; i++) {
    v = v * 10 + (s[i] - '0');
    if (v > INT32_MAX + int64_t{1}) v = INT32_MAX + int64_t{1};
  }
  if (neg) v = -v;
  return static_cast<int32_t>(std::clamp<int64_t>(v, INT32_MIN, INT32_MAX));
}

bool next_field(std::string_view& rest, std::string_view& out) {
  int pos = StrFind(rest, ",");
  if (pos < 0) return false;
  out = rest.substr(0, static_cast<size_t>(pos));
  rest.remove_prefix(static_cast<size_t>(pos) + 1);
  return true;
}

bool next_token(std::string_view& rest, std::string_view& out) {
  size_t b = rest.find_first_not_of(",\n");
  if (b == std::string_view::npos) {
    rest = {};
    return false;
  }
  size_t e = rest.find_first_of(",\n", b);
  if (e == std::string_view::npos) e = rest.size();
  out = rest.substr(b, e - b);
  rest.remove_prefix(e);
  return true;
}

std::string_view field_text(std::string_view s, bool keep_cr) {
  s = s.substr(0, std::min(s.size(), s.find_first_of(keep_cr ? "\n" : "\r\n")));
  int comma = StrFind(s, ",");
  if (comma >= 0) s = s.substr(0, static_cast<size_t>(comma));
  return whole_chars(s);
}

void put_line(std::string& out, std::string_view line) {
  if (!out.empty() && out.back() != '\n') out += '\n';
  out += line;
}

int append_line(const char* path, std::string_view text, std::string_view line) {
  std::string out;
  if (!text.empty() && text.back() != '\n') out += '\n';
  out += line;
  return append_file(path, out);
}
