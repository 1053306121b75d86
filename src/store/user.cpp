// The user master "user.mst" and the sorted copies "user2.mst" (by ID),
// "user3.mst" (by level, highest first) and "user4.mst" (by primary group).
//
// The master is a text store, one user per line in the 12-field format; the
// copies use a 10-field format without WRITE_MODE and PICFILE. Every rewrite
// runs under the data directory's lock and replaces the file atomically.
#include "store/user.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "store/acl.h"
#include "store/pass_sort.h"
#include "store/records.h"
#include "store/textrec.h"

MST_USER sMST_USER;
MST_USER G_MST_USER;

// Reads one line of the master into `u`. The first eleven fields must each
// end in a comma; the twelfth counts only when it does too (else 0). Texts
// longer than their fields are cut at the width.
bool parse_user(std::string_view line, MST_USER& u) {
  std::string_view f[12];
  for (int i = 0; i < 11; i++)
    if (!next_field(line, f[i])) return false;
  bool has_last = next_field(line, f[11]);
  std::memset(&u, 0, sizeof u);
  set_field(u.USER_ID, f[0]);
  set_field(u.USER_NAME, f[1]);
  u.USER_LEVEL = parse_num(f[2]);
  set_field(u.E_MAIL_ADDR, f[3]);
  set_field(u.USER_PASS, f[4]);
  u.P_GROUP = parse_num(f[5]);
  u.USER_DISP_DEF = parse_num(f[6]);
  u.MODE = parse_num(f[7]);
  u.WRITE_MODE = parse_num(f[8]);
  set_field(u.LANGUAGE, f[9]);
  set_field(u.PICFILE, f[10]);
  u.NO_READ_MODE = has_last ? parse_num(f[11]) : 0;
  return true;
}

namespace {

std::vector<MST_USER> parse_users(std::string_view text) {
  std::vector<MST_USER> users;
  users.reserve(static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) + 1);
  MST_USER u;
  for (std::string_view piece : line_pieces(text))
    if (parse_user(piece, u)) users.push_back(u);
  return users;
}

void add_text(std::string& out, std::string_view s) {
  out += field_text(s);
  out += ',';
}
void add_num(std::string& out, int32_t n) {
  out += std::to_string(n);
  out += ',';
}

// The master's 12-field line "%s,%s,%ld,%s,%s,%ld,%ld,%ld,%ld,%s,%s,%ld,\n",
// or the sorted copies' 10-field line, which leaves out WRITE_MODE and
// PICFILE: "%s,%s,%ld,%s,%s,%ld,%ld,%ld,%s,%ld,\n".
std::string format_user(const MST_USER& u, bool master) {
  std::string s;
  add_text(s, field(u.USER_ID));
  add_text(s, field(u.USER_NAME));
  add_num(s, u.USER_LEVEL);
  add_text(s, field(u.E_MAIL_ADDR));
  add_text(s, field(u.USER_PASS));
  add_num(s, u.P_GROUP);
  add_num(s, u.USER_DISP_DEF);
  add_num(s, u.MODE);
  if (master) add_num(s, u.WRITE_MODE);
  add_text(s, field(u.LANGUAGE));
  if (master) add_text(s, field(u.PICFILE));
  add_num(s, u.NO_READ_MODE);
  s += '\n';
  return s;
}

// Rewrites the master line by line: lines without a comma are dropped, a
// line whose first field equals `id` exactly is replaced by `replacement`
// (or dropped when it is null), every other line is copied unchanged.
// 0 when a line matched, -1 otherwise or when the file cannot be rewritten.
int rewrite_master(std::string_view id, const std::string* replacement) {
  std::string path = data_file("user.mst");
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  std::string out;
  out.reserve(text.size() + 1000);
  bool matched = false;
  for (std::string_view piece : line_pieces(text)) {
    int comma = StrFind(piece, ",");
    if (comma < 0) continue;
    if (piece.substr(0, static_cast<size_t>(comma)) == id) {
      matched = true;
      if (replacement) out += *replacement;
    } else {
      out += piece;
    }
  }
  if (replace_file(path.c_str(), (path + ".tmp").c_str(), out) != 0) return -1;
  return matched ? 0 : -1;
}

struct SortEntry {
  char id[sizeof(MST_USER::USER_ID)];
  std::string key;  // unused for the ID order
};

