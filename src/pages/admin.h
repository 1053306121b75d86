// The administration menu and the system settings page with its store step,
// and the page start the administrator's pages share.
#pragma once

// The page frame, an optional script for the head, and the body tag with
// the system background.
void admin_page_start(const char* script = nullptr);
// Whether the logged-in user is a system administrator.
bool is_admin();
// A small form that goes to page `job` with one submit button "SUB"
// labelled with slot `label`; `extra` adds hidden fields (already escaped).
void job_button(const char* job, int label, const char* extra = "");
// A form with one button (slot 4) that goes back in the browser's history.
void back_button();
// The page heading: slot `slot` in large bold type, then a paragraph break.
void admin_title(int slot);
// What a non-administrator sees in place of a page's content: message slot
// 3 and the back button. Ends the page.
void refusal_rest();

// JOB=ADMIN: the administration menu.
void j_ADMIN();
// JOB=SYSTEM: the system settings form.
void j_SYSTEM();
// JOB=SYSTEMUPDATE: stores the settings form (administrators only) and the
// two pictures sent with it. 0 stored, -1 refused.
int j_SYSTEMUPDATE();
