// Search: the form (keywords, writer, any or all keywords, one folder or
// all) and the result page that shows every matching message.
#pragma once
#include <string>
#include <string_view>
#include <vector>

// JOB=SEARCH: the search form.
void j_SEARCH();
// JOB=SEARCHDISP: a heading per folder searched and every matching message
// of its board through the compact view.
void j_SEARCHDISP();

// The keywords of a search text: the pieces between blanks (0x20; a
// two-byte blank separates nothing), at most ten, where consecutive blanks
// give empty pieces that take a place among the ten. Only the non-empty
// ones are returned.
std::vector<std::string> split_keywords(std::string_view text);
