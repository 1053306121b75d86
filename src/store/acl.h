// Folder access control: the group entries "b_g_acl.mst" and user entries
// "b_u_acl.mst" of all folders, and chk_ACL, which decides what the
// logged-in user may do in a folder.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "store/folder.h"

static_assert(std::endian::native == std::endian::little,
              "record files hold little-endian integers");

// Access levels.
constexpr int ACL_NONE = 0;
constexpr int ACL_READ = 1;
constexpr int ACL_WRITE = 2;
constexpr int ACL_ADMIN = 3;

struct B_G_ACL {
  int32_t FOLDER_NO;
  int32_t T02_GROUP_ID;
  int32_t GROUPMODE;  // level for the group's members: 1 or 2
};
static_assert(sizeof(B_G_ACL) == 12);
static_assert(offsetof(B_G_ACL, FOLDER_NO) == 0);
static_assert(offsetof(B_G_ACL, T02_GROUP_ID) == 4);
static_assert(offsetof(B_G_ACL, GROUPMODE) == 8);

struct B_U_ACL {
  int32_t FOLDER_NO;
  char USER_ID[24];  // NUL-terminated, the rest zero
  int32_t USERMODE;  // level for the user: 1, 2 or 3
};
static_assert(sizeof(B_U_ACL) == 32);
static_assert(offsetof(B_U_ACL, FOLDER_NO) == 0);
static_assert(offsetof(B_U_ACL, USER_ID) == 4);
static_assert(offsetof(B_U_ACL, USERMODE) == 28);

extern B_G_ACL sB_G_ACL;
extern B_U_ACL sB_U_ACL;

// The files chk_ACL decides from, each read the first time a decision
// needs it and then kept, so that deciding for many folders reads each
// file once. A decision opens only the files it gets to, as reading them
// afresh would (opening a missing entry or settings file creates it empty).
class AclTables {
 public:
  // many_folders: for callers that decide for many folders. The entries are
  // then sorted by folder once, and of the settings only each folder's
  // levels and icon are kept (FolderHeads). Otherwise each decision scans
  // the entries and reads the folder's record afresh with ReadB_TITLE2.
  explicit AclTables(bool many_folders = false) : many_(many_folders), heads_(many_folders) {}

  // The folder's user and group entries, in file order; valid until the
  // next call.
  std::span<const B_U_ACL> user_entries(int32_t folder);
  std::span<const B_G_ACL> group_entries(int32_t folder);
  // The groups G_MST_USER belongs to, in file order.
  const std::vector<int32_t>& my_groups();
  // The folder's READ_LEVEL and WRITE_LEVEL; false when it has no settings
  // record. Without many_folders the record is read into sB_TITLE2.
  bool levels(int32_t folder, int32_t& read, int32_t& write);
  // As ReadB_TITLE2: the folder's first settings record into `out`; 0, or
  // -1 when there is none (`out` then unchanged, and sB_TITLE2 is left as
  // it is either way).
  int read_settings(int32_t folder, B_TITLE2& out);
  // The folder's icon file name (its DIRPIC), empty when it has none.
  std::string_view icon(int32_t folder);

 private:
  bool many_;
  template <class R>
  std::span<const R> entries_of(std::optional<std::vector<R>>& all, std::vector<R>& some,
                                const char* name, int32_t folder);

  std::optional<std::vector<B_U_ACL>> uacl_;
  std::optional<std::vector<B_G_ACL>> gacl_;
  std::vector<B_U_ACL> some_uacl_;  // without many_folders: one folder's entries
  std::vector<B_G_ACL> some_gacl_;
  std::optional<std::vector<int32_t>> groups_;
  FolderHeads heads_;
};

// The access level 0-3 of G_MST_USER in the folder. Leaves the last user
// and group entries of the folder it looked at in sB_U_ACL and sB_G_ACL,
// and, over tables made without many_folders, the folder's settings in
// sB_TITLE2 when it got as far as reading them.
int chk_ACL(int32_t folder, AclTables& tables);
// The same over the files as they are now.
int chk_ACL(int32_t folder);

// The folder's group entry number `index` (from 0, in the order added) into
// sB_G_ACL; -1 when there is none.
int ReadB_G_ACL(int32_t folder, int index);
// Replaces the entry with sB_G_ACL's folder and group (0), or adds it (-1;
// also -1 when the file cannot be written).
int WriteB_G_ACL();
// Removes the entries of that folder and group, or with folder 0 the
// group's entries in every folder. 0 if one was removed, else -1.
int DeleteB_G_ACL(int32_t folder, int32_t group);

// As above, for user entries and sB_U_ACL.
int ReadB_U_ACL(int32_t folder, int index);
int WriteB_U_ACL();
int DeleteB_U_ACL(int32_t folder, const char* user_id);
// Removes the entries of that user in every folder, so that a later user
// given the same ID inherits no rights. 0 when at least one was removed.
int DeleteB_U_ACL2(const char* user_id);
// Removes every group and user entry of these folders, one rewrite per
// file, so that a later folder of a reused number inherits no rights.
void DeleteFOLDER_ACL(const std::vector<int32_t>& folders);
