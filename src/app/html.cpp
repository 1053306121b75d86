// Output helpers for the pages.
#include "app/html.h"

#include <array>
#include <charconv>
#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "settings/sysinfo.h"

// The pages print with "%s" and "%d" alone, a great many times a page: those
// are written straight out; any other conversion goes to printf.
void pr(const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  bool plain = true;
  for (const char* p = std::strchr(fmt, '%'); p && plain; p = std::strchr(p + 2, '%'))
    plain = p[1] == 's' || p[1] == 'd' || p[1] == '%';
  if (!plain) {
    vprintf(fmt, ap);
    va_end(ap);
    return;
  }
  for (const char* p = fmt;;) {
    const char* at = std::strchr(p, '%');
    if (!at) {
      fputs_unlocked(p, stdout);
      break;
    }
    fwrite_unlocked(p, 1, static_cast<size_t>(at - p), stdout);
    if (at[1] == 's') {
      const char* s = va_arg(ap, const char*);
      fputs_unlocked(s ? s : "(null)", stdout);
    } else if (at[1] == 'd') {
      char digits[16];
      const auto r = std::to_chars(digits, digits + sizeof digits, va_arg(ap, int));
      fwrite_unlocked(digits, 1, static_cast<size_t>(r.ptr - digits), stdout);
    } else {
      putc_unlocked('%', stdout);
    }
    p = at + 2;
  }
  va_end(ap);
}

std::string esc(std::string_view s) {
  std::string out;
  esc_into(out, s);
  return out;
}

void esc_into(std::string& out, std::string_view s) {
  // Runs of characters that stand as they are go out in one piece.
  static constexpr auto kSpecial = [] {
    std::array<bool, 256> t{};
    for (unsigned char c : std::string_view("&<>\"'")) t[c] = true;
    return t;
  }();
  out.reserve(out.size() + s.size());
  size_t from = 0;
  for (size_t i = 0; i < s.size(); i++) {
    if (!kSpecial[static_cast<unsigned char>(s[i])]) continue;
    out.append(s.data() + from, i - from);
    switch (s[i]) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += "&#39;";
    }
    from = i + 1;
  }
  out.append(s.data() + from, s.size() - from);
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
