// The folder menu of the left-hand frame: the folder tree with its open
// branch, unread counts, the function buttons and the log-off form.
#pragma once
#include <cstdint>

// JOB=FRM21: the menu. The request's DISP_NO fields name the positions of
// the open directories.
void j_FRM21();
// The position of the parent of the folder at `position`; -1 for a
// top-level folder or a position without folder. Leaves the last folder
// looked at in sB_TITLE.
int32_t get_upper_folder(int32_t position);
// The user's unread messages in the subtree below the directory at
// `position` (the directory itself not counted), over the boards the user
// may read.
int get_noread(int32_t position);