// IDs byte by byte as unsigned values, ASCII capitals taken as small letters.
int compare_ids(const char* a, const char* b) {
  for (;; a++, b++) {
    unsigned char x = static_cast<unsigned char>(*a), y = static_cast<unsigned char>(*b);
    if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x - 'A' + 'a');
    if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y - 'A' + 'a');
    if (x != y) return x < y ? -1 : 1;
    if (x == 0) return 0;
  }
}

// The exchange sort the user list has always had: for each position i and
// each later position j in turn, swap when the entry at i belongs after the
// entry at j. Its treatment of equal keys decides the order of users that
// tie, so its result is kept exactly (worked out from the entries' ranks).
template <class After>
void exchange_sort(std::vector<SortEntry>& v, After after) {
  const size_t n = v.size();
  std::vector<uint32_t> by_key(n);
  for (size_t i = 0; i < n; i++) by_key[i] = static_cast<uint32_t>(i);
  std::stable_sort(by_key.begin(), by_key.end(),
                   [&](uint32_t a, uint32_t b) { return after(v[b], v[a]); });
  std::vector<uint32_t> rank(n);
  uint32_t r = 0;
  for (size_t k = 0; k < n; k++) {
    if (k > 0 && after(v[by_key[k]], v[by_key[k - 1]])) r++;
    rank[by_key[k]] = r;
  }
  std::vector<SortEntry> sorted;
  sorted.reserve(n);
  for (uint32_t i : exchange_sort_order(rank)) sorted.push_back(std::move(v[i]));
  v = std::move(sorted);
}

// Number field `index` (from 0) of a line written as "%0<digits>d" and cut
// to `digits` bytes. False when the line's first field is empty or the line
// ends before that field's comma.
bool numeric_key(std::string_view line, int index, int digits, SortEntry& e) {
  std::string_view f, first;
  if (!next_field(line, first) || first.empty()) return false;
  f = first;
  for (int i = 1; i <= index; i++)
    if (!next_field(line, f)) return false;
  std::memset(e.id, 0, sizeof e.id);
  copy_text(e.id, sizeof e.id, first);
  if (f.empty()) {
    // An empty field gives a key of zero bytes, below every number.
    e.key.assign(static_cast<size_t>(digits), '\0');
    return true;
  }
  // "%0<digits>d": the sign, then zeros up to the width, then the digits.
  const int64_t v = parse_num(f);
  char num[24];
  const char* end = std::to_chars(num, num + sizeof num, v < 0 ? -v : v).ptr;
  const size_t len = static_cast<size_t>(end - num) + (v < 0 ? 1 : 0);
  e.key.clear();
  if (v < 0) e.key += '-';
  if (len < static_cast<size_t>(digits)) e.key.append(static_cast<size_t>(digits) - len, '0');
  e.key.append(num, static_cast<size_t>(end - num));
  e.key.resize(static_cast<size_t>(digits));
  return true;
}

// The master's users, indexed by upper-cased ID; the first line of an ID
// wins, as find_user would find it. Each user's line in the copies' format
// is made once and written into every copy rebuilt.
struct UserIndex {
  struct Entry {
    std::string_view master_line;
    std::string copy_line;
  };
  std::unordered_map<std::string, Entry> by_id;
  explicit UserIndex(std::string_view master) {
    MST_USER u;
    for (std::string_view piece : line_pieces(master)) {
      if (!parse_user(piece, u)) continue;
      auto [it, added] = by_id.try_emplace(upper_id(u.USER_ID));
      if (added) it->second = {piece, format_user(u, false)};
    }
  }
  static std::string upper_id(const char (&id)[sizeof(MST_USER::USER_ID)]) {
    char upper[sizeof id];
    std::memcpy(upper, id, sizeof upper);
    upper[sizeof upper - 1] = '\0';
    ToUppers(upper);
    return upper;
  }
};

// One sorted copy's text: entries from the qualifying lines of `src`,
// sorted, each written from the master. An entry whose user is no longer
// in the master is left out. Leaves the last user written in sMST_USER.
template <class MakeEntry, class After>
std::string sorted_text(std::string_view src, const UserIndex& index, MakeEntry make,
                        After after) {
  std::vector<SortEntry> entries;
  SortEntry e;
  for (std::string_view piece : line_pieces(src))
    if (make(piece, e)) entries.push_back(e);
  exchange_sort(entries, after);
  std::string out;
  out.reserve(src.size());
  const UserIndex::Entry* last = nullptr;
  for (const SortEntry& entry : entries) {
    auto it = index.by_id.find(UserIndex::upper_id(entry.id));
    if (it == index.by_id.end()) continue;
    last = &it->second;
    out += last->copy_line;
  }
  if (last) parse_user(last->master_line, sMST_USER);
  return out;
}

