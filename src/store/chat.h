// The chat store of each chat room: "chat.dat", the room's newest lines
// (newest first, at most 61), and "chat.idx", one entry per member who has
// entered the room with his display choices and when he was last there.
// Both are fixed-size record files in the room's directory.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>
#include <vector>

static_assert(std::endian::native == std::endian::little,
              "record files hold little-endian integers");

// One chat line. Strings are NUL-terminated Shift_JIS, the rest zero.
struct CHAT_DATA {
  int32_t MODE;               // 0 a notice of the room, else the writer's MODE (1 or 2)
  char USER_NAME[82];         // "System" for notices
  char COLOR[22];             // colour of the name, without "#"
  char MTALK[252];            // the line, HTML allowed
  char TALK_DATE[20];         // "YYYY/MM/DD hh:mm.ss"
  char REMOTE_ADDR[252];      // the writer's address
  char HTTP_USER_AGENT[252];  // the writer's browser
};
static_assert(sizeof(CHAT_DATA) == 884);
static_assert(offsetof(CHAT_DATA, MODE) == 0);
static_assert(offsetof(CHAT_DATA, USER_NAME) == 4);
static_assert(offsetof(CHAT_DATA, COLOR) == 86);
static_assert(offsetof(CHAT_DATA, MTALK) == 108);
static_assert(offsetof(CHAT_DATA, TALK_DATE) == 360);
static_assert(offsetof(CHAT_DATA, REMOTE_ADDR) == 380);
static_assert(offsetof(CHAT_DATA, HTTP_USER_AGENT) == 632);

// One member's entry for a room.
struct CHAT_IDX {
  char USER_ID[22];     // the key
  char COLOR[22];       // colour he last entered with
  int32_t LOG_LINE;     // lines he chose to see
  int32_t RELOAD_TIME;  // seconds between reloads, 999 for none
  char LAST_DATE[17];   // "YYYY/MM/DD hh:mm" when last in the room, CHAT_LEFT_DATE once left
  char reserved[3];
};
static_assert(sizeof(CHAT_IDX) == 72);
static_assert(offsetof(CHAT_IDX, USER_ID) == 0);
static_assert(offsetof(CHAT_IDX, COLOR) == 22);
static_assert(offsetof(CHAT_IDX, LOG_LINE) == 44);
static_assert(offsetof(CHAT_IDX, RELOAD_TIME) == 48);
static_assert(offsetof(CHAT_IDX, LAST_DATE) == 52);
static_assert(offsetof(CHAT_IDX, reserved) == 69);

constexpr size_t CHAT_LINES_KEPT = 61;
// LAST_DATE of a member who has left the room; any later date means present.
constexpr char CHAT_LEFT_DATE[] = "1990/01/01 00:00";

extern CHAT_DATA sCHAT_DATA;
extern CHAT_IDX sCHAT_IDX;

// The user's entry (exact ID) into sCHAT_IDX: 0, or -1 with sCHAT_IDX all
// zero. Creates the room's directory and an empty "chat.idx" when missing.
int ReadCHAT_IDX(int32_t folder, const char* user_id);
// Writes sCHAT_IDX over the entry with its ID, or appends it: one entry per
// ID. 0, or -1 when the file cannot be opened or written.
int WriteCHAT_IDX(int32_t folder);
// Sets LAST_DATE of the user's entry to `date` in one locked step; with
// `present_only`, only while the entry says the user is in the room. 0 when
// written, -1 otherwise (no entry, absent, or a file error).
int MarkCHAT_IDX(int32_t folder, const char* user_id, const char* date, bool present_only);

// Line n (0 the newest) into sCHAT_DATA: 0, or -1 with sCHAT_DATA all zero.
int ReadCHAT_DATA(int32_t folder, int n);
// The newest `max` whole lines (all when there are fewer), newest first,
// with one read of "chat.dat". False when the file cannot be opened. Like
// ReadCHAT_DATA, creates the room's directory and an empty file when
// missing.
bool load_chat_lines(int32_t folder, std::vector<CHAT_DATA>& out, size_t max = CHAT_LINES_KEPT);
// Adds sCHAT_DATA as the newest line, keeping CHAT_LINES_KEPT lines. The
// new list is built under the room's lock and replaces "chat.dat" at once.
// 0, or -1 when a file cannot be opened or written.
int WriteCHAT_DATA(int32_t folder);
