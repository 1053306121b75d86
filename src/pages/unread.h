// Unread tracking pages: the settings page where a member moves boards out
// of unread tracking and back, and the list of every unread message of
// every tracked board with tick boxes to mark them read.
#pragma once

// JOB=SETNOREAD: the boards the user has excluded, and every board he may
// read, in two lists with a button each.
void j_SETNOREAD();
// JOB=SETNOREAD_WR: excludes (BOARD_IN, from BOARDLIST) or includes again
// (BOARD_OUT, from NOWNOREAD) the selected boards. The settings page follows.
void j_SETNOREAD_WR();
// JOB=NRDETAILS: every unread message of the tracked folders the user may
// read, each with a tick box (all ticked when CHK_ALL is 1).
void j_NRDETAILS();
// JOB=NRDETAILSWR: marks the ticked FOLSEL "folder,message" pairs read. The
// unread list follows.
void j_NRDETAILSWR();