bool id_entry(std::string_view line, SortEntry& e) {
  std::string_view id;
  if (!next_field(line, id) || id.empty()) return false;
  std::memset(e.id, 0, sizeof e.id);
  copy_text(e.id, sizeof e.id, id);
  e.key.clear();
  return true;
}
bool id_after(const SortEntry& a, const SortEntry& b) { return compare_ids(a.id, b.id) > 0; }
bool level_entry(std::string_view line, SortEntry& e) { return numeric_key(line, 2, 4, e); }
bool level_after(const SortEntry& a, const SortEntry& b) { return a.key < b.key; }
bool pgroup_entry(std::string_view line, SortEntry& e) { return numeric_key(line, 5, 8, e); }
bool pgroup_after(const SortEntry& a, const SortEntry& b) { return a.key > b.key; }

// The sorted copies in the order they build on each other: each is sorted
// from the lines of the one before.
struct SortedCopy {
  const char* source;
  const char* target;
  bool (*make)(std::string_view, SortEntry&);
  bool (*after)(const SortEntry&, const SortEntry&);
};
constexpr SortedCopy kCopies[] = {
    {"user.mst", "user2.mst", id_entry, id_after},
    {"user2.mst", "user3.mst", level_entry, level_after},
    {"user3.mst", "user4.mst", pgroup_entry, pgroup_after},
};

// A copy built in a chain from the master is given the master's
// modification time. It is still what a rebuild would write when it has
// that time and was changed after the master last was: any write to the
// master since gives the master a later change time (or, within the same
// clock tick, an equal one, which counts as stale too).
bool same_time(const timespec& a, const timespec& b) {
  return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}
bool later_time(const timespec& a, const timespec& b) {
  return a.tv_sec != b.tv_sec ? a.tv_sec > b.tv_sec : a.tv_nsec > b.tv_nsec;
}
bool copy_current(const std::string& copy, const struct stat& master) {
  struct stat st;
  // An empty copy of a master with users is rebuilt whatever its times say
  // (a copy whose contents a crash lost, say).
  return stat(copy.c_str(), &st) == 0 && same_time(st.st_mtim, master.st_mtim) &&
         later_time(st.st_ctim, master.st_ctim) && (st.st_size > 0 || master.st_size == 0);
}

// sMST_USER as a rebuild of `copy` would leave it: the master's record of
// the copy's last user. Only the copy's end is read (a line of the copies
// is well under 2 KB); the page that lists the copy reads it whole anyway.
void load_last_user(const std::string& copy) {
  Fd fd(open(copy.c_str(), O_RDONLY | O_CLOEXEC));
  struct stat st;
  if (!fd.ok() || fstat(fd.get(), &st) != 0) return;
  const long from = st.st_size > 2048 ? static_cast<long>(st.st_size) - 2048 : 0;
  char tail[2048];
  const long got = pread_some(fd.get(), tail, sizeof tail, from);
  if (got <= 0) return;
  std::string_view last, id;
  for (std::string_view piece : line_pieces(std::string_view(tail, static_cast<size_t>(got))))
    if (piece.find(',') != std::string_view::npos) last = piece;
  if (!next_field(last, id) || id.empty()) return;
  char key[sizeof(MST_USER::USER_ID)];
  copy_text(key, sizeof key, id);
  ReadMST_USER(key);
}

