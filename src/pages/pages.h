// Declarations of the page handlers. A handler is j_ followed by its page
// name; storing handlers whose result picks the next page return int.
#pragma once
