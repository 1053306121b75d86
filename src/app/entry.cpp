// The request's life: find and load the settings, decode the input,
// establish the user (key, or ID and password, or the log-in page), run the
// page named by JOB, release the input.
#include "app/entry.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "app/dispatch.h"
#include "app/frame.h"
#include "app/memory.h"
#include "app/globals.h"
#include "app/login.h"
#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"

char INI_FILE[300];
char JOB_EXE[50];
char g_uid[24], g_upw[24], g_JOB[24], g_SKEY[24];
char g_databuff[DATABUFF_SIZE];
char g_databuff2[DATABUFF_SIZE];

void make_ini_path(const char* program, char* out, unsigned size) {
  std::string p(program ? program : "");
  if (p.size() > 4) {
    size_t dot = p.find_last_of('.');
    if (dot != std::string::npos && dot > 0) p.resize(dot);
  }
  // A path too long for the buffer is cut before the extension is added, so
  // the name always ends in ".ini".
  size_t keep = sjis_fit(p, size > 5 ? size - 5 : 0);
  p.resize(keep);
  p += ".ini";
  copy_text(out, size, p);
}

namespace {

void finish() {
  fflush(stdout);
  cgi_free();
}

}  // namespace

int morvel_main(int argc, char** argv) {
  // A page leaves in a few large writes.
  static char out_buffer[65536];
  setvbuf(stdout, out_buffer, _IOFBF, sizeof out_buffer);
  const char* program = argc > 0 && argv[0] ? argv[0] : "";
  make_ini_path(program, INI_FILE, sizeof INI_FILE);
  SysFileOpen(INI_FILE);

  // The program's own name: what follows the last backslash, then the last
  // slash. Cut on the whole path first so a long directory never leaks in.
  std::string work(program);
  cut_name(work.data(), '\\');
  cut_name(work.data(), '/');
  copy_text(JOB_EXE, sizeof JOB_EXE, work.c_str());

  cgi_get();
  cgi_getvalue("uid", 0, g_uid);
  cgi_getvalue("upw", 0, g_upw);
  cgi_getvalue("JOB", 0, g_JOB);
  cgi_getvalue("SKEY", 0, g_SKEY);
  // Before the key check and the first output, so that all of the page's
  // own work lands there.
  if (prints_many_messages(g_JOB)) use_huge_heap();

  if (dispatch_without_login()) {
    finish();
    return 0;
  }

  if (g_SKEY[0]) {
    if (G_SkeyChk(g_SKEY) != 1) {
      g_SKEY[0] = '\0';
      j_IDerr();
      finish();
      return 0;
    }
  } else if (!g_uid[0]) {
    j_login();
    finish();
    return 0;
  } else {
    int32_t key = G_LoginChk(g_uid, g_upw);
    if (key == -1) {
      j_login();
      finish();
      return 0;
    }
    snprintf(g_SKEY, sizeof g_SKEY, "%ld", static_cast<long>(key));
    snprintf(g_JOB, sizeof g_JOB, "TOP");
  }
  if (!g_JOB[0]) snprintf(g_JOB, sizeof g_JOB, "TOP");
  G_MST_USER = sMST_USER;

  dispatch();
  finish();
  return 0;
}