// Rebuilds copies `first` to `last` of kCopies under one lock. The master
// is read and parsed once; each copy after the first is sorted from the
// text just written for the one before, as reading that file would give.
// Copies of a chain from the master that are still current are left as
// they are: the users have not changed since they were built.
void make_sorted(size_t first, size_t last) {
  std::string master_path = data_file("user.mst");
  DirLock lock(master_path.c_str());
  // The master's times are taken before it is read: a change made after
  // that leaves the copies stale, never current with old contents.
  struct stat master_st;
  const bool chain = first == 0 && stat(master_path.c_str(), &master_st) == 0;
  if (chain) {
    // Copies still current at the head of the chain are kept; the rest is
    // built from the last of them.
    while (first <= last && copy_current(data_file(kCopies[first].target), master_st)) first++;
    if (first > last) return load_last_user(data_file(kCopies[last].target));
  }
  std::string src, master;
  bool have_master = load_text_store(master_path.c_str(), master);
  if (first == 0) {
    if (!have_master) return;
    src = master;
  } else if (!load_text_store(data_file(kCopies[first].source).c_str(), src)) {
    return;
  }
  UserIndex index(master);
  for (size_t i = first; i <= last; i++) {
    std::string out = sorted_text(src, index, kCopies[i].make, kCopies[i].after);
    std::string target = data_file(kCopies[i].target);
    if (replace_file(target.c_str(), (target + ".tmp").c_str(), out) == 0 && chain) {
      const timespec times[2] = {{0, UTIME_OMIT}, master_st.st_mtim};
      utimensat(AT_FDCWD, target.c_str(), times, 0);
    }
    src = std::move(out);
  }
}

}  // namespace

void ToUppers(char* text) {
  for (size_t i = 0; text[i];) {
    unsigned char c = static_cast<unsigned char>(text[i]);
    if (sjis_lead(c)) {
      if (!text[i + 1]) break;
      i += 2;
      continue;
    }
    if (c >= 'a' && c <= 'z') text[i] = static_cast<char>(c - 'a' + 'A');
    i++;
  }
}

bool load_users(std::vector<MST_USER>& out) {
  std::string text;
  out.clear();
  if (!load_text_store(data_file("user.mst").c_str(), text)) return false;
  out = parse_users(text);
  return true;
}

const MST_USER* find_user(const std::vector<MST_USER>& users, char* user_id) {
  ToUppers(user_id);
  for (const MST_USER& u : users) {
    char upper[sizeof u.USER_ID];
    std::memcpy(upper, u.USER_ID, sizeof upper);
    ToUppers(upper);
    if (std::strcmp(upper, user_id) == 0) {
      // Equal after folding means equal length, so this fits the buffer.
      std::strcpy(user_id, u.USER_ID);
      return &u;
    }
  }
  return nullptr;
}

namespace {

// The ID a user line holds (cut to the field), folded like the ID asked for
// and zero from its end on (a NUL inside it ends it).
bool folded_id(std::string_view piece, char (&id)[sizeof(MST_USER::USER_ID)]) {
  const size_t comma = piece.find(',');
  if (comma == std::string_view::npos) return false;
  set_field(id, piece.substr(0, comma));
  const size_t len = std::strlen(id);
  std::memset(id + len, 0, sizeof id - len);
  ToUppers(id);
  return true;
}

// A line holding the ID asked for, when it parses (a malformed one is no
// user): the user into `out`, and the ID as stored into `user_id`.
bool parsed_as(std::string_view piece, char* user_id, MST_USER& out) {
  if (!parse_user(piece, out)) return false;
  std::strcpy(user_id, out.USER_ID);
  return true;
}

// IDs as whole zero-padded fields: comparing all their bytes orders them
// as comparing them as texts does.
bool id_less(const char* a, const char* b) { return std::memcmp(a, b, sizeof(MST_USER::USER_ID)) < 0; }

}  // namespace

bool find_user_in(std::string_view text, char* user_id, MST_USER& out) {
  ToUppers(user_id);
  const size_t want = std::strlen(user_id);
  for (std::string_view piece : line_pieces(text)) {
    // Folding keeps the length, so a different length is no match and the
    // line is passed over without more work.
    const size_t comma = piece.find(',');
    if (comma != std::string_view::npos && comma < sizeof(MST_USER::USER_ID) - 1 && comma != want) continue;
    char id[sizeof(MST_USER::USER_ID)];
    if (!folded_id(piece, id) || std::strcmp(id, user_id) != 0) continue;
    if (parsed_as(piece, user_id, out)) return true;
  }
  return false;
}

UserLines::UserLines(std::string_view text) {
  const std::vector<std::string_view> pieces = line_pieces(text);
  lines_.reserve(pieces.size());
  for (std::string_view piece : pieces) {
    Line l;
    if (!folded_id(piece, l.id)) continue;
    l.text = piece;
    lines_.push_back(l);
  }
  // Most files are in ID order already.
  auto less = [](const Line& a, const Line& b) { return id_less(a.id, b.id); };
  if (!std::is_sorted(lines_.begin(), lines_.end(), less)) std::stable_sort(lines_.begin(), lines_.end(), less);
}

