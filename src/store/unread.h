// Unread folder marks: per board, the users who excluded it from unread
// tracking ("unread.dat" in the board's directory, one user ID per line).
#pragma once
#include <cstdint>
#include <vector>

int ChkUNREAD(int32_t folder, const char* user_id);
// For each of `folders`, whether ChkUNREAD would find the user listed; the
// lists of many boards are read in batches, only where `dirs` (have_dirs of
// the folders, when the caller has it) says the board has a directory.
std::vector<bool> ChkUNREAD_many(const std::vector<int32_t>& folders, const char* user_id,
                                 const std::vector<bool>* dirs = nullptr);
int WriteUNREAD(int32_t folder, const char* user_id);
int DeleteUNREAD(int32_t folder, const char* user_id);
int ReadUNREAD(int32_t folder, int line, char* out);  // out: at least 300 bytes
