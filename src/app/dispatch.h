// The dispatch on JOB: page names in their fixed order, the handler each
// runs, and what follows a storing handler's result code.
#pragma once

// Runs every handler whose page name equals g_JOB, in table order.
void dispatch();
// Runs the handlers reachable without a log-in (only "BORDWRITEFIN");
// true when g_JOB named one.
bool dispatch_without_login();
// Whether JOB names a page that prints many messages (the unread list, the
// search results), which takes its working memory from huge pages.
bool prints_many_messages(const char* job);
