// The user master "user.mst" (one comma-separated line per user) and its
// three sorted copies for the user list: "user2.mst" by ID, "user3.mst" by
// level (highest first), "user4.mst" by primary group.
#pragma once
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct MST_USER {
  char USER_ID[22];
  char USER_NAME[82];
  int32_t USER_LEVEL;
  char E_MAIL_ADDR[252];
  char USER_PASS[24];
  int32_t P_GROUP;
  int32_t USER_DISP_DEF;
  int32_t MODE;
  int32_t WRITE_MODE;
  char LANGUAGE[256];
  char PICFILE[256];
  int32_t NO_READ_MODE;
};
static_assert(offsetof(MST_USER, USER_ID) == 0);
static_assert(offsetof(MST_USER, USER_NAME) == 22);
static_assert(offsetof(MST_USER, USER_LEVEL) == 104);
static_assert(offsetof(MST_USER, E_MAIL_ADDR) == 108);
static_assert(offsetof(MST_USER, USER_PASS) == 360);
static_assert(offsetof(MST_USER, P_GROUP) == 384);
static_assert(offsetof(MST_USER, USER_DISP_DEF) == 388);
static_assert(offsetof(MST_USER, MODE) == 392);
static_assert(offsetof(MST_USER, WRITE_MODE) == 396);
static_assert(offsetof(MST_USER, LANGUAGE) == 400);
static_assert(offsetof(MST_USER, PICFILE) == 656);
static_assert(offsetof(MST_USER, NO_READ_MODE) == 912);
static_assert(sizeof(MST_USER) == 916);

// The store's working record: readers fill it, writers store it.
extern MST_USER sMST_USER;
// The user the request runs for (empty for guests), as log-in recognised him.
extern MST_USER G_MST_USER;

// Looks a user up without regard to ASCII letter case. `user_id` is
// upper-cased in place; on a match it receives the ID as stored (same
// length, so the caller's buffer always suffices) and the record is in
// sMST_USER. 0, or -1 when there is no such user (sMST_USER unchanged).
int ReadMST_USER(char* user_id);
// One line of "user.mst" into `u`; false when it lacks one of the eleven
// commas every user line has.
bool parse_user(std::string_view line, MST_USER& u);
// Every well-formed line of "user.mst" in file order; false (with `out`
// empty) when the master can be neither read nor created.
bool load_users(std::vector<MST_USER>& out);
// The first of `users` whose ID matches `user_id` without regard to ASCII
// case, as ReadMST_USER matches: `user_id` is upper-cased in place and, on a
// match, receives the stored ID. Null when there is none.
const MST_USER* find_user(const std::vector<MST_USER>& users, char* user_id);
// The same over the master's bytes `text`, parsing only the matching line:
// false when no line matches; on a match the record is in `out`.
bool find_user_in(std::string_view text, char* user_id, MST_USER& out);
// The master's lines by the ID each holds, folded as find_user_in folds it,
// for a page that looks up many users: each look-up then parses only the
// lines of its own ID. `text` must outlive the index.
class UserLines {
 public:
  explicit UserLines(std::string_view text);
  // As find_user_in(text, user_id, out).
  bool find(char* user_id, MST_USER& out) const;

 private:
  struct Line {
    char id[sizeof(MST_USER::USER_ID)];  // folded
    std::string_view text;
  };
  std::vector<Line> lines_;  // by ID; the lines of one ID in file order
};
// The n-th user line (from 0; 0 or less gives the first) into sMST_USER.
// 0, or -1 when there are not so many.
int ReadMST_USERcount(int n);
// Replaces the line whose ID equals sMST_USER.USER_ID exactly. 0 when a
// line was replaced, -1 otherwise (the file is rewritten in either case).
int ReWriteMST_USER();
// Removes every line whose ID equals `user_id` exactly. 0 when a line was
// removed, -1 otherwise.
int DeleteMST_USER(const char* user_id);
// Appends sMST_USER as a new line (the caller checks the ID is free).
// 0, or -1 when "user.mst" can be neither opened nor created.
int InsertMST_USER();
// Rebuild "user2.mst" from "user.mst", "user3.mst" from "user2.mst" and
// "user4.mst" from "user3.mst". Each line is taken from the master, so the
// copies always show current records. Each overwrites sMST_USER.
void MakeOderID();
void MakeOderLevel();
void MakeOderPgroup();
// MakeOderID, then MakeOderLevel, then MakeOderPgroup, the first `copies`
// of them (1 to 3), reading and parsing the master once for all.
void MakeOderUpTo(int copies);
// Whether `id` may become a user ID: it is a path component of the user's
// picture directory and the first field of a comma-separated line, so it
// must not be empty, start with ".", or hold "/", "\", a comma or a control
// byte, nor a Shift_JIS lead byte without a proper second byte (the line
// would keep another ID than the one checked).
bool safe_user_id(std::string_view id);
// Turns ASCII a-z into A-Z in place, passing over two-byte characters.
void ToUppers(char* text);
// Appends sMST_USER unless a user whose ID equals its ID without regard to
// ASCII case exists, the look-up and the append under one lock, so that two
// requests never add the same user twice, and only when its ID is one
// `safe_user_id` accepts. Access entries an earlier holder of the ID left
// are removed first. 0 added, 1 the ID is taken or unfit, -1 when
// "user.mst" can be neither read nor written.
int InsertMST_USER_IF_FREE();
// Gives every user whose primary group is `group` the primary group 0, in
// one rewrite of the master that leaves every other line as it is. The
// number of users changed, or -1 when the master cannot be rewritten.
int ClearMST_USER_PGROUP(int32_t group);
