// Applications for new user IDs: the application form and its store step,
// the public list of applications, and the administrators' pending list
// with the decision step that creates accepted users.
#pragma once

// JOB=IDSINSEI: the application form.
void j_IDSINSEI();
// JOB=IDSINSEIWR: checks and stores an application. 0 stored; -1 no ID;
// -2 no name; -3 the ID is a user's; -4 an application for it is pending or
// accepted; -5 the ID holds a comma, blank, "/", "\", a control byte or
// starts with "."; -6 comma in the name; -7 comma or blank in the password;
// -8 comma or blank in the mail address; -9 the store could not be written.
int j_IDSINSEIWR();
// JOB=IDSINSEIlist: drops decided applications older than 14 days and lists
// the rest.
void j_IDSINSEIlist();
// JOB=IDSINSEIlist2: pending applications with the decision form
// (administrators).
void j_IDSINSEIlist2();
// JOB=IDSINSEIsysopWR: stores the decisions; accepting creates the user.
void j_IDSINSEIsysopWR();
