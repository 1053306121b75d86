// User administration and personal settings: the user list, the user edit
// page, the personal settings page, and the store step behind all three
// forms.
#pragma once

// JOB=USERLIST: the list buttons and, when SJOB names an order, the users.
void j_USERLIST();
// The user list's rows in order 1 (as stored), 2 (by ID), 3 (by level) or
// 4 (by primary group).
void j_USERLIST_sub1(int order);
// JOB=USERMENT: the edit page for USER_ID, or the new-user page without.
void j_USERMENT();
// One option per named group of "group.mst", in file order.
void j_USERMENT_sub1();
// JOB=MYDATA: the logged-in user's personal settings.
void j_MYDATA();
// JOB=USERWR, NEWUSERWR and MYDATAWR: saves, cancels, deletes or changes
// memberships. 1 saved, 2 cancelled, 3 deleted, 4 memberships changed;
// -1 not allowed, -2 ID empty, -3 name empty, -4 the new ID is taken,
// -5 unusable ID, -6 unusable name, -7 unusable password, -8 unusable
// e-mail address.
int j_USERWR();
