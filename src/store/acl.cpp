// Folder access entries for groups and users, and the access decision that
// combines them with the user's level, the folder's levels and the user's
// groups.
#include "store/acl.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cgi/sjis.h"
#include "store/folder.h"
#include "store/group.h"
#include "store/records.h"
#include "store/user.h"

B_G_ACL sB_G_ACL;
B_U_ACL sB_U_ACL;

namespace {

constexpr size_t ACL_ID_MAX = sizeof(B_U_ACL::USER_ID) - 1;

std::string group_acl_path() { return data_file("b_g_acl.mst"); }
std::string user_acl_path() { return data_file("b_u_acl.mst"); }

// A user ID as the entry's field holds it.
std::string_view acl_id(std::string_view id) { return id.substr(0, sjis_fit(id, ACL_ID_MAX)); }

// The entry `index` of `folder` among `recs`, or null.
template <class R>
const R* nth_of_folder(const std::vector<R>& recs, int32_t folder, int index) {
  if (index < 0) return nullptr;
  for (const R& r : recs)
    if (r.FOLDER_NO == folder && index-- == 0) return &r;
  return nullptr;
}

}  // namespace

int ReadB_G_ACL(int32_t folder, int index) {
  std::vector<B_G_ACL> recs;
  if (!load_records(group_acl_path().c_str(), recs)) return -1;
  const B_G_ACL* r = nth_of_folder(recs, folder, index);
  if (!r) return -1;
  sB_G_ACL = *r;
  return 0;
}

int WriteB_G_ACL() {
  B_G_ACL rec = sB_G_ACL;
  auto same = [&rec](const B_G_ACL& r) {
    return r.FOLDER_NO == rec.FOLDER_NO && r.T02_GROUP_ID == rec.T02_GROUP_ID;
  };
  // 0 only when an entry was written over; an added entry gives -1.
  bool replaced;
  int done = upsert_record(group_acl_path().c_str(), rec, same, &replaced);
  return replaced ? done : -1;
}

int DeleteB_G_ACL(int32_t folder, int32_t group) {
  std::string path = group_acl_path(), tmp = path + ".tmp";
  auto drop = [folder, group](const B_G_ACL& r) {
    return r.T02_GROUP_ID == group && (folder == 0 || r.FOLDER_NO == folder);
  };
  int removed = remove_records<B_G_ACL>(path.c_str(), tmp.c_str(), drop);
  return removed > 0 ? 0 : -1;
}

int ReadB_U_ACL(int32_t folder, int index) {
  std::vector<B_U_ACL> recs;
  if (!load_records(user_acl_path().c_str(), recs)) return -1;
  const B_U_ACL* r = nth_of_folder(recs, folder, index);
  if (!r) return -1;
  sB_U_ACL = *r;
  return 0;
}

int WriteB_U_ACL() {
  B_U_ACL rec = sB_U_ACL;
  std::string id(acl_id(field(sB_U_ACL.USER_ID)));
  set_field(rec.USER_ID, id);
  auto same = [&rec, &id](const B_U_ACL& r) {
    return r.FOLDER_NO == rec.FOLDER_NO && field(r.USER_ID) == id;
  };
  bool replaced;
  int done = upsert_record(user_acl_path().c_str(), rec, same, &replaced);
  return replaced ? done : -1;
}

int DeleteB_U_ACL(int32_t folder, const char* user_id) {
  std::string_view id = acl_id(user_id);
  std::string path = user_acl_path(), tmp = path + ".tmp";
  auto drop = [folder, id](const B_U_ACL& r) {
    return r.FOLDER_NO == folder && field(r.USER_ID) == id;
  };
  int removed = remove_records<B_U_ACL>(path.c_str(), tmp.c_str(), drop);
  return removed > 0 ? 0 : -1;
}

int DeleteB_U_ACL2(const char* user_id) {
  std::string_view id = acl_id(user_id);
  std::string path = user_acl_path(), tmp = path + ".tmp";
  auto drop = [id](const B_U_ACL& r) { return field(r.USER_ID) == id; };
  int removed = remove_records<B_U_ACL>(path.c_str(), tmp.c_str(), drop);
  return removed > 0 ? 0 : -1;
}

template <class R>
std::span<const R> AclTables::entries_of(std::optional<std::vector<R>>& all, std::vector<R>& some,
                                         const char* name, int32_t folder) {
  auto by_folder = [](const R& a, const R& b) { return a.FOLDER_NO < b.FOLDER_NO; };
  if (!all) {
    load_records(data_file(name).c_str(), all.emplace());
    // Sorted once, each folder's entries keep their file order.
    if (many_) std::stable_sort(all->begin(), all->end(), by_folder);
  }
  if (many_) {
    R key{};
    key.FOLDER_NO = folder;
    auto [lo, hi] = std::equal_range(all->begin(), all->end(), key, by_folder);
    return std::span<const R>(lo, hi);
  }
  some.clear();
  for (const R& r : *all)
    if (r.FOLDER_NO == folder) some.push_back(r);
  return some;
}

