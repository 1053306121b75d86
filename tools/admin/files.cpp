// The table of the files the stores keep, by place: what `check` expects,
// what it takes for a leftover temporary file, and what it leaves alone.
// A new store file is one line here.
#include <cstring>

#include "admin.h"
#include "app/login.h"
#include "store/acl.h"
#include "store/attach_sizes.h"
#include "store/chat.h"
#include "store/guest_user.h"
#include "store/message.h"
#include "store/read_cache.h"
#include "store/thread_map.h"

namespace {

struct Known {
  Place place;
  const char* pattern;  // '#': one or more digits (the number), '*': any bytes
  Role role;
  size_t record;
};

const Known kKnown[] = {
    {Place::kData, "user.mst", Role::kText, 0},
    {Place::kData, "user2.mst", Role::kText, 0},
    {Place::kData, "user3.mst", Role::kText, 0},
    {Place::kData, "user4.mst", Role::kText, 0},
    {Place::kData, "skey.mst", Role::kRecords, sizeof(MST_SKEY)},
    {Place::kData, "b_title.mst", Role::kText, 0},
    {Place::kData, "b_title2.mst", Role::kRecords, sizeof(B_TITLE2)},
    {Place::kData, "group.mst", Role::kText, 0},
    {Place::kData, "g_user.mst", Role::kText, 0},
    {Place::kData, "b_g_acl.mst", Role::kRecords, sizeof(B_G_ACL)},
    {Place::kData, "b_u_acl.mst", Role::kRecords, sizeof(B_U_ACL)},
    {Place::kData, "system.log", Role::kText, 0},
    {Place::kData, "g_user.dat", Role::kRecords, sizeof(GUEST_USER)},
    {Place::kData, "quarantine", Role::kKnownDir, 0},
    {Place::kData, "TEMP", Role::kTemporary, 0},  // group.mst's rewrite
    {Place::kData, "*.tmp", Role::kTemporary, 0},
    {Place::kData, "*.TMP", Role::kTemporary, 0},
    {Place::kFolder, "index.dat", Role::kRecords, sizeof(INDEX_DATA)},
    {Place::kFolder, "add_file.dat", Role::kRecords, sizeof(ADD_FILE)},
    {Place::kFolder, "unread.dat", Role::kText, 0},
    {Place::kFolder, "chat.dat", Role::kRecords, sizeof(CHAT_DATA)},
    {Place::kFolder, "chat.idx", Role::kRecords, sizeof(CHAT_IDX)},
    {Place::kFolder, "x#.dat", Role::kBody, 0},
    {Place::kFolder, "r#.dat", Role::kMarks, sizeof(READ_POINT)},
    {Place::kFolder, "*.tmp", Role::kTemporary, 0},
    {Place::kFolder, "*.TMP", Role::kTemporary, 0},
    {Place::kAttach, "*.part", Role::kTemporary, 0},  // an attachment being moved in
    {Place::kProgram, "CGI#", Role::kTemporary, 0},   // uploads of a request
    {Place::kProgram, "*.ini.tmp", Role::kTemporary, 0},
};

// Whether `name` matches `pat`; the digits '#' matched, in `number`.
bool match(const char* pat, std::string_view name, int32_t& number) {
  for (size_t i = 0;; pat++) {
    if (!*pat) return i == name.size();
    if (*pat == '*') {
      for (size_t j = name.size() + 1; j-- > i;)
        if (match(pat + 1, name.substr(j), number)) return true;
      return false;
    }
    if (*pat == '#') {
      size_t j = i;
      int64_t v = 0;
      while (j < name.size() && name[j] >= '0' && name[j] <= '9' && v <= INT32_MAX)
        v = v * 10 + (name[j++] - '0');
      if (j == i || v > INT32_MAX) return false;
      number = static_cast<int32_t>(v);
      i = j;
      continue;
    }
    if (i == name.size() || name[i] != *pat) return false;
    i++;
  }
}

}  // namespace

FileClass classify(Place place, std::string_view name) {
  FileClass c;
  for (const Known& k : kKnown) {
    if (k.place != place || !match(k.pattern, name, c.number)) continue;
    c.role = k.role;
    c.record = k.record;
    return c;
  }
  // Derived files of a board (their temporaries too).
  const std::string n(name);
  if (place == Place::kFolder && (is_read_cache_name(n.c_str()) || is_thread_map_name(n.c_str()) ||
                                   is_attach_sizes_name(n.c_str()))) {
    c.role = Role::kDerived;
  }
  return c;
}
