// Captures what a function prints to standard output (for page functions
// called in-process).
#pragma once
#include <functional>
#include <string>

std::string capture_stdout(const std::function<void()>& fn);
