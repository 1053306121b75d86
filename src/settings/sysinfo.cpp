// System settings: reading the settings file into SYSINFO on every request,
// creating it with the installation defaults, and writing it back.
#include "settings/sysinfo.h"

#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>

#include "cgi/sjis.h"
#include "settings/strdef.h"
#include "store/records.h"
#include "store/textrec.h"

SYSINFO_REC SYSINFO;

namespace {

// Lines longer than this are taken in pieces of this many characters, each
// piece read as a line of its own.
constexpr size_t kPiece = 999;

void set_defaults() {
  memset(&SYSINFO, 0, sizeof SYSINFO);
  set_field(SYSINFO.LANGUAGE, "japan.lng");
  SYSINFO.DATETIME = 1;
  SYSINFO.IECOLS = 80;
  SYSINFO.NSCOLS = 60;
  SYSINFO.ROWS = 8;
  SYSINFO.MYDATA = 0;
  SYSINFO.MAX_CONTENTS = 4000;
  SYSINFO.FRAME_DIVIDE = 20;
}

// The settings a fresh installation starts with.
void set_install_defaults() {
  set_defaults();
  set_field(SYSINFO.CG_FILE_PATH, "/usr/local/www/data/morvelpic/");
  set_field(SYSINFO.CG_FILE_WEB_PATH, "http://localhost/morvelpic/");
  set_field(SYSINFO.DATA_FILE_PATH, "/usr/local/www/cgi-bin/morveldata/");
  set_field(SYSINFO.ADD_FILE_PATH, "/usr/local/www/data/morvelpic/");
  set_field(SYSINFO.ADD_FILE_WEB_PATH, "http://localhost/morvelpic/");
  set_field(SYSINFO.LOGIN_GIF, "title.jpg");
  set_field(SYSINFO.BACK_GIF, "back.gif");
  set_field(SYSINFO.LOG_DATE, "365");
}

// Every setting in the order the settings file lists them: the key, and the
// text field or the number it fills.
struct Setting {
  const char* key;
  char* text;      // a text field, or nullptr for a number
  size_t size;
  int32_t* number;
};

const Setting kSettings[] = {
    {"LANGUAGE", SYSINFO.LANGUAGE, sizeof SYSINFO.LANGUAGE, nullptr},
    {"CG_FILE_PATH", SYSINFO.CG_FILE_PATH, sizeof SYSINFO.CG_FILE_PATH, nullptr},
    {"CG_FILE_WEB_PATH", SYSINFO.CG_FILE_WEB_PATH, sizeof SYSINFO.CG_FILE_WEB_PATH, nullptr},
    {"DATA_FILE_PATH", SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, nullptr},
    {"ADD_FILE_PATH", SYSINFO.ADD_FILE_PATH, sizeof SYSINFO.ADD_FILE_PATH, nullptr},
    {"ADD_FILE_WEB_PATH", SYSINFO.ADD_FILE_WEB_PATH, sizeof SYSINFO.ADD_FILE_WEB_PATH, nullptr},
    {"LOGIN_GIF", SYSINFO.LOGIN_GIF, sizeof SYSINFO.LOGIN_GIF, nullptr},
    {"BACK_GIF", SYSINFO.BACK_GIF, sizeof SYSINFO.BACK_GIF, nullptr},
    {"LOG_DATE", SYSINFO.LOG_DATE, sizeof SYSINFO.LOG_DATE, nullptr},
    {"DATETIME", nullptr, 0, &SYSINFO.DATETIME},
    {"IECOLS", nullptr, 0, &SYSINFO.IECOLS},
    {"NSCOLS", nullptr, 0, &SYSINFO.NSCOLS},
    {"ROWS", nullptr, 0, &SYSINFO.ROWS},
    {"MYDATA", nullptr, 0, &SYSINFO.MYDATA},
    {"MAX_CONTENTS", nullptr, 0, &SYSINFO.MAX_CONTENTS},
    {"LOGOFF_URL", SYSINFO.LOGOFF_URL, sizeof SYSINFO.LOGOFF_URL, nullptr},
    {"FRAME_DIVIDE", nullptr, 0, &SYSINFO.FRAME_DIVIDE},
};

void apply_setting(std::string_view key, std::string_view value) {
  for (const Setting& t : kSettings) {
    if (key != t.key) continue;
    if (t.text) {
      memset(t.text, 0, t.size);
      copy_text(t.text, t.size, value);
    } else {
      *t.number = parse_num(value);
    }
    return;
  }
}

void apply_file(std::string_view bytes) {
  for (std::string_view line : line_pieces(bytes, kPiece)) {
    // A NUL ends the text of a piece.
    line = line.substr(0, line.find('\0'));
    if (line.size() <= 1) continue;
    std::string_view key, value;
    if (!next_token(line, key) || !next_token(line, value)) continue;
    apply_setting(key, value);
  }
}

std::string settings_text() {
  std::string out;
  for (const Setting& t : kSettings) {
    std::string value;
    if (t.text) {
      // The log-off address is written only when there is one; a value
      // never holds a line feed or comma, which would break the line.
      if (t.text == SYSINFO.LOGOFF_URL && !t.text[0]) continue;
      value = field_text(std::string_view(t.text, strnlen(t.text, t.size)), true);
    } else {
      value = std::to_string(*t.number);
    }
    out += t.key;
    out += ',';
    out += value;
    out += ",\n";
  }
  return out;
}

// Replaces the settings file in one step: readers in other requests see the
// old file or the new one, never a missing or partly written one.
void write_settings(const char* path) {
  std::string tmp = std::string(path) + ".tmp";
  DirLock lock(path);
  replace_file(path, tmp.c_str(), settings_text());
}

}  // namespace

void SysFileOpen(const char* path) {
  set_defaults();
  std::string bytes;
  if (read_file(path, bytes)) {
    apply_file(bytes);
  } else {
    // First request of an installation: start from the defaults, and keep
    // working with them even when the file cannot be created. A file that
    // exists but cannot be read is never overwritten.
    set_install_defaults();
    if (access(path, F_OK) != 0) write_settings(path);
  }
  memset(STRDEF, 0, sizeof STRDEF);
  StrdefFileOpen(SYSINFO.LANGUAGE);
}

void SysFileWrite(const char* path) { write_settings(path); }
