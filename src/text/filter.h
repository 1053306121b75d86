// The one output filter for stored text that is HTML by design: message
// bodies and titles, folder texts, chat lines. Every page prints such text
// through safe_html and nothing else.
#pragma once
#include <string>
#include <string_view>

// HtmlConvert's neutralising of the page-structure tags, and an allow-list
// of formatting tags and harmless attributes: any other tag, comment or
// processing instruction has its "<" written as "&lt;", any other attribute
// is dropped with its value, and links and pictures keep only http:,
// https:, mailto: or relative addresses. What is allowed is copied byte for
// byte.
[[nodiscard]] std::string safe_html(std::string_view html);
// The same, appended to `out`.
void safe_html_into(std::string& out, std::string_view html);
