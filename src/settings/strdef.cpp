// The message table: every word a page shows is a numbered message loaded
// from a language file into STRDEF.
#include "settings/strdef.h"

#include <cstring>
#include <string>
#include <string_view>

#include "cgi/sjis.h"
#include "store/records.h"

char STRDEF[STRDEF_SLOTS][STRDEF_WIDTH];

namespace {

// Lines longer than this are taken in pieces of this many characters.
constexpr size_t kPiece = 1001;

// Slot number as atoi reads it; values beyond the table stay beyond it
// without overflowing.
long slot_number(std::string_view s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) i++;
  bool neg = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  long v = 0;
  while (i < s.size() && s[i] >= '0' && s[i] <= '9') {
    if (v < 1000000) v = v * 10 + (s[i] - '0');
    i++;
  }
  return neg ? -v : v;
}

// Next field: separators ',' and '\n', runs of them skipped.
bool next_field(std::string_view& rest, std::string_view& out) {
  size_t b = rest.find_first_not_of(",\n");
  if (b == std::string_view::npos) return false;
  size_t e = rest.find_first_of(",\n", b);
  if (e == std::string_view::npos) e = rest.size();
  out = rest.substr(b, e - b);
  rest.remove_prefix(e);
  return true;
}

}  // namespace

void StrdefFileOpen(const char* path) {
  std::string bytes;
  if (!read_file(path, bytes)) return;
  memset(STRDEF, 0, sizeof STRDEF);
  std::string_view rest = bytes;
  while (!rest.empty()) {
    size_t n = rest.find('\n');
    n = n == std::string_view::npos ? rest.size() : n + 1;
    if (n > kPiece) n = kPiece;
    std::string_view line = rest.substr(0, n);
    rest.remove_prefix(n);
    line = line.substr(0, line.find('\0'));
    std::string_view num, text;
    if (!next_field(line, num) || !next_field(line, text)) continue;
    long slot = slot_number(num);
    if (slot < 1 || slot >= STRDEF_SLOTS) continue;
    memset(STRDEF[slot], 0, STRDEF_WIDTH);
    copy_text(STRDEF[slot], STRDEF_WIDTH, text);
  }
}

const char* msg(int n) {
  if (n < 0 || n >= STRDEF_SLOTS) return "";
  return STRDEF[n];
}
