// Log-in with user ID and password, session keys in "skey.mst", and the
// check of a key on every request.
#pragma once
#include <cstdint>

struct MST_SKEY {
  int32_t SKEY;
  char USER_ID[22];
  char REMOTE_ADDR[252];
  char HTTP_USER_AGENT[252];
  char reserved[2];
};
static_assert(sizeof(MST_SKEY) == 532);

extern MST_SKEY sMST_SKEY;

int32_t G_LoginChk(char* uid, const char* upw);
int G_SkeyChk(const char* skey);
void WriteMST_SKEY();
int ReadMST_SKEY(int32_t key, char* user_id);
int32_t ReadMST_SKEY2(const char* user_id);
int DeleteMST_SKEY(const char* user_id);
