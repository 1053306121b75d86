// The readers of the settings, language and text store files, each given
// the input as its whole file.
#include "app/globals.h"
#include "cgi/sjis.h"
#include "fuzz_support.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/folder.h"
#include "store/group.h"
#include "store/user.h"

namespace {

// The settings file may name any data directory; nothing is read there.
void (*const kStores[])(std::string_view) = {
    [](std::string_view in) { fuzz_write_file("fuzz.ini", in), SysFileOpen("fuzz.ini"); },
    [](std::string_view in) {
      fuzz_write_file("fuzz.lng", in);
      StrdefFileOpen("fuzz.lng");
      for (int n : {0, 1, 4, 100, 278, 330, 999, 1000}) (void)msg(n);
    },
    [](std::string_view in) {
      fuzz_write_file("user.mst", in);
      std::vector<MST_USER> users;
      load_users(users);
      char id[] = "admin";
      ReadMST_USER(id);
      for (int n = 1; n <= 3; n++) ReadMST_USERcount(n);
    },
    [](std::string_view in) {
      fuzz_write_file("b_title.mst", in);
      std::vector<B_TITLE> folders;
      load_folders(folders);
      for (int32_t k = 0; k <= 3; k++) ReadB_TITLE(k, 0), ReadB_TITLE(k, 1);
    },
    [](std::string_view in) {
      fuzz_write_file("group.mst", in), fuzz_write_file("g_user.mst", in);
      for (int32_t k = 0; k <= 3; k++) ReadGROUP_MST(k);
      static int32_t groups[GROUP_LIST_SIZE];
      ReadGROUP_USER1("admin", groups);
    },
    [](std::string_view in) {
      fuzz_write_file("b_g_acl.mst", in), fuzz_write_file("b_u_acl.mst", in);
      for (int32_t k = 0; k <= 3; k++) ReadB_G_ACL(k, 1), ReadB_U_ACL(k, 1);
    },
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  [[maybe_unused]] static const bool ready = fuzz_enter_scratch_dir();
  copy_text(SYSINFO.DATA_FILE_PATH, sizeof SYSINFO.DATA_FILE_PATH, g_fuzz_dir + "/");
  return fuzz_pick(data, size, kStores);
}
