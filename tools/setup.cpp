// Set-up tool for a new installation: given the program's settings file,
// creates the first administrator when no user exists (printing the random
// password once) and a small demo folder tree when no folder exists. It uses
// the board's own store code, so the files are exactly what the program
// writes.
#include <sys/random.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/folder.h"
#include "store/user.h"

namespace {

std::string random_password(size_t len) {
  static const char alphabet[] =
      "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
  const size_t n = sizeof alphabet - 1;
  std::string out;
  while (out.size() < len) {
    unsigned char b[64];
    if (getrandom(b, sizeof b, 0) != static_cast<ssize_t>(sizeof b)) continue;
    for (unsigned char c : b) {
      // Reject the top of the byte range so every letter is equally likely.
      if (c >= 256 - 256 % n) continue;
      if (out.size() < len) out += alphabet[c % n];
    }
  }
  return out;
}

void create_admin() {
  if (ReadMST_USERcount(0) == 0) return;  // a user exists
  std::string password = random_password(12);
  memset(&sMST_USER, 0, sizeof sMST_USER);
  set_field(sMST_USER.USER_ID, "admin");
  set_field(sMST_USER.USER_NAME, "Administrator");
  sMST_USER.USER_LEVEL = 100;
  set_field(sMST_USER.USER_PASS, password);
  sMST_USER.USER_DISP_DEF = 1;
  sMST_USER.MODE = 1;
  sMST_USER.WRITE_MODE = 1;
  if (InsertMST_USER() != 0) {
    fprintf(stderr, "morvel-setup: cannot write the user master in %s\n",
            SYSINFO.DATA_FILE_PATH);
    return;
  }
  printf("First administrator created.\n");
  printf("  user ID:  admin\n");
  printf("  password: %s   (shown only this once)\n",
         password.c_str());
}

void add_folder(int32_t after, int32_t kind, int32_t depth, const char* name,
                int32_t add_max, const char* info) {
  int32_t number = NextFOLDER_NO();
  memset(&sB_TITLE, 0, sizeof sB_TITLE);
  sB_TITLE.FOLDER_NO = number;
  sB_TITLE.KIND = kind;
  sB_TITLE.DEPTH = depth;
  set_field(sB_TITLE.NAME, name);
  InsertB_TITLE(after);
  memset(&sB_TITLE2, 0, sizeof sB_TITLE2);
  sB_TITLE2.FOLDER_NO = number;
  sB_TITLE2.READ_CHK = 1;
  sB_TITLE2.REWRITE_FLG = 2;
  sB_TITLE2.ADD_MAX = add_max;
  set_field(sB_TITLE2.INFO, info);
  InsertB_TITLE2();
}

void create_demo_tree() {
  if (ReadB_TITLE(1, 2) == 0) return;  // folders exist
  add_folder(1, KIND_DIR, 0, "Demo", 0, "");
  add_folder(1, KIND_BOARD, 1, "Notice board", 3,
             "Post a message with the button below. Replies, edits and attachments work too.");
  add_folder(2, KIND_CHAT, 1, "Chat room", 0, "");
  printf("Demo folders created: Demo / Notice board, Chat room.\n");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    fprintf(stderr, "usage: morvel-setup SETTINGS.ini\n");
    return 2;
  }
  SysFileOpen(argv[1]);
  if (!SYSINFO.DATA_FILE_PATH[0]) {
    fprintf(stderr, "morvel-setup: %s names no DATA_FILE_PATH\n", argv[1]);
    return 1;
  }
  create_admin();
  create_demo_tree();
  return 0;
}
