// Posting and editing: the posting form, the handler that stores what it
// sends (new thread, reply or edit, with attachments), and the page that
// closes a separate posting window.
#pragma once
#include <cstdint>
#include <functional>
#include <string_view>

struct INDEX_DATA;

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

// The storing steps every new message goes through, whichever page sends it.
// Whether a body as sent (before its line ends are converted) is longer
// than the setting MAX_CONTENTS allows.
bool message_too_long(std::string_view body);
// Brings priority (0-2), read confirmation (1 or 2) and display mode (0-2)
// into their ranges (the store cuts the title to its field).
void fit_message(INDEX_DATA& rec);
// Stores a new message: `rec` names the board (FOLDER_NO), the message
// answered (MSG_NO, 0 for a new thread), author, date, title and choices;
// it is numbered and threaded, its body stored with CR line ends and then
// `attach(number)`, when given, stores its other files; its index record is
// written last. 0 with the stored record in sINDEX_DATA; -5 body too long;
// -1 not stored.
int store_new_message(INDEX_DATA rec, std::string_view body,
                      const std::function<int(int32_t)>& attach = nullptr);
// The "write" line of the access log for the current user, when logging is
// switched on.
void log_writing(int32_t folder);
