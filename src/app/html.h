// The small output layer every page is printed with: formatted output to
// the response, escaping for text and attributes, and escaping for URLs.
#pragma once
#include <string>
#include <string_view>

// printf to the response.
void pr(const char* fmt, ...) __attribute__((format(printf, 1, 2)));
// Text for HTML content or a double-quoted attribute: & < > " ' escaped.
std::string esc(std::string_view s);
// The same, appended to `out`.
void esc_into(std::string& out, std::string_view s);
// Writes `text` to the response as it is.
void pr_text(std::string_view text);
// Text for a query-string value: everything but unreserved bytes as %XX.
std::string url_esc(std::string_view s);
// "<BODY BACKGROUND="<web path><picture>" BGPROPERTIES=FIXED >" and a line
// feed, with the system background unless a folder picture URL is given.
void body_tag(const char* background_url = nullptr);
// The system background picture URL (CG_FILE_WEB_PATH followed by BACK_GIF).
std::string back_gif_url();
