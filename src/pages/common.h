// Pieces shared by the page families: refusal page, folder backgrounds,
// hidden fields, numeric form fields and browser detection.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// The body of a page the user may not use: system background, message slot
// 3 and a button (slot 4) that goes back. Ends the page.
void refusal_page();
// "\t\t<BODY ...>" with the folder's own background picture when it has one,
// else the system background when that is set, else nothing.
void folder_body(int32_t folder, const char* backpic);
// <INPUT TYPE="hidden" NAME="name" VALUE="value"> and a line feed; the value
// is escaped.
void hidden(const char* name, std::string_view value);
void hidden(const char* name, long value);
// The request's SKEY as a hidden field.
void hidden_skey();
// A form field read as a decimal number (0 when empty or not a number).
int32_t form_int(const char* name, int n = 0);
// A form field's whole value.
std::string form_str(const char* name, int n = 0);
// True when the browser identifies itself as MSIE (text widths differ).
bool is_msie();
// Width of text inputs for this browser.
int text_cols();
