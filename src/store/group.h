// Groups and memberships: "group.mst" (one line "number,name," per group,
// in ascending order of number) and "g_user.mst" (one line
// "group number,user ID," per membership, sorted by group number).
#pragma once
#include <cstddef>
#include <cstdint>
#include <vector>

struct MST_GROUP {
  int32_t T02_GROUP_ID;
  char T02_GROUP_NAME[84];  // at most 83 bytes; no comma
};

struct GROUP_USER {
  int32_t T02_GROUP_ID;
  char USER_ID[24];
};

// Size of a caller's list for ReadGROUP_USER1: the group numbers end with a
// 0, so a user can be in GROUP_LIST_SIZE - 1 groups.
constexpr size_t GROUP_LIST_SIZE = 10000;

extern MST_GROUP sMST_GROUP;
extern GROUP_USER sGROUP_USER;

// The group with that number into sMST_GROUP; -1 when there is none
// (sMST_GROUP then unchanged).
int ReadGROUP_MST(int32_t group);
// Every group line of "group.mst" in file order; false when the file can
// be neither read nor created.
bool load_groups(std::vector<MST_GROUP>& out);
// Adds sMST_GROUP before the first group with a higher number, or gives the
// first group with its number the new name in place. 0, or -1 when the file
// cannot be written.
int ReWriteMST_GROUP();
// Removes every line of sMST_GROUP's number. 0, or -1 when the file cannot
// be written.
int DeleteMST_GROUP();

// Fills `list` (GROUP_LIST_SIZE numbers) with the numbers of the user's
// groups in file order, followed by a 0. Returns their count minus 1: -1
// when there is none or no membership file (the list is then untouched).
int ReadGROUP_USER1(const char* user_id, int32_t* list);
// Appends sGROUP_USER unless that membership exists. 0 when it was added or
// already present, -1 when the file cannot be written.
int WriteGROUP_USER();
// Mode 1 removes the membership equal to sGROUP_USER, mode 2 every
// membership of sGROUP_USER's group. 0, or -1 for another mode or when the
// file cannot be written.
int DeleteGROUP_USER(int mode);
// Removes every membership of the user. 0, or -1 when the file cannot be
// written.
int DeleteGROUP_USER2(const char* user_id);
// Sorts the memberships by group number as a bubble sort that carries the
// earlier of two equal numbers past the later one does (so the memberships
// of one group can change their order); lines lacking a field are dropped.
// 0, or -1 when the file cannot be written.
int SortGROUP_USER();
