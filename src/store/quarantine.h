// Moving leftovers aside: files or directories found where the system is
// about to create something new (a reused folder number's messages or
// attachments) are kept, out of reach of the web server and of every page,
// in the quarantine directory inside the data directory.
#pragma once
#include <string>

// Moves a leftover file or directory aside into the quarantine directory inside the data directory
// (created on demand; never served, never emptied by the program) under a unique name made from `label`.
// Returns the path it now has; "" when there was nothing at `path` or it could not be moved (then it stays).
std::string quarantine(const std::string& path, const std::string& label);
