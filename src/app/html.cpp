// Output helpers for the pages.
#include "app/html.h"

#include <cstdarg>
#include <cstdio>

#include "settings/sysinfo.h"

void pr(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  vprintf(fmt, ap);
  va_end(ap);
}

std::string esc(std::string_view s) {
  std::string out;
  esc_into(out, s);
  return out;
}

void esc_into(std::string& out, std::string_view s) {
  out.reserve(out.size() + s.size());
  for (char c : s) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      case '\'': out += "&#39;"; break;
      default: out += c;
    }
  }
}

void pr_text(std::string_view text) { fwrite(text.data(), 1, text.size(), stdout); }

std::string url_esc(std::string_view s) {
  static const char hex[] = "0123456789ABCDEF";
  std::string out;
  for (unsigned char c : s) {
    if ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
        c == '-' || c == '_' || c == '.' || c == '~') {
      out += static_cast<char>(c);
    } else {
      out += '%';
      out += hex[c >> 4];
      out += hex[c & 15];
    }
  }
  return out;
}

std::string back_gif_url() {
  return std::string(SYSINFO.CG_FILE_WEB_PATH) + SYSINFO.BACK_GIF;
}

void body_tag(const char* background_url) {
  std::string url = background_url ? std::string(background_url) : back_gif_url();
  pr("<BODY BACKGROUND=\"%s\" BGPROPERTIES=FIXED >\n", url.c_str());
}
