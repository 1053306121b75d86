// The dispatch on JOB, written as data: each row names a page, the handler
// it runs, and for storing handlers the page or error page each result code
// leads to. Rows stand in the fixed order in which page names are compared.
#include "app/dispatch.h"

#include <cstring>
#include <span>

#include "app/frame.h"
#include "app/globals.h"
#include "app/login.h"
#include "cgi/sjis.h"
#include "pages/pages.h"
#include "settings/strdef.h"
#include "settings/sysinfo.h"

namespace {

using Page = void (*)();
using Store = int (*)();

// What follows a result code: the next page, or (with next == nullptr) the
// error page with the texts of the title and message slots.
struct Outcome {
  int code;
  Page next;
  int title;
  int message;
};

struct Route {
  const char* job;
  Page page;       // a page, or the special case that runs for this name
  Store store;     // a storing handler whose result is looked up in outcomes
  std::span<const Outcome> outcomes;
  Page then;       // runs after the handler whatever it returned
};

// Set when a handler has ended the request (log-off): no further row runs.
bool g_stop = false;

void run_TOP() { j_TOP(g_SKEY); }

void run_LOGOFF() {
  if (G_MST_USER.MODE != 1 || !g_SKEY[0]) return;
  // The key was accepted for this user when the request began.
  DeleteMST_SKEY(G_MST_USER.USER_ID);
  if (SYSINFO.LOGOFF_URL[0])
    j_LOGOFF();
  else
    j_login();
  g_stop = true;
}

// Personal settings only while the system allows them.
void run_MYDATA() {
  if (SYSINFO.MYDATA == 0) j_MYDATA();
}

// The stored settings take effect at once: they are read again (with the
// system's language file, or the user's own when he has one) before the
// settings page shows them.
void run_SYSTEM_reloaded() {
  SysFileOpen(INI_FILE);
  if (G_MST_USER.LANGUAGE[0] && field(G_MST_USER.LANGUAGE) != field(SYSINFO.LANGUAGE) &&
      language_file_name(G_MST_USER.LANGUAGE))
    StrdefFileOpen(G_MST_USER.LANGUAGE);
  j_SYSTEM();
}

constexpr Outcome kNewgroupOutcomes[] = {
    {0, j_GROUPLIST, 0, 0},   {-1, nullptr, 154, 3},   {2, nullptr, 154, 156},
    {3, nullptr, 154, 157},   {4, nullptr, 154, 158},  {5, nullptr, 154, 362},
};

// The three user forms share their refusals; MYDATAWR always returns to
// the personal settings page.
constexpr Outcome kUserwrOutcomes[] = {
    {1, j_USERMENT, 0, 0},   {2, j_USERLIST, 0, 0},   {3, j_USERLIST, 0, 0},
    {4, j_USERMENT, 0, 0},   {-1, nullptr, 109, 3},   {-2, nullptr, 109, 181},
    {-3, nullptr, 109, 182}, {-4, nullptr, 109, 312}, {-5, nullptr, 109, 327},
    {-6, nullptr, 109, 362}, {-7, nullptr, 109, 363}, {-8, nullptr, 109, 364},
};
constexpr Outcome kMydatawrOutcomes[] = {
    {1, j_MYDATA, 0, 0},     {2, j_MYDATA, 0, 0},     {3, j_MYDATA, 0, 0},
    {4, j_MYDATA, 0, 0},     {-1, nullptr, 109, 3},   {-2, nullptr, 109, 181},
    {-3, nullptr, 109, 182}, {-4, nullptr, 109, 312}, {-5, nullptr, 109, 327},
    {-6, nullptr, 109, 362}, {-7, nullptr, 109, 363}, {-8, nullptr, 109, 364},
};

constexpr Outcome kBordwriteOutcomes[] = {
    {0, j_ROOM, 0, 0},
    {-1, nullptr, 278, 3},
    {-2, nullptr, 278, 295},
    {-4, nullptr, 278, 296},
    {-5, nullptr, 278, 377},
};

constexpr Outcome kNewfolderOutcomes[] = {
    {0, j_FOLDERLIST, 0, 0}, {1, nullptr, 193, 206}, {2, nullptr, 193, 207},
    {3, nullptr, 193, 362},  {-1, nullptr, 193, 3},
};
constexpr Outcome kBordconfigOutcomes[] = {
    {0, j_BORDCONFIG, 0, 0}, {-1, nullptr, 109, 3}, {-2, nullptr, 190, 206}, {-3, nullptr, 190, 362},
};
constexpr Outcome kBordaccessOutcomes[] = {
    {0, j_BORDACCESS, 0, 0},
    {-1, nullptr, 109, 3},
};
constexpr Outcome kBordmoveOutcomes[] = {
    {0, j_FOLDERLIST, 0, 0}, {-1, nullptr, 239, 3}, {-2, nullptr, 239, 207}, {-3, nullptr, 239, 242},
};
constexpr Outcome kIdsinseiOutcomes[] = {
    {0, j_IDSINSEIlist, 0, 0},
    {-1, nullptr, 311, 181},
    {-2, nullptr, 311, 182},
    {-3, nullptr, 311, 312},
    {-4, nullptr, 311, 313},
    {-5, nullptr, 311, 327},
    {-6, nullptr, 311, 362},
    {-7, nullptr, 311, 363},
    {-8, nullptr, 311, 364},
    {-9, nullptr, 311, 3},
};

// Routes in the order page names are compared. Later page families add
// their rows here, at their place in the order.
constexpr Route kRoutes[] = {
    {"TOP", run_TOP, nullptr, {}, nullptr},
    {"LOGOFF", run_LOGOFF, nullptr, {}, nullptr},
    {"FRM21", j_FRM21, nullptr, {}, nullptr},
    {"MYDATA", run_MYDATA, nullptr, {}, nullptr},
    {"SETNOREAD", j_SETNOREAD, nullptr, {}, nullptr},
    {"SETNOREAD_WR", j_SETNOREAD_WR, nullptr, {}, j_SETNOREAD},
    {"ADMIN", j_ADMIN, nullptr, {}, nullptr},
    {"SYSTEM", j_SYSTEM, nullptr, {}, nullptr},
    {"USERLIST", j_USERLIST, nullptr, {}, nullptr},
    {"GROUPLIST", j_GROUPLIST, nullptr, {}, nullptr},
    {"NEWGROUP", j_NEWGROUP, nullptr, {}, nullptr},
    {"NEWGROUPWR", nullptr, j_NEWGROUPWR, kNewgroupOutcomes, nullptr},
    {"EDITGROUP", j_EDITGROUP, nullptr, {}, nullptr},
    {"DELGROUP", j_DELGROUP, nullptr, {}, nullptr},
    {"DELGROUPWR", nullptr, j_DELGROUPWR, {}, j_GROUPLIST},
    {"SYSTEMUPDATE", nullptr, j_SYSTEMUPDATE, {}, run_SYSTEM_reloaded},
    {"USERMENT", j_USERMENT, nullptr, {}, nullptr},
    {"USERWR", nullptr, j_USERWR, kUserwrOutcomes, nullptr},
    {"NEWUSERWR", nullptr, j_USERWR, kUserwrOutcomes, nullptr},
    {"MYDATAWR", nullptr, j_USERWR, kMydatawrOutcomes, nullptr},
    {"FOLDERLIST", j_FOLDERLIST, nullptr, {}, nullptr},
    {"NEWFOLDER", j_NEWFOLDER, nullptr, {}, nullptr},
    {"NEWFOLDERWR", nullptr, j_NEWFOLDERWR, kNewfolderOutcomes, nullptr},
    {"DELFOLDER", j_DELFOLDER, nullptr, {}, nullptr},
    {"DELFOLDERWR", j_DELFOLDERWR, nullptr, {}, j_FOLDERLIST},
    {"BORDCONFIG", j_BORDCONFIG, nullptr, {}, nullptr},
    {"BORDCONFIGWR", nullptr, j_BORDCONFIGWR, kBordconfigOutcomes, nullptr},
    {"BORDACCESS", j_BORDACCESS, nullptr, {}, nullptr},
    {"BORDACCESSWR", nullptr, j_BORDACCESSWR, kBordaccessOutcomes, nullptr},
    {"BORDMOVE", j_BORDMOVE, nullptr, {}, nullptr},
    {"BORDMOVEWR", nullptr, j_BORDMOVEWR, kBordmoveOutcomes, nullptr},
    {"FOLDER_DOWNLOAD", j_FOLDER_DOWNLOAD, nullptr, {}, nullptr},
    {"FOLDER_UPLOAD", j_FOLDER_UPLOAD, nullptr, {}, j_FOLDERLIST},
    {"AccessLogDISP", j_AccessLogDISP, nullptr, {}, nullptr},
    {"AccessLogDOWNLOAD", j_AccessLogDOWNLOAD, nullptr, {}, nullptr},
    {"AccessLogLastLogin", j_AccessLogLastLogin, nullptr, {}, nullptr},
    {"AccessLogDeleteUser", j_AccessLogDeleteUser, nullptr, {}, j_AccessLogLastLogin},
    {"ROOM", j_ROOM, nullptr, {}, nullptr},
    {"BORDWRITE", j_BORDWRITE, nullptr, {}, nullptr},
    {"EDITMSG", j_BORDWRITE, nullptr, {}, nullptr},
    {"BORDWRITEWR", nullptr, j_BORDWRITEWR, kBordwriteOutcomes, nullptr},
    {"DETAILS", j_DETAILS, nullptr, {}, nullptr},
    {"DELMSG", j_DELMSG, nullptr, {}, j_ROOM},
    {"BORDALLFLG", j_BORDALLFLG, nullptr, {}, j_ROOM},
    {"IDSINSEI", j_IDSINSEI, nullptr, {}, nullptr},
    {"IDSINSEIWR", nullptr, j_IDSINSEIWR, kIdsinseiOutcomes, nullptr},
    {"IDSINSEIlist", j_IDSINSEIlist, nullptr, {}, nullptr},
    {"IDSINSEIlist2", j_IDSINSEIlist2, nullptr, {}, nullptr},
    {"IDSINSEIsysopWR", j_IDSINSEIsysopWR, nullptr, {}, j_IDSINSEIlist2},
    {"NRDETAILS", j_NRDETAILS, nullptr, {}, nullptr},
    {"NRDETAILSWR", j_NRDETAILSWR, nullptr, {}, j_NRDETAILS},
    {"SEARCH", j_SEARCH, nullptr, {}, nullptr},
    {"SEARCHDISP", j_SEARCHDISP, nullptr, {}, nullptr},
    {"CHAT", j_CHAT, nullptr, {}, nullptr},
    {"CHAT_UP", j_CHAT_UP, nullptr, {}, nullptr},
    {"CHAT_DOWN", j_CHAT_DOWN, nullptr, {}, nullptr},
    {"BATCH_UPLOAD", j_BATCH_UPLOAD, nullptr, {}, nullptr},
    {"BATCH_UPLOAD_WR", j_BATCH_UPLOAD_WR, nullptr, {}, nullptr},
};

// Pages served before any log-in or key check.
constexpr Route kNoLogin[] = {
    {"BORDWRITEFIN", j_BORDWRITEFIN, nullptr, {}, nullptr},
};

void run_route(const Route& r) {
  if (r.page) r.page();
  if (r.store) {
    int code = r.store();
    for (const Outcome& o : r.outcomes) {
      if (o.code != code) continue;
      if (o.next)
        o.next();
      else
        j_ERROR2(msg(o.title), msg(o.message));
      break;
    }
  }
  if (r.then) r.then();
}

}  // namespace

void dispatch() {
  g_stop = false;
  for (const Route& r : kRoutes) {
    if (g_stop) break;
    if (strcmp(g_JOB, r.job) != 0) continue;
    try {
      run_route(r);
    } catch (...) {
      // A handler that failed unexpectedly ends the request with what it
      // printed so far; nothing escapes the process entry.
      g_stop = true;
    }
  }
}

bool dispatch_without_login() {
  for (const Route& r : kNoLogin) {
    if (strcmp(g_JOB, r.job) != 0) continue;
    try {
      run_route(r);
    } catch (...) {
    }
    return true;
  }
  return false;
}

bool prints_many_messages(const char* job) {
  return strcmp(job, "NRDETAILS") == 0 || strcmp(job, "SEARCHDISP") == 0;
}
