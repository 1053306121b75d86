// Process-wide values of one request: the settings file's path, the
// program's own name, the request's key fields and the
// two scratch buffers for message bodies.
#pragma once
#include <cstddef>

#include "store/user.h"

constexpr size_t DATABUFF_SIZE = 100002;

extern char INI_FILE[300];
extern char JOB_EXE[50];
extern char g_uid[24], g_upw[24], g_JOB[24], g_SKEY[24];
extern char g_databuff[DATABUFF_SIZE];
extern char g_databuff2[DATABUFF_SIZE];
