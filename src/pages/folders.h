// Folder administration: the folder list, creation, deletion and move of
// folders with their subtrees, for system administrators; and each folder's
// settings and access pages, also for the folder's administrators.
#pragma once

void j_FOLDERLIST();
void j_NEWFOLDER();
int j_NEWFOLDERWR();
void j_DELFOLDER();
void j_DELFOLDERWR();
void j_BORDMOVE();
int j_BORDMOVEWR();

void j_BORDCONFIG();
int j_BORDCONFIGWR();
void j_BORDACCESS();
int j_BORDACCESSWR();
