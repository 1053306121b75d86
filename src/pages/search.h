// Search: the form (keywords, writer, any or all keywords, one folder or
// all) and the result page that shows every matching message.
#pragma once

// JOB=SEARCH: the search form.
void j_SEARCH();
// JOB=SEARCHDISP: a heading per folder searched and every matching message
// of its board through the compact view.
void j_SEARCHDISP();
