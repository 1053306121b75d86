// Log-in and session keys (to be completed with the user store).
#include "app/login.h"

MST_SKEY sMST_SKEY;

int32_t G_LoginChk(char*, const char*) { return -1; }
int G_SkeyChk(const char*) { return 0; }
void WriteMST_SKEY() {}
int ReadMST_SKEY(int32_t, char* user_id) {
  user_id[0] = '\0';
  return -1;
}
int32_t ReadMST_SKEY2(const char*) { return -1; }
int DeleteMST_SKEY(const char*) { return -1; }
