// Field-level helpers for the comma-separated text stores and the settings
// and language files: numbers as the C library reads them, comma fields
// found Shift_JIS-aware, tokens split at commas and line feeds, and lines
// appended so that each starts on a line of its own.
#pragma once
#include <cstdint>
#include <string>
#include <string_view>

// A decimal number as atol reads one: leading blanks, an optional sign,
// digits up to the first other byte; anything else gives 0. Values beyond
// 32 bits stop at the nearest limit instead of wrapping.
int32_t parse_num(std::string_view s);

// Takes the next comma-ended field off the front of `rest`; false when no
// comma is left. A Shift_JIS second byte is never taken for the comma.
bool next_field(std::string_view& rest, std::string_view& out);

// The next token of `rest` split at commas and line feeds, runs of them
// skipped (so a token is never empty); false when none is left.
bool next_token(std::string_view& rest, std::string_view& out);

// The part of a text that a comma-separated line can hold as one field:
// it ends before the first line feed (and carriage return, unless
// `keep_cr`) and before the first comma, and loses a lone lead byte at its
// end. Anything more would split the line or shift the fields after it.
std::string_view field_text(std::string_view s, bool keep_cr = false);

// Appends `line` to `out`, first ending an unterminated last line, so that
// a line written after a hand-edited file's last line never joins it.
void put_line(std::string& out, std::string_view line);

// Appends `line` (ending in its own line feed) to the file at `path`, whose
// contents were read as `text`, in one write. An unterminated last line is
// ended first, so that the new line never runs on from it. 0 or -1.
int append_line(const char* path, std::string_view text, std::string_view line);
