// Unread folder marks: per board, the users who excluded it from unread
// tracking ("unread.dat" in the board's directory, one user ID per line).
#pragma once
#include <cstdint>

int ChkUNREAD(int32_t folder, const char* user_id);
int WriteUNREAD(int32_t folder, const char* user_id);
int DeleteUNREAD(int32_t folder, const char* user_id);
int ReadUNREAD(int32_t folder, int line, char* out);  // out: at least 300 bytes
