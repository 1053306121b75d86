// Taking uploaded files: ownership, safe names, the move into place.
#include "cgi/upload.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "store/fileio.h"

std::string safe_upload_name(std::string_view name, size_t max) {
  name = name.substr(0, sjis_fit(name, max));
  // A leading dot would make a hidden file (".htaccess") in a directory the
  // web server serves, or name the directory itself.
  if (name.empty() || name[0] == '.') return "";
  for (size_t i = 0; i < name.size(); i++) {
    unsigned char c = static_cast<unsigned char>(name[i]);
    if (sjis_lead(c) && i + 1 < name.size()) {
      i++;
      continue;
    }
    if (c < 0x20 || c == '/' || c == '\\') return "";
  }
  return std::string(name);
}

bool is_picture_name(std::string_view name) {
  if (name.find(',') != std::string_view::npos) return false;
  if (safe_upload_name(name) != name) return false;
  size_t dot = name.rfind('.');
  if (dot == std::string_view::npos) return false;
  std::string ext(name.substr(dot + 1));
  for (char& c : ext) c = static_cast<char>(tolower(static_cast<unsigned char>(c)));
  for (const char* e : {"gif", "jpg", "jpeg", "png", "webp", "bmp", "ico"})
    if (ext == e) return true;
  return false;
}

bool take_upload(const char* field, int n, TakenUpload& out, size_t max) {
  out = {};
  std::string value = cgi_value(field, n);
  if (value.empty()) return false;
  std::vector<char> buf(value.begin(), value.end());
  buf.push_back('\0');
  char name[PATH_SIZE], tmp[PATH_SIZE];
  cut_filename(buf.data(), name, sizeof name, tmp, sizeof tmp);
  struct stat st;
  if (!cgi_own_upload(tmp) || lstat(tmp, &st) != 0 || !S_ISREG(st.st_mode)) return false;
  out.tmp = tmp;
  out.name = safe_upload_name(name, max);
  return !out.name.empty();
}

int place_upload(const TakenUpload& u, const std::string& target) {
  if (u.tmp.empty() || !cgi_own_upload(u.tmp)) return -1;
  return filemove(u.tmp.c_str(), target.c_str()) == 0 ? 0 : -1;
}

void discard_upload(const std::string& tmp) {
  if (!tmp.empty() && cgi_own_upload(tmp)) unlink(tmp.c_str());
}
