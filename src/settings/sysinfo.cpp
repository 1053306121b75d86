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

void apply_setting(std::string_view key, std::string_view value) {
  struct Text {
    const char* key;
    char* dst;
    size_t size;
  };
  const Text texts[] = {
      {"LANGUAGE", SYSINFO.LANGUAGE, sizeof SYSINFO.LANGUAGE},
      {"CG_FILE_PATH", SYSINFO.CG_FILE_PATH, sizeof SYSINFO.CG_FILE_PATH},
      {"CG_FILE_WEB_PATH", SYSINFO.CG_FILE_WEB_PATH,
       sizeof SYSINFO.CG_FILE_WEB_PATH},
      {"DATA_FILE_PATH", SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH},
      {"ADD_FILE_PATH", SYSINFO.ADD_FILE_PATH, sizeof SYSINFO.ADD_FILE_PATH},
      {"ADD_FILE_WEB_PATH", SYSINFO.ADD_FILE_WEB_PATH,
       sizeof SYSINFO.ADD_FILE_WEB_PATH},
      {"LOGIN_GIF", SYSINFO.LOGIN_GIF, sizeof SYSINFO.LOGIN_GIF},
      {"BACK_GIF", SYSINFO.BACK_GIF, sizeof SYSINFO.BACK_GIF},
      {"LOG_DATE", SYSINFO.LOG_DATE, sizeof SYSINFO.LOG_DATE},
      {"LOGOFF_URL", SYSINFO.LOGOFF_URL, sizeof SYSINFO.LOGOFF_URL},
  };
  for (const Text& t : texts) {
    if (key == t.key) {
      memset(t.dst, 0, t.size);
      copy_text(t.dst, t.size, value);
      return;
    }
  }
  struct Number {
    const char* key;
    int32_t* dst;
  };
  const Number numbers[] = {
      {"DATETIME", &SYSINFO.DATETIME},   {"IECOLS", &SYSINFO.IECOLS},
      {"NSCOLS", &SYSINFO.NSCOLS},       {"ROWS", &SYSINFO.ROWS},
      {"MYDATA", &SYSINFO.MYDATA},       {"MAX_CONTENTS", &SYSINFO.MAX_CONTENTS},
      {"FRAME_DIVIDE", &SYSINFO.FRAME_DIVIDE},
  };
  for (const Number& n : numbers) {
    if (key == n.key) {
      *n.dst = parse_num(value);
      return;
    }
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
  char line[1100];
  auto text = [&](const char* key, std::string_view v) {
    out += key;
    out += ',';
    out += field_text(v, true);
    out += ",\n";
  };
  auto number = [&](const char* key, int32_t v) {
    snprintf(line, sizeof line, "%s,%d,\n", key, v);
    out += line;
  };
  text("LANGUAGE", field(SYSINFO.LANGUAGE));
  text("CG_FILE_PATH", field(SYSINFO.CG_FILE_PATH));
  text("CG_FILE_WEB_PATH", field(SYSINFO.CG_FILE_WEB_PATH));
  text("DATA_FILE_PATH", field(SYSINFO.DATA_FILE_PATH));
  text("ADD_FILE_PATH", field(SYSINFO.ADD_FILE_PATH));
  text("ADD_FILE_WEB_PATH", field(SYSINFO.ADD_FILE_WEB_PATH));
  text("LOGIN_GIF", field(SYSINFO.LOGIN_GIF));
  text("BACK_GIF", field(SYSINFO.BACK_GIF));
  text("LOG_DATE", field(SYSINFO.LOG_DATE));
  number("DATETIME", SYSINFO.DATETIME);
  number("IECOLS", SYSINFO.IECOLS);
  number("NSCOLS", SYSINFO.NSCOLS);
  number("ROWS", SYSINFO.ROWS);
  number("MYDATA", SYSINFO.MYDATA);
  number("MAX_CONTENTS", SYSINFO.MAX_CONTENTS);
  if (SYSINFO.LOGOFF_URL[0] != '\0') text("LOGOFF_URL", field(SYSINFO.LOGOFF_URL));
  number("FRAME_DIVIDE", SYSINFO.FRAME_DIVIDE);
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
