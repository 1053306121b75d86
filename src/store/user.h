// The user master "user.mst" (one comma-separated line per user) and its
// three sorted copies for the user list.
#pragma once
#include <cstdint>

struct MST_USER {
  char USER_ID[22];
  char USER_NAME[82];
  int32_t USER_LEVEL;
  char E_MAIL_ADDR[252];
  char USER_PASS[24];
  int32_t P_GROUP;
  int32_t USER_DISP_DEF;
  int32_t MODE;
  int32_t WRITE_MODE;
  char LANGUAGE[256];
  char PICFILE[256];
  int32_t NO_READ_MODE;
};

extern MST_USER sMST_USER;
