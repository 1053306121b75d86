// Groups ("group.mst") and memberships ("g_user.mst"): lookups, ordered
// inserts, removals and the sort of the membership file.
#include "store/group.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "cgi/cgilib.h"
#include "cgi/sjis.h"
#include "store/pass_sort.h"
#include "store/records.h"
#include "store/textrec.h"

MST_GROUP sMST_GROUP;
GROUP_USER sGROUP_USER;

namespace {

constexpr size_t LINE_MAX_BYTES = 999;
constexpr size_t GROUP_NAME_MAX = sizeof(MST_GROUP::T02_GROUP_NAME) - 1;
constexpr size_t MEMBER_ID_MAX = sizeof(GROUP_USER::USER_ID) - 1;

std::string group_line(const MST_GROUP& g) {
  // A line feed would split the line; the name ends before it.
  std::string_view name = field(g.T02_GROUP_NAME);
  name = name.substr(0, std::min(name.find('\n'), name.size()));
  name = name.substr(0, sjis_fit(name, GROUP_NAME_MAX));
  std::string line = std::to_string(g.T02_GROUP_ID);
  line += ',';
  line += name;
  line += ",\n";
  return line;
}

// Splits a membership line into its number and user ID. False when the
// line lacks one of its two commas.
bool parse_member(std::string_view line, int32_t& group, std::string_view& id) {
  std::string_view number;
  if (!next_field(line, number) || !next_field(line, id)) return false;
  group = parse_num(number);
  return true;
}

void put_member(std::string& out, int32_t group, std::string_view id) {
  std::string line = std::to_string(group);
  line += ',';
  line += id;
  line += ",\n";
  put_line(out, line);
}

// The user ID as a membership line can hold it: it ends before a comma or
// line feed and is cut to the field's width.
std::string member_id(std::string_view id) {
  id = field_text(id, true);
  return std::string(id.substr(0, sjis_fit(id, MEMBER_ID_MAX)));
}

struct Member {
  int32_t group;
  std::string_view id;
};

std::vector<Member> parse_members(std::string_view text) {
  std::vector<Member> out;
  Member m;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES))
    if (parse_member(piece, m.group, m.id)) out.push_back(m);
  return out;
}

// The order in which SortGROUP_USER leaves the memberships: that of a
// bubble sort whose every pass, over one membership fewer than the last,
// carries a membership forward until it meets a higher group number,
// passing over equal ones. Equal numbers do not keep their order.
std::vector<uint32_t> bubble_order(const std::vector<Member>& members) {
  std::vector<int32_t> numbers;
  numbers.reserve(members.size());
  for (const Member& m : members) numbers.push_back(m.group);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  std::vector<uint32_t> rank;
  rank.reserve(members.size());
  for (const Member& m : members)
    rank.push_back(static_cast<uint32_t>(
        std::lower_bound(numbers.begin(), numbers.end(), m.group) - numbers.begin()));
  return bubble_sort_order(rank);
}

// Calls fn(group) for each membership of the user, in file order, until it
// returns false. Only lines holding the ID somewhere are parsed.
template <class Fn>
void for_each_membership_of(std::string_view text, std::string_view want, Fn fn) {
  int32_t group;
  std::string_view id;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES)) {
    if (want.empty() ? piece.find(",,") == std::string_view::npos
                     : piece.find(want) == std::string_view::npos)
      continue;
    if (parse_member(piece, group, id) && id == want && !fn(group)) return;
  }
}

// Writes `out` in place of `path` unless it equals what is there.
int store_if_changed(const std::string& path, const std::string& tmp, const std::string& text,
                     const std::string& out) {
  if (out == text) return 0;
  return replace_file(path.c_str(), tmp.c_str(), out);
}

}  // namespace

// ---- "group.mst" ---------------------------------------------------------

bool load_groups(std::vector<MST_GROUP>& out) {
  out.clear();
  std::string text;
  if (!load_text_store(data_file("group.mst").c_str(), text)) return false;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES)) {
    std::string_view rest = piece, number, name;
    if (!next_token(rest, number) || !next_token(rest, name)) continue;
    MST_GROUP g{};
    g.T02_GROUP_ID = parse_num(number);
    set_field(g.T02_GROUP_NAME, name);
    out.push_back(g);
  }
  return true;
}

