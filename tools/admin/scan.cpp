// The walk shared by check and repair. The data directory's system files
// are looked at under the data directory's lock, then each folder's
// directory under the folder's lock, taken while the first is held: the
// order every writer of the program keeps. A finding is fixed (by repair)
// at once, under the same locks, so nothing changes between the look and
// the fix.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "admin.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/acl.h"
#include "store/attach_sizes.h"
#include "store/folder.h"
#include "store/group.h"
#include "store/message.h"
#include "store/quarantine.h"
#include "store/records.h"
#include "store/textrec.h"
#include "store/user.h"
#include "store/read_cache.h"

namespace {

struct Entry {
  std::string name;
  bool dir;
  off_t size;
  time_t changed;  // the last change of its contents
};

// The entries of `dir` in name order, without "." and ".."; false when it
// cannot be read.
bool list_dir(const std::string& dir, std::vector<Entry>& out) {
  out.clear();
  DIR* d = opendir(dir.c_str());
  if (!d) return false;
  while (struct dirent* e = readdir(d)) {
    if (!strcmp(e->d_name, ".") || !strcmp(e->d_name, "..")) continue;
    struct stat st;
    if (fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    out.push_back({e->d_name, S_ISDIR(st.st_mode), st.st_size, st.st_mtime});
  }
  closedir(d);
  std::sort(out.begin(), out.end(), [](const Entry& a, const Entry& b) { return a.name < b.name; });
  return true;
}

// Whether anything but empty directories lies under `dir`.
bool holds_files(const std::string& dir) {
  std::vector<Entry> entries;
  list_dir(dir, entries);
  for (const Entry& e : entries)
    if (!e.dir || holds_files(dir + "/" + e.name)) return true;
  return false;
}

// A directory name of decimal digits: a folder's number.
bool folder_number(const std::string& name, int32_t& out) {
  if (name.empty() || name.size() > 9 || name.find_first_not_of("0123456789") != std::string::npos)
    return false;
  out = static_cast<int32_t>(std::stol(name));
  return true;
}

bool remove_file(const std::string& path) { return unlink(path.c_str()) == 0 || errno == ENOENT; }

// Cuts a record file back to its whole records, through a replacement.
bool cut_partial(const std::string& path, size_t record) {
  DirLock lock(path.c_str());
  std::string bytes;
  if (!read_file(path.c_str(), bytes)) return false;
  if (bytes.size() % record == 0) return true;
  bytes.resize(bytes.size() - bytes.size() % record);
  return replace_file(path.c_str(), (path + ".tmp").c_str(), bytes) == 0;
}

// The lines of a text store as the program reads them, blank ones left out,
// with their line numbers from 1.
std::vector<std::pair<size_t, std::string_view>> text_lines(std::string_view text) {
  std::vector<std::pair<size_t, std::string_view>> out;
  size_t no = 0;
  for (std::string_view piece : line_pieces(text)) {
    no++;
    if (piece.find_first_not_of("\r\n") != std::string_view::npos) out.push_back({no, piece});
  }
  return out;
}

// Takes `n` comma-ended fields off the front of `line`; false when one lacks its comma.
bool fields(std::string_view line, std::string_view* out, int n) {
  for (int i = 0; i < n; i++)
    if (!next_field(line, out[i])) return false;
  return true;
}

// What the system files say: the folders of the tree, the users and groups.
struct System {
  // Whether each file could be read (a missing one is empty); what an
  // unreadable one would decide is never judged.
  bool tree_known = false, users_known = false, groups_known = false;
  std::map<int32_t, int32_t> folders;        // number: kind
  std::set<std::string, std::less<>> users;  // IDs as stored
  std::set<int32_t> groups;
};

class Walk {
 public:
  Walk(Run& run, std::string program_dir)
      : run_(run),
        data_(SYSINFO.DATA_FILE_PATH),
        add_(SYSINFO.ADD_FILE_PATH),
        program_dir_(std::move(program_dir)) {}

  int go() {
    std::vector<Entry> top;
    if (!list_dir(data_, top)) {
      fprintf(stderr, "morvel-admin: cannot read the data directory %s\n", data_.c_str());
      return 2;
    }
    DirLock lock(data_file("b_title.mst").c_str());
    list_dir(data_, top);
    std::set<int32_t> numbers;
    for (const Entry& e : top) {
      int32_t f;
      if (e.dir && folder_number(e.name, f)) numbers.insert(f);
      if (!e.dir) system_file(e);
    }
    read_users();
    read_groups();
    read_tree();
    memberships();
    access_entries();
    folder_settings();
    std::vector<Entry> attach;
    if (!add_.empty() && add_ != data_ && list_dir(add_, attach))
      for (const Entry& e : attach) {
        int32_t f;
        if (e.dir && folder_number(e.name, f)) numbers.insert(f);
      }
    size_t done = 0;
    for (int32_t f : numbers) {
      run_.progress(done++, numbers.size());
      folder(f);
    }
    run_.progress(numbers.size(), numbers.size());
    uploads();
    return 0;
  }

 private:
  Run& run_;
  std::string data_, add_, program_dir_;
  System sys_;

  void temporary(const std::string& path) {
    run_.finding("temporary file " + path, &kRemove, [path] { return remove_file(path); });
  }
  void records(const std::string& path, off_t size, size_t record) {
    if (size % static_cast<off_t>(record) == 0) return;
    run_.finding(path + " ends in a partial record", &kTruncate,
                 [path, record] { return cut_partial(path, record); });
  }
  void unparsed(const std::string& path, size_t line) {
    run_.finding(path + " line " + std::to_string(line) + " does not parse");
  }

  // Reads a system file; false, with a finding, when it exists but cannot be read.
  bool readable(const std::string& path, std::string& text) {
    if (read_file(path.c_str(), text) || errno == ENOENT) return true;
    run_.finding(path + " cannot be read");
    return false;
  }

  void system_file(const Entry& e) {
    FileClass c = classify(Place::kData, e.name);
    if (c.role == Role::kTemporary) temporary(data_ + e.name);
    if (c.role == Role::kRecords) records(data_ + e.name, e.size, c.record);
  }

  void read_users() {
    const std::string path = data_file("user.mst");
    std::string text;
    sys_.users_known = readable(path, text);
    std::map<std::string, size_t> seen;  // upper-cased ID: first line
    for (auto [no, line] : text_lines(text)) {
      MST_USER u;
      if (!parse_user(line, u)) {
        unparsed(path, no);
        continue;
      }
      std::string id(field(u.USER_ID));
      sys_.users.insert(id);
      if (!safe_user_id(id))
        run_.finding(path + " line " + std::to_string(no) + ": unsafe user ID \"" + id + "\"");
      std::string upper = id;
      ToUppers(upper.data());
      auto [it, fresh] = seen.emplace(upper, no);
      if (!fresh)
        run_.finding(path + " line " + std::to_string(no) + ": user ID \"" + id +
                     "\" is taken already by line " + std::to_string(it->second));
    }
  }

  void read_groups() {
    const std::string path = data_file("group.mst");
    std::string text;
    sys_.groups_known = readable(path, text);
    for (auto [no, line] : text_lines(text)) {
      std::string_view f[2];
      if (!fields(line, f, 2))
        unparsed(path, no);
      else
        sys_.groups.insert(parse_num(f[0]));
    }
  }

  void read_tree() {
    const std::string path = data_file("b_title.mst");
    std::string text;
    sys_.tree_known = readable(path, text);
    for (auto [no, line] : text_lines(text)) {
      std::string_view f[3];
      if (!fields(line, f, 3)) {
        unparsed(path, no);
        continue;
      }
      const int kind = f[2].empty() ? 0 : toupper(static_cast<unsigned char>(f[2][0]));
      sys_.folders.emplace(parse_num(f[1]), kind == 'B' ? KIND_BOARD : kind == 'C' ? KIND_CHAT : KIND_DIR);
    }
  }

  void memberships() {
    const std::string path = data_file("g_user.mst");
    std::string text;
    read_file(path.c_str(), text);
    for (auto [no, line] : text_lines(text)) {
      std::string_view f[2];
      if (!fields(line, f, 2)) {
        unparsed(path, no);
        continue;
      }
      const int32_t group = parse_num(f[0]);
      const std::string id(f[1]);
      const char* why = sys_.groups_known && !sys_.groups.count(group) ? "group"
                        : sys_.users_known && !sys_.users.count(id)    ? "user"
                                                                       : nullptr;
      if (!why) continue;
      run_.finding(path + " line " + std::to_string(no) + ": membership of " + id + " in group " +
                       std::to_string(group) + " names a " + why + " that does not exist",
                   &kDrop, [group, id] {
                     sGROUP_USER = {};
                     sGROUP_USER.T02_GROUP_ID = group;
                     set_field(sGROUP_USER.USER_ID, id);
                     return DeleteGROUP_USER(1) == 0;
                   });
    }
  }

  void access_entries() {
    const std::string gpath = data_file("b_g_acl.mst"), upath = data_file("b_u_acl.mst");
    std::string bytes;
    std::vector<B_G_ACL> g;
    if (read_file(gpath.c_str(), bytes)) split_records(bytes, g);
    for (const B_G_ACL& e : g) {
      const bool folder_gone = sys_.tree_known && !sys_.folders.count(e.FOLDER_NO);
      if (!folder_gone && (!sys_.groups_known || sys_.groups.count(e.T02_GROUP_ID))) continue;
      run_.finding(gpath + ": entry of group " + std::to_string(e.T02_GROUP_ID) + " in folder " +
                       std::to_string(e.FOLDER_NO) + " names a " + (folder_gone ? "folder" : "group") +
                       " that does not exist",
                   &kDrop, [gpath, e] {
                     return remove_records<B_G_ACL>(
                                gpath.c_str(), (gpath + ".tmp").c_str(), [&e](const B_G_ACL& r) {
                                  return r.FOLDER_NO == e.FOLDER_NO && r.T02_GROUP_ID == e.T02_GROUP_ID;
                                }) >= 0;
                   });
    }
    std::vector<B_U_ACL> u;
    if (read_file(upath.c_str(), bytes)) split_records(bytes, u);
    for (const B_U_ACL& e : u) {
      const std::string id(field(e.USER_ID));
      const bool folder_gone = sys_.tree_known && !sys_.folders.count(e.FOLDER_NO);
      if (!folder_gone && (!sys_.users_known || sys_.users.count(id))) continue;
      run_.finding(upath + ": entry of user " + id + " in folder " + std::to_string(e.FOLDER_NO) +
                       " names a " + (folder_gone ? "folder" : "user") + " that does not exist",
                   &kDrop, [upath, e, id] {
                     return remove_records<B_U_ACL>(
                                upath.c_str(), (upath + ".tmp").c_str(), [&](const B_U_ACL& r) {
                                  return r.FOLDER_NO == e.FOLDER_NO && field(r.USER_ID) == id;
                                }) >= 0;
                   });
    }
  }

  // Settings records of folders that are not in the tree.
  void folder_settings() {
    if (!sys_.tree_known) return;
    const std::string path = data_file("b_title2.mst");
    std::string bytes;
    std::vector<B_TITLE2> recs;
    if (read_file(path.c_str(), bytes)) split_records(bytes, recs);
    std::set<int32_t> gone;
    for (const B_TITLE2& r : recs)
      if (!sys_.folders.count(r.FOLDER_NO)) gone.insert(r.FOLDER_NO);
    for (int32_t f : gone)
      run_.finding(path + ": settings of folder " + std::to_string(f) + ", which is not in the folder tree",
                   &kDrop, [f] { return DeleteB_TITLE2(f) == 0; });
  }

  void folder(int32_t f) {
    const std::string dir = folder_dir_path(data_.c_str(), f);
    const std::string adir = add_.empty() ? "" : folder_dir_path(add_.c_str(), f);
    DirLock lock((dir + "/x").c_str());
    auto it = sys_.folders.find(f);
    if (it == sys_.folders.end()) {
      if (!sys_.tree_known) return;
      for (const std::string& d : {dir, adir})
        if (!d.empty() && holds_files(d))
          run_.finding(d + ": directory of folder " + std::to_string(f) + ", which is not in the folder tree",
                       &kQuarantine, [d, label = (d == dir ? "folder" : "attachments") + std::to_string(f)] {
                         return !quarantine(d, label).empty();
                       });
      return;
    }
    std::vector<Entry> entries;
    list_dir(dir, entries);
    std::set<int32_t> bodies;
    std::map<int32_t, off_t> marks;  // number: size
    for (const Entry& e : entries) {
      if (e.dir) continue;
      const FileClass c = classify(Place::kFolder, e.name);
      const std::string path = dir + "/" + e.name;
      if (c.role == Role::kTemporary) temporary(path);
      if (c.role == Role::kRecords) records(path, e.size, c.record);
      if (c.role == Role::kBody) bodies.insert(c.number);
      if (c.role == Role::kMarks) marks[c.number] = e.size;
    }
    if (it->second == KIND_BOARD) board(f, dir, adir, bodies, marks);
  }

  void board(int32_t f, const std::string& dir, const std::string& adir, const std::set<int32_t>& bodies,
             const std::map<int32_t, off_t>& marks) {
    std::string bytes;
    std::vector<INDEX_DATA> index;
    if (read_file(msg_index_path(f).c_str(), bytes)) split_records(bytes, index);
    std::set<int32_t> msgs;
    for (const INDEX_DATA& r : index) {
      msgs.insert(r.MSG_NO);
      if (!bodies.count(r.MSG_NO))
        run_.finding(dir + ": message " + std::to_string(r.MSG_NO) + " has an index record but no body");
    }
    for (int32_t n : bodies)
      if (!msgs.count(n)) {
        const std::string path = msg_body_path(f, n);
        run_.finding(path + ": body of message " + std::to_string(n) + ", which has no index record",
                     &kRemove, [path] { return remove_file(path); });
      }
    for (auto [n, size] : marks) {
      const std::string path = msg_mark_path(f, n);
      if (msgs.count(n))
        records(path, size, sizeof(READ_POINT));
      else
        run_.finding(path + ": read marks of message " + std::to_string(n) + ", which has no index record",
                     &kRemove, [path] { return remove_file(path); });
    }
    std::vector<ADD_FILE> adds;
    if (read_file(msg_add_list_path(f).c_str(), bytes)) split_records(bytes, adds);
    std::set<int32_t> listed;
    for (const ADD_FILE& a : adds)
      if (!msgs.count(a.MSG_NO)) listed.insert(a.MSG_NO);
    for (int32_t n : listed)
      run_.finding(msg_add_list_path(f) + ": attachment records of message " + std::to_string(n) +
                       ", which has no index record",
                   &kDrop, [f, n] { return DeleteADD_FILE(f, n) == 0; });
    attachments(adir, msgs);
    if (verify_read_cache(f) != 0)
      run_.finding(dir + ": derived unread data disagrees with the read-mark files", &kRebuild,
                   [f] { return rebuild_read_cache(f) == 0; });
    if (!verify_attached_sizes(f))
      run_.finding(dir + ": derived attachment sizes disagree with the attached files", &kRemove, [f] {
        drop_attached_sizes(f);
        return verify_attached_sizes(f);
      });
  }

  // The board's attachment directory: "x<n>/<slot>/<file>".
  void attachments(const std::string& adir, const std::set<int32_t>& msgs) {
    std::vector<Entry> entries, slots, files;
    if (adir.empty() || !list_dir(adir, entries)) return;
    for (const Entry& e : entries) {
      int32_t n;
      if (!e.dir || e.name.size() < 2 || e.name[0] != 'x' || !folder_number(e.name.substr(1), n)) continue;
      const std::string d = adir + "/" + e.name;
      if (!msgs.count(n)) {
        if (holds_files(d))
          run_.finding(d + ": attached files of message " + std::to_string(n) + ", which has no index record",
                       &kRemove, [d] {
                         DelDIR(d.c_str());
                         return !holds_files(d);
                       });
        continue;
      }
      list_dir(d, slots);
      for (const Entry& s : slots) {
        if (!s.dir || !list_dir(d + "/" + s.name, files)) continue;
        for (const Entry& file : files)
          if (!file.dir && classify(Place::kAttach, file.name).role == Role::kTemporary)
            temporary(d + "/" + s.name + "/" + file.name);
      }
    }
  }

  // Upload files of requests that died, unchanged for an hour.
  void uploads() {
    std::vector<Entry> entries;
    if (!list_dir(program_dir_, entries)) return;
    const time_t hour_ago = time(nullptr) - 3600;
    for (const Entry& e : entries)
      if (!e.dir && e.changed < hour_ago && classify(Place::kProgram, e.name).role == Role::kTemporary)
        temporary(program_dir_ + "/" + e.name);
  }
};

}  // namespace

int scan_site(Run& run, const std::string& program_dir) {
  const int rc = Walk(run, program_dir).go();
  return rc == 2 ? 2 : run.finish();
}
