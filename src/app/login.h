// Log-in with user ID and password, session keys in "skey.mst", and the
// check of a key on every request.
#pragma once
#include <cstdint>

// One session key record of "skey.mst" (532 bytes, little-endian).
struct MST_SKEY {
  int32_t SKEY;
  char USER_ID[22];
  char REMOTE_ADDR[252];
  char HTTP_USER_AGENT[252];
  char reserved[2];
};
static_assert(sizeof(MST_SKEY) == 532);

extern MST_SKEY sMST_SKEY;

// Checks ID (matched without regard to case; `uid` receives the stored
// spelling) and password, issues a key and logs the log-in. The key, or -1
// when refused. The user's record is left in sMST_USER.
int32_t G_LoginChk(char* uid, const char* upw);
// 1 when the key text names a key on file that is valid for this browser
// (the user's record is then in sMST_USER), 0 otherwise.
int G_SkeyChk(const char* skey);
// Stores sMST_SKEY (SKEY and USER_ID set by the caller) over the user's
// record, or as a new one; address and browser come from this request.
void WriteMST_SKEY();
// The user ID of an accepted key into `user_id` (22 bytes or more): 0, or
// -1 with `user_id` empty.
int ReadMST_SKEY(int32_t key, char* user_id);
// The key on file for exactly this user ID, or -1.
int32_t ReadMST_SKEY2(const char* user_id);
// Removes every key of the user ID. 0, or -1 when the file cannot be read
// or rewritten.
int DeleteMST_SKEY(const char* user_id);
