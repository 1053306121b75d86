// The message table: 400 slots of 100 bytes filled from a language file.
#pragma once

constexpr int STRDEF_SLOTS = 400;
constexpr int STRDEF_WIDTH = 100;
extern char STRDEF[STRDEF_SLOTS][STRDEF_WIDTH];

// Clears STRDEF and fills it from the language file; leaves it unchanged
// when the file cannot be opened.
void StrdefFileOpen(const char* path);
// Slot n's text, or "" for a slot outside the table.
const char* msg(int n);
// True for a name a user may choose as his language file: a plain file
// name of the working directory ending in ".lng" (no directory part, not
// hidden), so a stored setting can never load another file as messages.
bool language_file_name(const char* name);
