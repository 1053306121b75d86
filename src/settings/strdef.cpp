// The message table: every word a page shows is a numbered message loaded
// from a language file into STRDEF.
#include "settings/strdef.h"

#include <cstring>
#include <strings.h>
#include <string>
#include <string_view>

#include "cgi/sjis.h"
#include "store/records.h"
#include "store/textrec.h"

char STRDEF[STRDEF_SLOTS][STRDEF_WIDTH];

namespace {
// Lines longer than this are taken in pieces of this many characters.
constexpr size_t kPiece = 1001;
}  // namespace

void StrdefFileOpen(const char* path) {
  std::string bytes;
  if (!read_file(path, bytes)) return;
  memset(STRDEF, 0, sizeof STRDEF);
  for (std::string_view line : line_pieces(bytes, kPiece)) {
    line = line.substr(0, line.find('\0'));
    std::string_view num, text;
    if (!next_token(line, num) || !next_token(line, text)) continue;
    long slot = parse_num(num);
    if (slot < 1 || slot >= STRDEF_SLOTS) continue;
    memset(STRDEF[slot], 0, STRDEF_WIDTH);
    copy_text(STRDEF[slot], STRDEF_WIDTH, text);
  }
}

const char* msg(int n) {
  if (n < 0 || n >= STRDEF_SLOTS) return "";
  return STRDEF[n];
}

bool language_file_name(const char* name) {
  size_t n = strlen(name);
  if (n < 5 || name[0] == '.' || strchr(name, '/') || strchr(name, '\\')) return false;
  return strcasecmp(name + n - 4, ".lng") == 0;
}
