// The message list of a board: heading, buttons, 20 messages a page in one
// of three orders, and the paging controls.
#pragma once

// JOB=ROOM, and the page shown after a message was stored, deleted or all
// were marked read.
void j_ROOM();
