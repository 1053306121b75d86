// Applications for new user IDs: "g_user.dat" in the data directory, one
// fixed-size record per application, appended in order of application (so
// the file is also in date order). At most one record per USER_ID; IDs
// compare exactly.
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct GUEST_USER {
  char USER_ID[22];
  char USER_NAME[82];
  char E_MAIL_ADDR[252];
  char USER_PASS[22];
  char APPLY_DATE[20];  // "YYYY/MM/DD hh:mm"
  char REMOTE_ADDR[252];
  char HTTP_USER_AGENT[252];
  char MESSAGE[254];  // the administrator's reply
  int32_t OK_NG;      // 0 pending, 1 accepted, 2 refused
};
static_assert(sizeof(GUEST_USER) == 1160);
static_assert(offsetof(GUEST_USER, USER_ID) == 0);
static_assert(offsetof(GUEST_USER, USER_NAME) == 22);
static_assert(offsetof(GUEST_USER, E_MAIL_ADDR) == 104);
static_assert(offsetof(GUEST_USER, USER_PASS) == 356);
static_assert(offsetof(GUEST_USER, APPLY_DATE) == 378);
static_assert(offsetof(GUEST_USER, REMOTE_ADDR) == 398);
static_assert(offsetof(GUEST_USER, HTTP_USER_AGENT) == 650);
static_assert(offsetof(GUEST_USER, MESSAGE) == 902);
static_assert(offsetof(GUEST_USER, OK_NG) == 1156);

constexpr int32_t GUEST_PENDING = 0;
constexpr int32_t GUEST_ACCEPTED = 1;
constexpr int32_t GUEST_REFUSED = 2;

extern GUEST_USER sGUEST_USER;

// The record at `index` (from 0) into sGUEST_USER; -1 when there is none
// (a negative index included) or the file cannot be opened.
int ReadGUEST_USER(int64_t index);
// The k-th record (from 0) whose USER_ID equals `user_id`, into sGUEST_USER.
int ReadGUEST_USER2(int64_t k, const char* user_id);
// Appends sGUEST_USER. An earlier record of the same ID that was refused
// gives way: it is removed and the new one appended in the same rewrite, so
// the file stays in date order. -1 (nothing written) when a pending or
// accepted record of the ID exists or the file cannot be written.
int WriteGUEST_USER();
// Overwrites the k-th record of `user_id` with sGUEST_USER in place.
int WriteGUEST_USER2(int64_t k, const char* user_id);
// Removes the record at `index`; later records move up. One rewrite through
// a temporary file.
int DeleteGUEST_USER(int64_t index);
// Drops, from the head of the file up to the first record dated after
// `cutoff` ("YYYY/MM/DD"), every decided record; pending ones stay. One
// rewrite, only when something is dropped. The number dropped, or -1.
// `left`, when given, receives the records the file holds afterwards.
int PurgeGUEST_USER(const char* cutoff, std::vector<GUEST_USER>* left = nullptr);