bool UserLines::find(char* user_id, MST_USER& out) const {
  ToUppers(user_id);
  char id[sizeof(MST_USER::USER_ID)] = {};
  const size_t len = std::strlen(user_id);
  if (len >= sizeof id) return false;  // longer than any ID a line holds
  std::memcpy(id, user_id, len);
  struct By {
    bool operator()(const Line& l, const char* k) const { return id_less(l.id, k); }
    bool operator()(const char* k, const Line& l) const { return id_less(k, l.id); }
  };
  const auto [from, to] = std::equal_range(lines_.begin(), lines_.end(), static_cast<const char*>(id), By{});
  for (auto it = from; it != to; ++it)
    if (parsed_as(it->text, user_id, out)) return true;
  return false;
}

int ReadMST_USER(char* user_id) {
  std::string text;
  if (!load_text_store(data_file("user.mst").c_str(), text)) {
    ToUppers(user_id);
    return -1;
  }
  MST_USER u;
  if (!find_user_in(text, user_id, u)) return -1;
  sMST_USER = u;
  return 0;
}

int ReadMST_USERcount(int n) {
  std::string text;
  if (!load_text_store(data_file("user.mst").c_str(), text)) return -1;
  size_t want = n <= 0 ? 0 : static_cast<size_t>(n);
  size_t count = 0;
  MST_USER u;
  for (std::string_view piece : line_pieces(text)) {
    if (!parse_user(piece, u)) continue;
    if (count++ == want) {
      sMST_USER = u;
      return 0;
    }
  }
  return -1;
}

int ReWriteMST_USER() {
  std::string line = format_user(sMST_USER, true);
  return rewrite_master(field(sMST_USER.USER_ID), &line);
}

int DeleteMST_USER(const char* user_id) { return rewrite_master(user_id, nullptr); }

int InsertMST_USER() {
  std::string path = data_file("user.mst");
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  // A hand-edited master may lack the final line feed; the new user's line
  // still starts a line of its own.
  return append_line(path.c_str(), text, format_user(sMST_USER, true));
}

void MakeOderID() { make_sorted(0, 0); }
void MakeOderLevel() { make_sorted(1, 1); }
void MakeOderPgroup() { make_sorted(2, 2); }
void MakeOderUpTo(int copies) {
  if (copies >= 1) make_sorted(0, static_cast<size_t>(std::min(copies, 3)) - 1);
}

bool safe_user_id(std::string_view id) {
  if (id.empty() || id[0] == '.') return false;
  for (size_t i = 0; i < id.size(); i++) {
    unsigned char c = static_cast<unsigned char>(id[i]);
    if (sjis_lead(c)) {
      // A lead byte needs a second byte that can be one: alone at the end
      // it is lost when the line is written, and before a comma, blank or
      // control byte the line is read back with a shorter ID. Either way
      // the stored ID would differ from the one checked.
      if (i + 1 == id.size() || static_cast<unsigned char>(id[i + 1]) < 0x40) return false;
      i++;
      continue;
    }
    if (c < 0x20 || c == 0x7F || c == '/' || c == '\\' || c == ',') return false;
  }
  return true;
}

int InsertMST_USER_IF_FREE() {
  std::string path = data_file("user.mst");
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  char id[sizeof sMST_USER.USER_ID];
  std::memcpy(id, sMST_USER.USER_ID, sizeof id);
  id[sizeof id - 1] = '\0';
  // Only an ID the line keeps as it is: one that would lose a byte on the
  // way could come out as another user's, or empty.
  if (!safe_user_id(id)) return 1;
  if (find_user(parse_users(text), id)) return 1;
  // Access entries left by an earlier holder of the ID are no rights of
  // the new user; they go before his line is there.
  DeleteB_U_ACL2(std::string(field(sMST_USER.USER_ID)).c_str());
  return append_line(path.c_str(), text, format_user(sMST_USER, true));
}

int ClearMST_USER_PGROUP(int32_t group) {
  std::string path = data_file("user.mst");
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  std::string out;
  out.reserve(text.size());
  int changed = 0;
  MST_USER u;
  for (std::string_view piece : line_pieces(text)) {
    if (parse_user(piece, u) && u.P_GROUP == group) {
      u.P_GROUP = 0;
      put_line(out, format_user(u, true));
      changed++;
    } else {
      out += piece;
    }
  }
  if (changed == 0) return 0;
  return replace_file(path.c_str(), (path + ".tmp").c_str(), out) == 0 ? changed : -1;
}
