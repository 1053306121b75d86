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
// passing over equal ones. Equal numbers do not keep their order, so no
// other sort gives the same result; the passes are not run one by one but
// worked out for each group number at once, which gives the same order:
//
// - Restricted to the memberships of group g and higher, the passes act as
//   they would on those memberships alone, so a group's order depends only
//   on the higher groups' memberships, not the lower ones'.
// - A membership of g with h higher ones before it has exactly one of them
//   carried past it by each pass until none is left before it: it joins
//   the run of g's at the front after pass h, behind the run.
// - Each pass starting with such a run carries its first membership to the
//   run's end; once the higher groups are all past (one pass each), the
//   passes left put the run into the file backwards.
std::vector<uint32_t> bubble_order(const std::vector<Member>& members) {
  const size_t n = members.size();
  std::vector<int32_t> numbers;
  numbers.reserve(n);
  for (const Member& m : members) numbers.push_back(m.group);
  std::sort(numbers.begin(), numbers.end());
  numbers.erase(std::unique(numbers.begin(), numbers.end()), numbers.end());
  auto rank_of = [&](int32_t g) {
    return static_cast<size_t>(std::lower_bound(numbers.begin(), numbers.end(), g) - numbers.begin());
  };
  // Per membership: how many of a higher group stand before it (counted
  // with a Fenwick tree over the ranks); per group: its memberships in file
  // order, and how many memberships are of a higher group.
  std::vector<uint32_t> fenwick(numbers.size() + 1, 0), higher_before(n);
  std::vector<std::vector<uint32_t>> by_rank(numbers.size());
  for (size_t i = 0; i < n; i++) {
    size_t r = rank_of(members[i].group);
    uint32_t not_higher = 0;
    for (size_t k = r + 1; k > 0; k -= k & (~k + 1)) not_higher += fenwick[k];
    higher_before[i] = static_cast<uint32_t>(i) - not_higher;
    for (size_t k = r + 1; k <= numbers.size(); k += k & (~k + 1)) fenwick[k]++;
    by_rank[r].push_back(static_cast<uint32_t>(i));
  }
  std::vector<uint32_t> order;
  order.reserve(n);
  size_t higher = n;
  std::vector<uint32_t> run;  // circular: the run starts at `head`
  for (const std::vector<uint32_t>& group : by_rank) {
    higher -= group.size();
    run.clear();
    size_t head = 0, passes = 0;
    for (size_t j = 0; j < group.size();) {
      const size_t joins_after = higher_before[group[j]];
      size_t end = j;
      while (end < group.size() && higher_before[group[end]] == joins_after) end++;
      // The passes up to this one each carried the run's first to its end;
      // the memberships joining now go behind the run as it then stands.
      if (!run.empty()) head = (head + (joins_after - passes)) % run.size();
      run.insert(run.begin() + static_cast<std::ptrdiff_t>(head), group.begin() + j, group.begin() + end);
      head = (head + (end - j)) % run.size();
      passes = joins_after;
      j = end;
    }
    head = (head + (higher - passes)) % run.size();
    for (size_t k = run.size(); k-- > 0;) order.push_back(run[(head + k) % run.size()]);
  }
  return order;
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
