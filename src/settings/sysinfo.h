// System settings: the record loaded from the settings file next to the
// program on every request, and the file's reader and writer.
#pragma once
#include <cstdint>

struct SYSINFO_REC {
  char LANGUAGE[1002];
  char CG_FILE_PATH[1002];
  char CG_FILE_WEB_PATH[1002];
  char DATA_FILE_PATH[1002];
  char ADD_FILE_PATH[1002];
  char ADD_FILE_WEB_PATH[1002];
  char LOGIN_GIF[252];
  char BACK_GIF[252];
  char LOG_DATE[10];
  int32_t DATETIME;
  int32_t IECOLS;
  int32_t NSCOLS;
  int32_t ROWS;
  int32_t MYDATA;
  int32_t MAX_CONTENTS;
  char LOGOFF_URL[1002];
  int32_t FRAME_DIVIDE;
};

extern SYSINFO_REC SYSINFO;

// Fills SYSINFO from the file (creating it with the defaults when missing),
// then clears STRDEF and loads the system's language file.
void SysFileOpen(const char* path);
// Writes all of SYSINFO to the file, replacing it.
void SysFileWrite(const char* path);
