// Working memory of the pages that print many messages.
#pragma once

// From here on the request's heap grows into transparent huge pages where
// the kernel offers them (asked for with madvise), so that a page which
// touches a few hundred KiB of fresh memory takes one page fault instead of
// one per 4 KiB. On a virtual machine a fault costs 10-15 us, and the unread
// list of 100 messages took 60-80 of them. Where huge pages are off nothing
// changes. Done once per process, before the page's first output; the heap
// must be the main arena's (one thread).
void use_huge_heap();
