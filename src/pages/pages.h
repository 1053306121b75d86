// Declarations of the page handlers, one header per page family. A handler
// is j_ followed by its page name; storing handlers whose result picks the
// next page return int.
#pragma once
#include "pages/menu.h"
#include "pages/room.h"
#include "pages/write.h"
#include "pages/details.h"
#include "pages/unread.h"
#include "pages/search.h"
#include "pages/admin.h"
#include "pages/users.h"
#include "pages/groups.h"
#include "pages/folders.h"
#include "pages/accesslog.h"
#include "pages/idapply.h"
#include "pages/batch.h"
#include "pages/chat.h"
