// The user master (to be completed).
#include "store/user.h"

MST_USER sMST_USER;