int ReadGROUP_MST(int32_t group) {
  std::vector<MST_GROUP> all;
  load_groups(all);
  for (const MST_GROUP& g : all) {
    if (g.T02_GROUP_ID != group) continue;
    sMST_GROUP = g;
    return 0;
  }
  return -1;
}

int ReWriteMST_GROUP() {
  std::string path = data_file("group.mst"), tmp = data_file("F_GROUP_MST.tmp");
  std::string line = group_line(sMST_GROUP);
  long id = sMST_GROUP.T02_GROUP_ID;
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  std::string out;
  out.reserve(text.size() + line.size() + 1);
  bool written = false;
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES)) {
    std::string_view rest = piece, number;
    if (!next_token(rest, number)) continue;
    long n = parse_num(number);
    if (!written && id <= n) {
      put_line(out, line);
      written = true;
      if (id == n) continue;  // the old line of this group is replaced
    }
    put_line(out, piece);
  }
  if (!written) put_line(out, line);
  return store_if_changed(path, tmp, text, out);
}

int DeleteMST_GROUP() {
  std::string path = data_file("group.mst"), tmp = data_file("TEMP");
  long id = sMST_GROUP.T02_GROUP_ID;
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  std::string out;
  out.reserve(text.size());
  for (std::string_view piece : line_pieces(text, LINE_MAX_BYTES)) {
    std::string_view rest = piece, number;
    if (!next_token(rest, number) || parse_num(number) == id) continue;
    put_line(out, piece);
  }
  return store_if_changed(path, tmp, text, out);
}

// ---- "g_user.mst" --------------------------------------------------------

int ReadGROUP_USER1(const char* user_id, int32_t* list) {
  std::string text;
  if (!read_file(data_file("g_user.mst").c_str(), text)) return -1;
  size_t count = 0;
  for_each_membership_of(text, user_id, [&](int32_t group) {
    if (count == GROUP_LIST_SIZE - 1) return false;  // the list is full
    list[count++] = group;
    return true;
  });
  list[count] = 0;
  return static_cast<int>(count) - 1;
}

int WriteGROUP_USER() {
  std::string path = data_file("g_user.mst");
  std::string id = member_id(field(sGROUP_USER.USER_ID));
  int32_t group = sGROUP_USER.T02_GROUP_ID;
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  bool present = false;
  for_each_membership_of(text, id, [&](int32_t g) { return !(present = g == group); });
  if (present) return 0;
  std::string line;
  put_member(line, group, id);
  return append_line(path.c_str(), text, line);
}

int DeleteGROUP_USER(int mode) {
  if (mode != 1 && mode != 2) return -1;
  std::string path = data_file("g_user.mst"), tmp = path + ".tmp";
  std::string id = member_id(field(sGROUP_USER.USER_ID));
  int32_t group = sGROUP_USER.T02_GROUP_ID;
  DirLock lock(path.c_str());
  std::string text;
  if (!load_text_store(path.c_str(), text, true)) return -1;
  std::string out;
  out.reserve(text.size());
  for (const Member& m : parse_members(text)) {
    if (m.group == group && (mode == 2 || m.id == id)) continue;
    put_member(out, m.group, m.id);
  }
  return store_if_changed(path, tmp, text, out);
}

int DeleteGROUP_USER2(const char* user_id) {
  std::string path = data_file("g_user.mst"), tmp = path + ".TMP";
  std::string_view id(user_id);
  DirLock lock(path.c_str());
  std::string text;
  if (!read_file(path.c_str(), text)) return 0;  // no memberships at all
  std::string out;
  out.reserve(text.size());
  for (const Member& m : parse_members(text))
    if (m.id != id) put_member(out, m.group, m.id);
  return store_if_changed(path, tmp, text, out);
}

int SortGROUP_USER() {
  std::string path = data_file("g_user.mst"), tmp = path + ".tmp";
  DirLock lock(path.c_str());
  std::string text;
  if (!read_file(path.c_str(), text)) return 0;
  std::vector<Member> members = parse_members(text);
  if (members.size() < 2) return 0;
  std::string out;
  out.reserve(text.size());
  for (uint32_t i : bubble_order(members)) put_member(out, members[i].group, members[i].id);
  return store_if_changed(path, tmp, text, out);
}
