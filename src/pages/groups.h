// Group administration: the group list, the forms for a new group, a new
// name and a deletion, and their two store steps.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

// One line of "group.mst" as the pages read it.
struct GroupLine {
  int32_t number;
  std::string name;
  bool named;  // the line has a second field
};
// Every line of "group.mst" with a first field, in file order; empty when
// the file is missing (it is not created). `opened` tells whether it could
// be read.
std::vector<GroupLine> read_group_lines(bool* opened = nullptr);

// JOB=GROUPLIST, NEWGROUP, EDITGROUP, DELGROUP: the pages.
void j_GROUPLIST();
void j_NEWGROUP();
void j_EDITGROUP();
void j_DELGROUP();
// JOB=NEWGROUPWR: stores a new group or a group's new name. 0 stored;
// 2 number empty; 3 name empty; 4 number below 1; 5 name holds a comma or
// a line break; -1 not an administrator.
int j_NEWGROUPWR();
// JOB=DELGROUPWR: deletes a group with its memberships and access entries
// and takes it from the users whose primary group it was. 0 deleted;
// 2 number empty; 4 number below 1; -1 not an administrator.
int j_DELGROUPWR();