std::span<const B_U_ACL> AclTables::user_entries(int32_t folder) {
  return entries_of(uacl_, some_uacl_, "b_u_acl.mst", folder);
}

std::span<const B_G_ACL> AclTables::group_entries(int32_t folder) {
  return entries_of(gacl_, some_gacl_, "b_g_acl.mst", folder);
}

const std::vector<int32_t>& AclTables::my_groups() {
  if (!groups_) {
    std::vector<int32_t> list(GROUP_LIST_SIZE, 0);
    std::string id(field(G_MST_USER.USER_ID));
    ReadGROUP_USER1(id.c_str(), list.data());
    list.erase(std::find(list.begin(), list.end(), 0), list.end());
    groups_ = std::move(list);
  }
  return *groups_;
}

bool AclTables::levels(int32_t folder, int32_t& read, int32_t& write) {
  if (many_) {
    const FolderHead* h = heads_.find(folder);
    if (!h) return false;
    read = h->READ_LEVEL, write = h->WRITE_LEVEL;
    return true;
  }
  if (ReadB_TITLE2(folder) != 0) return false;
  read = sB_TITLE2.READ_LEVEL, write = sB_TITLE2.WRITE_LEVEL;
  return true;
}

int AclTables::read_settings(int32_t folder, B_TITLE2& out) {
  return many_ ? heads_.read_record(folder, out) : read_b_title2_into(folder, out);
}

std::string_view AclTables::icon(int32_t folder) {
  const FolderHead* h = heads_.find(folder);
  return h ? std::string_view(h->DIRPIC) : std::string_view();
}

int chk_ACL(int32_t folder) {
  AclTables tables;
  return chk_ACL(folder, tables);
}

int chk_ACL(int32_t folder, AclTables& tables) {
  const MST_USER& user = G_MST_USER;
  if (user.USER_LEVEL > 99) return ACL_ADMIN;
  std::string_view uid = field(user.USER_ID);
  int r = 0;

  // User entries: the (last) entry naming the user sets the level.
  for (const B_U_ACL& e : tables.user_entries(folder)) {
    sB_U_ACL = e;
    if (field(e.USER_ID) == uid) r = e.USERMODE;
  }
  if (r > 2) return ACL_ADMIN;
  if (r == 2) return ACL_WRITE;

  // The folder's own minimum levels.
  if (int32_t read, write; tables.levels(folder, read, write)) {
    if (read <= user.USER_LEVEL && r <= 0) r = ACL_READ;
    if (write <= user.USER_LEVEL && r <= 1) r = ACL_WRITE;
  }
  if (r == 2) return ACL_WRITE;

  // Group entries, for the primary group and then for each membership. The
  // memberships are read when the first entry needs them.
  for (const B_G_ACL& e : tables.group_entries(folder)) {
    sB_G_ACL = e;
    if (e.T02_GROUP_ID == user.P_GROUP && e.GROUPMODE > r) {
      r = e.GROUPMODE;
      if (r == 2) return ACL_WRITE;
    }
    for (int32_t g : tables.my_groups()) {
      if (g == e.T02_GROUP_ID && e.GROUPMODE > r) {
        r = e.GROUPMODE;
        if (r == 2) return ACL_WRITE;
      }
    }
  }
  // Entries with modes outside 1-3 can carry the running level outside the
  // range callers compare against.
  return std::clamp(r, ACL_NONE, ACL_ADMIN);
}

void DeleteFOLDER_ACL(const std::vector<int32_t>& folders) {
  std::vector<int32_t> sorted(folders);
  std::sort(sorted.begin(), sorted.end());
  auto listed = [&sorted](int32_t f) { return std::binary_search(sorted.begin(), sorted.end(), f); };
  std::string gpath = group_acl_path(), gtmp = gpath + ".tmp";
  remove_records<B_G_ACL>(gpath.c_str(), gtmp.c_str(),
                          [&](const B_G_ACL& r) { return listed(r.FOLDER_NO); });
  std::string upath = user_acl_path(), utmp = upath + ".tmp";
  remove_records<B_U_ACL>(upath.c_str(), utmp.c_str(),
                          [&](const B_U_ACL& r) { return listed(r.FOLDER_NO); });
}
