// The user commands of morvel-admin: a new random password for a user, and
// the first administrator (with a small demo tree) of a new installation.
#include <sys/random.h>

#include <cstdio>
#include <cstring>

#include "admin.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/folder.h"
#include "store/records.h"
#include "store/user.h"

std::string random_password(size_t len) {
  // No letters that read alike (I, l, O, 0, 1): the password is read off a
  // terminal and typed in.
  static const char alphabet[] = "ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz23456789";
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

int reset_password(const std::string& id) {
  const std::string master = data_file("user.mst");
  // The look-up and the rewrite form one step, as the user pages take it.
  DirLock lock(master.c_str());
  char key[sizeof sMST_USER.USER_ID] = {};
  if (id.empty() || id.size() >= sizeof key || ReadMST_USER(strcpy(key, id.c_str())) != 0) {
    fprintf(stderr, "morvel-admin: no user \"%s\" in %s\n", id.c_str(), master.c_str());
    return 1;
  }
  const std::string password = random_password(12);
  set_field(sMST_USER.USER_PASS, password);
  if (ReWriteMST_USER() != 0) {
    fprintf(stderr, "morvel-admin: cannot rewrite %s\n", master.c_str());
    return 1;
  }
  // The sorted copies of the user list hold the password too.
  MakeOderUpTo(3);
  printf("New password of %s: %s   (shown only this once)\n", key, password.c_str());
  return 0;
}

namespace {

bool create_admin(const std::string& admin_cmd) {
  if (ReadMST_USERcount(0) == 0) return true;  // a user exists
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
    fprintf(stderr, "morvel-admin: cannot write the user master in %s\n", SYSINFO.DATA_FILE_PATH);
    return false;
  }
  MakeOderUpTo(3);
  printf("First administrator created.\n");
  printf("  user ID:  admin\n");
  printf("  password: %s   (shown only this once)\n", password.c_str());
  printf("  lost it?  %s reset-password admin\n", admin_cmd.c_str());
  return true;
}

void add_folder(int32_t after, int32_t kind, int32_t depth, const char* name, int32_t add_max,
                const char* info) {
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

int init_site(const std::string& admin_cmd) {
  if (!create_admin(admin_cmd)) return 1;
  create_demo_tree();
  return 0;
}
