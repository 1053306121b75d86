// Posting and editing: the posting form, the handler that stores what it
// sends (new thread, reply or edit, with attachments), and the page that
// closes a separate posting window.
#pragma once

// JOB=BORDWRITE (new thread when SEL_NO is 0, else a reply to SEL_NO) and
// JOB=EDITMSG (edit of SEL_NO): the posting form.
void j_BORDWRITE();
// JOB=BORDWRITEWR: stores the posted form. 0 stored; -1 no write right, a
// refused edit or an unknown FJOB; -2 empty title; -5 body longer than
// MAX_CONTENTS. Nothing is stored unless the result is 0.
int j_BORDWRITEWR();
// JOB=BORDWRITEFIN: the page that closes the separate posting window; it is
// served without a log-in.
void j_BORDWRITEFIN();
