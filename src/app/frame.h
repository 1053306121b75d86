// The page frame and the pages around log-in: header, error page, invalid
// key page, log-in page, top frameset and log-off redirect.
#pragma once

void header_printf();
void j_ERROR2(const char* title, const char* message);
void j_IDerr();
void j_login();
void j_TOP(const char* skey);
void j_LOGOFF();
// Shortens `text` in place to what follows the last `sep` (Shift_JIS aware).
void cut_name(char* text, char sep);
