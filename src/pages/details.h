// Message details: the page of one message with its readers, attachments,
// thread and navigation; the compact view of a message used by the unread
// list and the search results; deleting a message; marking a whole board
// read.
#pragma once
#include <cstdint>
#include <functional>
#include <string_view>
#include <string>
#include <vector>

#include "store/message.h"

// JOB=DETAILS: the message SEL_NO of FOLDER_NO. Marks it read for the user.
void j_DETAILS();
// The compact view of message `msg` of `folder`, with a tick box FOLSEL
// "folder,msg" when `flag` is 1 (ticked when the request's CHK_ALL is 1).
// The caller has checked the read right; no read mark is written. A number
// without message prints nothing. `body`: the message's body when the
// caller has already read it, so that it is not read twice.
void j_DETAILS_sub1(int32_t folder, int32_t msg, int flag, const std::string* body = nullptr);
// The board's index in file order as the compact view holds it: read once
// per request, so that pages which walk a board and show its messages read
// the index once.
const std::vector<INDEX_DATA>& compact_index(int32_t folder);
// For compact views of a few messages of a large board: the index the
// compact view holds keeps only the records of the messages `wanted` and of
// their threads, in file order, so that the board's whole index is neither
// copied nor looked up. No effect when the board was read already.
void compact_preload(int32_t folder, const std::vector<int32_t>& wanted);
// compact_preload for many boards, wanted[i] of folders[i]: the large
// boards' thread maps and records are read in batches over all of them.
// `opened`, when given, holds the boards' indexes as the page opened them
// (taken over from there).
void compact_preload_many(const std::vector<int32_t>& folders, const std::vector<std::vector<int32_t>>& wanted,
                          std::vector<OpenedIndex>* opened = nullptr);
// Reads, in one batch, the files `names` (relative to the data directory;
// `fn` gets each one's bytes, empty when it is missing) together with what
// the compact view will want of the messages asked for on the boards
// `folders`, preloaded before: their read-mark files where the readers are
// listed, and the boards' derived attachment sizes. What cannot be read so
// is read as usual when shown.
void compact_read_ahead(const std::vector<int32_t>& folders, std::vector<std::string> names,
                        const std::function<void(size_t, std::string_view)>& fn);
// Lets go of what the compact view holds of the board, once a page has shown
// it: the next board's records then reuse the memory instead of new pages.
void compact_release(int32_t folder);
// JOB=DELMSG: deletes SEL_NO when the user wrote it or administers the
// folder. A message with followers in its thread is only marked deleted.
void j_DELMSG();
// JOB=BORDALLFLG: marks every message of FOLDER_NO read for the user, when
// the user may read the folder.
void j_BORDALLFLG();
