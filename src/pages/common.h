// Pieces shared by the page families: refusal page, folder backgrounds,
// hidden and numeric form fields, browser detection, message titles and
// dates as the lists show them, the edit right of authors, user look-ups.
#pragma once
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "store/acl.h"
#include "store/folder.h"
#include "store/message.h"
#include "store/user.h"

// The body of a page the user may not use: system background, message slot
// 3 and a button (slot 4) that goes back. Ends the page.
void refusal_page();
// "\t\t<BODY ...>" with the system background.
void system_body();
// "\t\t<BODY ...>" with the folder's own background picture when it has one,
// else the system background when that is set, else nothing.
void folder_body(int32_t folder, const char* backpic);
// <INPUT TYPE="hidden" NAME="name" VALUE="value"> and a line feed; the value
// is escaped.
void hidden(const char* name, std::string_view value);
void hidden(const char* name, long value);
// The request's SKEY as a hidden field.
void hidden_skey();
// A form field read as a decimal number (0 when empty, not a number, or
// beyond the signed 32-bit range).
int32_t form_int(const char* name, int n = 0);
// A value read as form_int reads it.
int32_t form_number(const std::string& value);
// A form field's whole value.
std::string form_str(const char* name, int n = 0);
// True when the browser identifies itself as MSIE (text widths differ).
bool is_msie();
// Width of text inputs for this browser.
int text_cols();

// The folder's line into sB_TITLE and its settings into sB_TITLE2, both
// cleared first so that a folder without them reads as empty; returns the
// settings. `in_tree`, when given, tells whether the folder has a line.
//
// A page that takes a folder number from the form opens nothing of a
// folder without a line: the message store creates missing files where a
// directory exists, and a deleted folder's leftovers must not grow.
B_TITLE2 read_folder(int32_t folder, bool* in_tree = nullptr);

// The picture a folder is shown with: its own picture `dirpic` (its DIRPIC;
// "<folder>/<name>" under the picture directory) or the picture of its
// kind; empty for a line of no known kind.
std::string folder_icon(const B_TITLE& f, std::string_view dirpic);

// The folders the user may read, in tree order, from one read of the tree:
// a folder below one the user may not read is left out whatever its own
// access, as the menu never leads to it.
std::vector<B_TITLE> readable_folders(AclTables& tables);

// Messages a page of the room list shows; the details page finds the page
// that holds a message with it.
constexpr int32_t kRoomRows = 20;

// Index positions of the first record of each message number from 1 up, in
// ascending number order: the sequence the room list's orders 2 and 3 page
// through and the details page steps along. Linear in the index for the
// numbers the store hands out; only an index with far-flung numbers sorts.
std::vector<uint32_t> number_order(std::span<const INDEX_DATA> index);

// A message's title as the lists show it: "Re:^<depth>:" before a reply's
// title, and "--Delete--" in place of a deleted message's title.
std::string list_title(const INDEX_DATA& m);
void list_title_into(std::string& out, const INDEX_DATA& m);
// The title with the reply prefix alone, as the message's own page heads it.
std::string reply_title(const INDEX_DATA& m);
// WRITE_DATE as the pages show it: the day alone when DATETIME is 2.
std::string_view shown_date(const INDEX_DATA& m);
// Whether the current user may edit message `m` as its author: the board
// allows authors to rewrite, the user wrote it, and the user may write. The
// store step and the details page's edit button both ask this.
bool may_edit_own(const B_TITLE2& conf, const INDEX_DATA& m);

// Deletes a user everywhere a later user of the same ID could inherit
// something: his line of the user master, his session keys, his group
// memberships and his access entries in every folder. His messages and
// picture stay.
void remove_user(const char* user_id);

// User records looked up during one page, by the ID as stored in messages
// and read marks. The user master is read once, on the first look-up; each
// ID is then matched as ReadMST_USER matches it, parsing only its own line,
// and a user who no longer exists is remembered as missing. So a page pays
// for the users it shows, not for every user.
class UserCache {
 public:
  const MST_USER* find(std::string_view id);
  // USER_NAME, or the ID itself when the user no longer exists (a view of
  // `id`, or of the cache, which lives as long as the request).
  std::string_view name(std::string_view id);

 private:
  struct Hash {
    using is_transparent = void;
    size_t operator()(std::string_view s) const { return std::hash<std::string_view>()(s); }
  };
  // By ID; null for an ID that names nobody. The records are held apart,
  // so that a pointer given out stays good as more are found.
  std::unordered_map<std::string, const MST_USER*, Hash, std::equal_to<>> seen_;
  std::deque<MST_USER> found_;
  std::string master_;  // "user.mst" as read
  std::unique_ptr<UserLines> index_;  // of master_, made on the first look-up
};

// The request's one user cache, shared by the pages and the compact message
// view, so that the user master is read once per request.
UserCache& request_users();
// The request's one set of access tables, holding the folders' levels and
// icons too, shared in the same way: each of their files is read once per
// request.
AclTables& request_acl();
