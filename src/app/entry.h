// The process entry: settings, input, the user, one page, exit.
#pragma once

int morvel_main(int argc, char** argv);
// Derives the settings file's path from the program's path: the extension
// (after the last ".", the first character not examined) becomes ".ini".
void make_ini_path(const char* program, char* out, unsigned size);
