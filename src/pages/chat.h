// Chat rooms: the room's frameset, the input frame where users enter, write
// and leave, and the display frame that shows the newest lines and reloads
// itself.
#pragma once

// JOB=CHAT: the frameset of input frame "CHAT1" and display frame "CHAT2".
void j_CHAT();
// JOB=CHAT_UP: the input frame. FAST 0 shows the entry form, 1 enters, 3
// leaves, any other value shows the input form.
void j_CHAT_UP();
// JOB=CHAT_DOWN: the display frame; with MTALK it stores the line first
// and answers with an immediate reload.
void j_CHAT_DOWN();
