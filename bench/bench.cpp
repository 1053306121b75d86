// Page benchmark. Builds throw-away sites in a temporary directory through
// the board's own store code, runs each page as a web server does (one
// process per request, CGI environment, body on stdin) and prints, per data
// set, each page's median and spread of wall and CPU time, its ratio to the
// log-in page and to a static hello CGI program, its peak memory and (where
// strace is installed) its system calls per request. It then checks the
// figures the pages are held to.
//
// Adding a page is one line in kPages. Placeholders in a query: {S} session
// key, {F} the measured board, {M} a message in the middle of it, {O} a
// message of the logged-in user, {P} the password, {U} the ID of another
// user (a log-in replaces that user's key, so it must not be the one whose
// key the other pages use), {W} the logged-in user's ID, {A} the session key
// of an administrator, {C} a chat room holding a full list of lines, {R} the
// session key of a reader who has read all but every fortieth message.
//
// usage: morvel-bench [--runs N] [--quick] [--only SET] [--keep] [--cgi PATH] [--base PATH] [--hello PATH]
//                     [--marks PATH] [--lang FILE]
// --base PATH also measures the pages whose cost the derived read data
// changes on an earlier build of the program, on the same site, so that the
// read-data targets compare with figures of the same run.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "app/globals.h"
#include "app/login.h"
#include "cgi/sjis.h"
#include "settings/sysinfo.h"
#include "store/chat.h"
#include "store/folder.h"
#include "store/message.h"
#include "store/read_cache.h"
#include "store/records.h"
#include "store/user.h"

namespace fs = std::filesystem;

namespace {

// ---- The pages ------------------------------------------------------------

enum Flags : unsigned {
  kGet = 0,
  kPost = 1,     // multipart/form-data body, as the board's forms send
  kWrites = 2,   // changes the data: runs after the pages that only read
  kBoard = 4,    // cost must not grow with the board
  kUsers = 8,    // lists or rewrites every user: left out of the 500-vs-50 check
  kAdmin = 16,   // with 500 users and 50 groups, held to 1.3x the log-in page
  kFresh = 32,   // every run starts without the boards' derived read data
};

struct Page {
  const char* name;
  unsigned flags;
  const char* query;
  const char* expect;  // text the page must contain, so a broken set-up shows
};

constexpr Page kPages[] = {
    {"log-in page", kGet, "", "upw"},
    {"log-in", kPost | kWrites, "uid={U}&upw={P}", "FRM21"},
    {"top frameset", kGet, "SKEY={S}&JOB=TOP", "FRM21"},
    {"menu, unread counts", kGet, "SKEY={S}&JOB=FRM21&DISP_NO=1", "LOGOFF"},
    // ---- read data: the first menu after the derived data was removed ----
    {"menu, no derived data", kGet | kFresh, "SKEY={S}&JOB=FRM21&DISP_NO=1", "LOGOFF"},
    {"room list 1, first", kGet | kBoard, "SKEY={S}&JOB=ROOM&FOLDER_NO={F}&USER_DISP_DEF=1&DISP_PAGE=1", "Page["},
    {"room list 1, last", kGet | kBoard, "SKEY={S}&JOB=ROOM&FOLDER_NO={F}&USER_DISP_DEF=1", "Page["},
    {"room list 2, first", kGet | kBoard, "SKEY={S}&JOB=ROOM&FOLDER_NO={F}&USER_DISP_DEF=2&DISP_PAGE=1", "Page["},
    {"room list 2, last", kGet | kBoard, "SKEY={S}&JOB=ROOM&FOLDER_NO={F}&USER_DISP_DEF=2", "Page["},
    {"room list 3, first", kGet | kBoard, "SKEY={S}&JOB=ROOM&FOLDER_NO={F}&USER_DISP_DEF=3&DISP_PAGE=1", "Page["},
    {"room list 3, last", kGet | kBoard, "SKEY={S}&JOB=ROOM&FOLDER_NO={F}&USER_DISP_DEF=3", "Page["},
    {"details", kGet | kBoard, "SKEY={S}&JOB=DETAILS&FOLDER_NO={F}&SEL_NO={M}", "SEL:"},
    {"new thread form", kPost | kBoard, "SKEY={S}&JOB=BORDWRITE&FOLDER_NO={F}", "WRITE_TITLE"},
    {"reply form", kPost | kBoard, "SKEY={S}&JOB=BORDWRITE&FOLDER_NO={F}&SEL_NO={M}", "WRITE_TITLE"},
    {"edit form", kPost | kBoard, "SKEY={S}&JOB=EDITMSG&FOLDER_NO={F}&SEL_NO={O}", "WRITE_TITLE"},
    {"mark all read (again)", kPost | kWrites, "SKEY={S}&JOB=BORDALLFLG&FOLDER_NO={F}&DISP_PAGE=1&USER_DISP_DEF=1", "Page["},
    {"post a new thread", kPost | kWrites | kBoard, "SKEY={S}&JOB=BORDWRITEWR&FJOB=BORDWRITE&FOLDER_NO={F}&SEL_NO=0&WRITE_TITLE=Bench&WRITE_DATA=Hello&READ_CHK=1&HTML_MODE=0", "Page["},
    {"post a reply", kPost | kWrites | kBoard, "SKEY={S}&JOB=BORDWRITEWR&FJOB=BORDWRITE&FOLDER_NO={F}&SEL_NO={M}&WRITE_TITLE=Bench&WRITE_DATA=Hello&READ_CHK=1&HTML_MODE=0", "Page["},
    // ---- read data: an edit makes the message unread for everybody else ----
    {"edit a message", kPost | kWrites, "SKEY={S}&JOB=BORDWRITEWR&FJOB=EDITMSG&FOLDER_NO={F}&SEL_NO={O}&WRITE_TITLE=Bench&WRITE_DATA=Edited&READ_CHK=1&HTML_MODE=0", "Page["},
    {"unread list", kGet, "SKEY={S}&JOB=NRDETAILS", ""},
    {"unread list, 100 unread", kGet, "SKEY={R}&JOB=NRDETAILS", "FOLSEL"},
    {"unread settings", kGet, "SKEY={S}&JOB=SETNOREAD", ""},
    {"search, keyword, all boards", kPost, "SKEY={S}&JOB=SEARCHDISP&FOLDER_NO=0&CONDITION=quoted&STAT=1", ""},
    {"search, keyword found nowhere", kPost, "SKEY={S}&JOB=SEARCHDISP&FOLDER_NO=0&CONDITION=nowhere&STAT=1", ""},
    {"search, writer only", kPost, "SKEY={S}&JOB=SEARCHDISP&FOLDER_NO=0&WRITER={W}&STAT=1", ""},
    {"chat display, 61 lines", kGet, "SKEY={S}&JOB=CHAT_DOWN&FOLDER_NO={C}&LOG_LINE=61&RELOAD_TIME=999", "Chat line 61"},
    {"chat line post", kPost | kWrites, "SKEY={S}&JOB=CHAT_DOWN&FOLDER_NO={C}&LOG_LINE=61&RELOAD_TIME=999&MTALK=Hello", "Refresh"},
    {"admin menu", kGet, "SKEY={A}&JOB=ADMIN", ""},
    {"system settings", kGet | kAdmin, "SKEY={A}&JOB=SYSTEM", ""},
    {"user list, stored order", kPost | kUsers | kAdmin, "SKEY={A}&JOB=USERLIST&SJOB=NON_ORDER", "u0001"},
    {"user list, by ID", kPost | kUsers | kAdmin, "SKEY={A}&JOB=USERLIST&SJOB=ORDER_ID", "u0001"},
    {"user list, by level", kPost | kUsers | kAdmin, "SKEY={A}&JOB=USERLIST&SJOB=ORDER_LEVEL", "u0001"},
    {"user list, by group", kPost | kUsers | kAdmin, "SKEY={A}&JOB=USERLIST&SJOB=ORDER_PGROUP", "u0001"},
    {"user edit page", kGet | kAdmin, "SKEY={A}&JOB=USERMENT&USER_ID={U}", "Group 50"},
    {"personal settings", kGet | kAdmin, "SKEY={S}&JOB=MYDATA", "USER_PASS"},
    {"user save", kPost | kWrites | kAdmin, "SKEY={A}&JOB=USERWR&USER_ID={U}&USER_NAME=Other&USER_PASS={P}&USER_LEVEL=1&E_MAIL_ADDR=&P_GROUP=3&USER_DISP_DEF=1&MODE=1&WRITE_MODE=1&SUB1=1", ""},
    {"membership change", kPost | kWrites | kAdmin, "SKEY={A}&JOB=USERWR&USER_ID={U}&USER_NAME=Other&USER_PASS={P}&USER_LEVEL=1&E_MAIL_ADDR=&P_GROUP=3&USER_DISP_DEF=1&MODE=1&WRITE_MODE=1&GROUPLIST=7&GROUPLIST=9&GROUP_IN=1", "Group 9"},
    {"personal save", kPost | kWrites | kAdmin, "SKEY={S}&JOB=MYDATAWR&USER_NAME=Me&USER_PASS={P}&E_MAIL_ADDR=&USER_DISP_DEF=1&WRITE_MODE=1&NO_READ_MODE=0&SUB1=1", ""},
    {"group list", kGet | kAdmin, "SKEY={A}&JOB=GROUPLIST", "Group 50"},
    {"folder list", kGet, "SKEY={A}&JOB=FOLDERLIST", ""},
    {"folder settings", kGet, "SKEY={A}&JOB=BORDCONFIG&FOLDER_NO={F}", ""},
    {"access log statistics", kGet, "SKEY={A}&JOB=AccessLogDISP", ""},
    {"ID application list", kGet, "SKEY={A}&JOB=IDSINSEIlist", ""},
};

// ---- Data sets --------------------------------------------------------------

struct DataSet {
  std::string name;
  int users;
  int boards;         // boards under one directory; the last is measured
  int messages;       // in each board (only in the last when `one_full`)
  bool one_full;      // the other boards are empty
  int readers = 10;   // read marks per message
  int reader_gap = 40;  // the reader has read all but every n-th message
};

constexpr char kAgent[] = "MorvelBench/1.0";
constexpr char kPassword[] = "pw";
constexpr int32_t kKeyBase = 1000003;
constexpr int kGroups = 50;

struct Built {
  std::string root, cgi_dir, program, data;
  int32_t board = 0, middle = 0, own = 0, key = 0, admin_key = 0, chat = 0;
  std::string user, other, reader;
  int32_t reader_key = 0;
  std::vector<int32_t> boards;
};

std::string user_id(int i) {
  char b[16];
  snprintf(b, sizeof b, "u%04d", i);
  return b;
}

void write_text(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

void add_folder(int32_t after, int32_t kind, int32_t depth, const std::string& name,
                int32_t add_max) {
  int32_t number = NextFOLDER_NO();
  sB_TITLE = {};
  sB_TITLE.FOLDER_NO = number;
  sB_TITLE.KIND = kind;
  sB_TITLE.DEPTH = depth;
  set_field(sB_TITLE.NAME, name);
  InsertB_TITLE(after);
  sB_TITLE2 = {};
  sB_TITLE2.FOLDER_NO = number;
  sB_TITLE2.READ_CHK = 1;
  sB_TITLE2.REWRITE_FLG = 2;
  sB_TITLE2.ADD_MAX = add_max;
  set_field(sB_TITLE2.INFO, "A board for the benchmark.");
  InsertB_TITLE2();
}

// One board of `count` messages in threads of one to four: every fourth
// message starts a thread, the others answer the message before them. Every
// tenth has an attachment; each has `readers` read marks.
void fill_board(const DataSet& ds, int32_t folder, int count, const std::string& me,
                Built& b) {
  make_dir(msg_dir_path(folder).c_str());
  std::vector<INDEX_DATA> index;
  std::vector<ADD_FILE> adds;
  index.reserve(static_cast<size_t>(count));
  int32_t thread = 0;
  std::string body;
  // The reader writes some of the messages, for the page that edits one.
  // Where the authors never come round to him (many users), he writes the
  // message after the middle.
  bool writes = false;
  for (int32_t n = 1; n <= count && !writes; n++) writes = user_id((n * 7) % ds.users) == me;
  for (int32_t n = 1; n <= count; n++) {
    INDEX_DATA r{};
    r.FOLDER_NO = folder;
    r.MSG_NO = n;
    if (n % 4 == 1) thread = n;
    r.THREAD_NO = thread;
    r.RES_DEPTH = n - thread;
    r.READ_CHK = n % 3 == 0 ? 2 : 1;
    std::string author = user_id((n * 7) % ds.users);
    if (!writes && n == count / 2 + 2) author = me;
    set_field(r.USER_ID, author);
    char text[64];
    snprintf(text, sizeof text, "2024/%02d/%02d %02d:%02d", 1 + n % 12, 1 + n % 28, n % 24, n % 60);
    set_field(r.WRITE_DATE, text);
    snprintf(text, sizeof text, "Message %d of board %d", n, folder);
    set_field(r.WRITE_TITLE, text);
    if (n % 10 == 0) {
      r.ADD_COUNT = 1;
      ADD_FILE a{};
      a.MSG_NO = n;
      a.ADD_NO = 1;
      set_field(a.FILE_NAME, "notes.txt");
      adds.push_back(a);
      make_dir(folder_dir_path(SYSINFO.ADD_FILE_PATH, folder).c_str());
      make_dir(msg_attach_dir_path(folder, n).c_str());
      make_dir(msg_attach_slot_path(folder, n, 1).c_str());
      write_text(msg_attach_file_path(folder, n, 1, "notes.txt"), "attached\n");
    }
    index.push_back(r);

    body = "Line one of message " + std::to_string(n) + "\rhttp://example.test/\r> quoted\r";
    sINDEX_DATA = r;
    WriteContentsDATA(body.c_str());

    std::string marks;
    for (int k = 0; k < ds.readers && k < ds.users; k++) {
      READ_POINT p{};
      p.MSG_NO = n;
      // The reader's own marks follow below.
      if (user_id((n + k * 3) % ds.users) == b.reader) continue;
      set_field(p.USER_ID, user_id((n + k * 3) % ds.users));
      marks.append(reinterpret_cast<const char*>(&p), sizeof p);
    }
    // The reader has read all but every n-th message.
    if (n % ds.reader_gap != 0) {
      READ_POINT p{};
      p.MSG_NO = n;
      set_field(p.USER_ID, b.reader);
      marks.append(reinterpret_cast<const char*>(&p), sizeof p);
    }
    replace_file(msg_mark_path(folder, n).c_str(), msg_mark_tmp_path(folder, n).c_str(), marks);
    if (author == me && (b.own == 0 || n <= count / 2)) b.own = n;
  }
  save_records(msg_index_path(folder).c_str(), msg_index_tmp_path(folder).c_str(), index);
  save_records(msg_add_list_path(folder).c_str(), msg_add_list_tmp_path(folder).c_str(), adds);
}

Built build(const DataSet& ds, const std::string& tmp_root, const std::string& cgi,
            const std::string& lang) {
  Built b;
  b.root = tmp_root + "/" + ds.name;
  b.cgi_dir = b.root + "/cgi-bin";
  b.data = b.root + "/data/";
  std::string pic = b.root + "/pic/", add = b.root + "/add/";
  for (const std::string& d : {b.root, b.cgi_dir, b.data, pic, add}) fs::create_directories(d);
  b.program = b.cgi_dir + "/morvel.cgi";
  fs::copy_file(cgi, b.program, fs::copy_options::overwrite_existing);
  fs::copy_file(lang, b.cgi_dir + "/english.lng", fs::copy_options::overwrite_existing);
  std::string ini = b.cgi_dir + "/morvel.ini";
  write_text(ini, "LANGUAGE,english.lng,\nCG_FILE_PATH," + pic + ",\nCG_FILE_WEB_PATH,/morvelpic/,\n"
             "DATA_FILE_PATH," + b.data + ",\nADD_FILE_PATH," + add + ",\n"
             "ADD_FILE_WEB_PATH,/morveladd/,\nLOGIN_GIF,title.jpg,\nBACK_GIF,back.gif,\n"
             "LOG_DATE,365,\nDATETIME,1,\nIECOLS,80,\nNSCOLS,60,\nROWS,8,\nMYDATA,0,\n"
             "MAX_CONTENTS,4000,\nFRAME_DIVIDE,20,\n");
  SysFileOpen(ini.c_str());

  // Users, each logged in; the measured user stands in the middle of both
  // files, a member of level 1 who sees the unread counts. The first user is
  // the administrator who opens the administration pages.
  std::string users;
  for (int i = 0; i < ds.users; i++)
    users += user_id(i) + ",User number " + std::to_string(i) + (i == 0 ? ",100,," : ",1,,") + kPassword +
             "," + std::to_string(1 + i % kGroups) + ",1,1,1,,,0,\n";
  write_text(b.data + "user.mst", users);
  // Fifty groups; each user belongs to two of them, the first also his
  // primary group.
  std::string groups, members;
  for (int g = 1; g <= kGroups; g++) groups += std::to_string(g) + ",Group " + std::to_string(g) + ",\n";
  std::vector<std::pair<int, int>> pairs;
  for (int i = 0; i < ds.users; i++)
    for (int g : {1 + i % kGroups, 1 + (i * 7 + 3) % kGroups}) pairs.emplace_back(g, i);
  std::stable_sort(pairs.begin(), pairs.end(),
                   [](const auto& x, const auto& y) { return x.first < y.first; });
  for (const auto& [g, i] : pairs) members += std::to_string(g) + "," + user_id(i) + ",\n";
  write_text(b.data + "group.mst", groups);
  write_text(b.data + "g_user.mst", members);
  b.user = user_id(ds.users / 2);
  b.other = user_id(ds.users / 2 + 1);
  b.reader = user_id(ds.users / 2 + 2);
  setenv("HTTP_USER_AGENT", kAgent, 1);
  setenv("REMOTE_ADDR", "127.0.0.1", 1);
  for (int i = 0; i < ds.users; i++) {
    sMST_SKEY = {};
    sMST_SKEY.SKEY = kKeyBase + i;
    set_field(sMST_SKEY.USER_ID, user_id(i));
    WriteMST_SKEY();
  }
  b.key = kKeyBase + ds.users / 2;
  b.admin_key = kKeyBase;
  b.reader_key = kKeyBase + ds.users / 2 + 2;

  add_folder(1, KIND_DIR, 0, "Boards", 0);
  for (int i = 0; i < ds.boards; i++) {
    char name[32];
    snprintf(name, sizeof name, "Board %d", i + 1);
    add_folder(100000, KIND_BOARD, 1, name, 2);
  }
  std::vector<B_TITLE> folders;
  load_folders(folders);
  for (const B_TITLE& f : folders)
    if (f.KIND == KIND_BOARD) b.boards.push_back(f.FOLDER_NO);
  b.board = b.boards.back();
  for (int32_t f : b.boards) {
    if (ds.one_full && f != b.board) continue;
    Built scratch;
    scratch.reader = b.reader;
    fill_board(ds, f, ds.messages, b.user, f == b.board ? b : scratch);
  }
  b.middle = ds.messages / 2 + 1;

  // A chat room beside the boards with its full list of lines.
  add_folder(100000, KIND_CHAT, 1, "Chat room", 0);
  load_folders(folders);
  b.chat = folders.back().FOLDER_NO;
  for (int n = 1; n <= static_cast<int>(CHAT_LINES_KEPT); n++) {
    sCHAT_DATA = {};
    sCHAT_DATA.MODE = 1;
    set_field(sCHAT_DATA.USER_NAME, "User number " + std::to_string(n % ds.users));
    set_field(sCHAT_DATA.COLOR, "0000FF");
    set_field(sCHAT_DATA.MTALK, "<B>Chat line " + std::to_string(n) + "</B> of the benchmark room");
    set_field(sCHAT_DATA.TALK_DATE, "2024/01/01 12:00.00");
    set_field(sCHAT_DATA.REMOTE_ADDR, "127.0.0.1");
    set_field(sCHAT_DATA.HTTP_USER_AGENT, kAgent);
    WriteCHAT_DATA(b.chat);
  }
  return b;
}

// ---- Running a request ------------------------------------------------------

struct Request {
  std::vector<std::string> argv;  // program and arguments
  std::string cwd;
  std::vector<std::string> env;
  std::string body_file;  // stdin; empty for none
  std::vector<std::string> wipe;  // files removed before each run
};

struct Sample {
  double wall_ms, cpu_ms;
  long rss_kb;
  int status;
};

std::string g_spawn;  // bench-spawn, which starts and measures each run

// Runs the request through bench-spawn and reads back what it measured.
Sample run(const Request& r, const char* out_path = "/dev/null") {
  Sample s{0, 0, 0, -1};
  for (const std::string& f : r.wipe) unlink(f.c_str());
  int fds[2];
  if (pipe(fds) != 0) return s;
  pid_t pid = fork();
  if (pid == 0) {
    dup2(fds[1], 1);
    close(fds[0]);
    close(fds[1]);
    std::vector<std::string> args = {g_spawn, r.body_file.empty() ? "/dev/null" : r.body_file,
                                     out_path, r.cwd};
    args.insert(args.end(), r.argv.begin(), r.argv.end());
    std::vector<char*> av, ev;
    for (const std::string& a : args) av.push_back(const_cast<char*>(a.c_str()));
    av.push_back(nullptr);
    for (const std::string& e : r.env) ev.push_back(const_cast<char*>(e.c_str()));
    ev.push_back(nullptr);
    execve(av[0], av.data(), ev.data());
    _exit(127);
  }
  close(fds[1]);
  std::string text;
  char buf[256];
  ssize_t n;
  while ((n = read(fds[0], buf, sizeof buf)) > 0) text.append(buf, static_cast<size_t>(n));
  close(fds[0]);
  int status = 0;
  waitpid(pid, &status, 0);
  long long wall = 0, cpu = 0;
  long rss = 0;
  int st = -1;
  if (sscanf(text.c_str(), "%lld %lld %ld %d", &wall, &cpu, &rss, &st) == 4) {
    s.wall_ms = static_cast<double>(wall) / 1e3;
    s.cpu_ms = static_cast<double>(cpu) / 1e3;
    s.rss_kb = rss;
    s.status = st;
  }
  return s;
}

// Runs a command directly (for strace), output discarded.
void run_plain(const Request& r) {
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(r.body_file.empty() ? "/dev/null" : r.body_file.c_str(), O_RDONLY);
    int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0 || chdir(r.cwd.c_str()) != 0) _exit(127);
    dup2(in, 0);
    dup2(out, 1);
    dup2(out, 2);
    std::vector<char*> av, ev;
    for (const std::string& a : r.argv) av.push_back(const_cast<char*>(a.c_str()));
    av.push_back(nullptr);
    for (const std::string& e : r.env) ev.push_back(const_cast<char*>(e.c_str()));
    ev.push_back(nullptr);
    execve(av[0], av.data(), ev.data());
    _exit(127);
  }
  int status;
  waitpid(pid, &status, 0);
}

std::string replace_all(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = 0; (at = s.find(from, at)) != std::string::npos; at += to.size())
    s.replace(at, from.size(), to);
  return s;
}

std::string multipart(const std::string& query, const std::string& boundary) {
  std::string body;
  size_t start = 0;
  while (start <= query.size() && !query.empty()) {
    size_t amp = query.find('&', start);
    std::string pair = query.substr(start, amp == std::string::npos ? std::string::npos : amp - start);
    size_t eq = pair.find('=');
    body += "--" + boundary + "\r\nContent-Disposition: form-data; name=\"" + pair.substr(0, eq) +
            "\"\r\n\r\n" + (eq == std::string::npos ? "" : pair.substr(eq + 1)) + "\r\n";
    if (amp == std::string::npos) break;
    start = amp + 1;
  }
  body += "--" + boundary + "--\r\n";
  return body;
}

Request page_request(const Page& p, const Built& b, int serial) {
  std::string q = p.query;
  q = replace_all(q, "{S}", std::to_string(b.key));
  q = replace_all(q, "{F}", std::to_string(b.board));
  q = replace_all(q, "{M}", std::to_string(b.middle));
  q = replace_all(q, "{O}", std::to_string(b.own));
  q = replace_all(q, "{U}", b.other);
  q = replace_all(q, "{W}", b.user);
  q = replace_all(q, "{A}", std::to_string(b.admin_key));
  q = replace_all(q, "{R}", std::to_string(b.reader_key));
  q = replace_all(q, "{C}", std::to_string(b.chat));
  q = replace_all(q, "{P}", kPassword);
  Request r;
  r.argv = {b.program};
  r.cwd = b.cgi_dir;
  r.env = {"GATEWAY_INTERFACE=CGI/1.1", "SERVER_SOFTWARE=bench", "SERVER_NAME=127.0.0.1",
           "SERVER_PORT=80", "SCRIPT_NAME=/cgi-bin/morvel.cgi", "REMOTE_ADDR=127.0.0.1",
           std::string("HTTP_USER_AGENT=") + kAgent, "PATH=/usr/bin:/bin"};
  if (p.flags & kFresh)
    for (int32_t f : b.boards) r.wipe.push_back(read_cache_path(f));
  if (p.flags & kPost) {
    const std::string boundary = "----MorvelBenchBoundary";
    std::string body = multipart(q, boundary);
    r.body_file = b.root + "/body" + std::to_string(serial);
    write_text(r.body_file, body);
    r.env.push_back("REQUEST_METHOD=POST");
    r.env.push_back("QUERY_STRING=");
    r.env.push_back("CONTENT_TYPE=multipart/form-data; boundary=" + boundary);
    r.env.push_back("CONTENT_LENGTH=" + std::to_string(body.size()));
  } else {
    r.env.push_back("REQUEST_METHOD=GET");
    r.env.push_back("QUERY_STRING=" + q);
  }
  return r;
}

// ---- Measuring ----------------------------------------------------------------

struct Result {
  std::string name;
  double wall = 0, lo = 0, hi = 0, cpu = 0;
  long rss = 0;
  long syscalls = -1;
  bool ok = true;
  bool board = false;
  bool users = false;
  bool admin = false;
  // Medians of log-in page runs made between this page's runs: ratios to
  // them are not shifted by the machine speeding up or slowing down while
  // the benchmark goes from page to page.
  double login_wall = 0, login_cpu = 0;
};

struct Options {
  int runs = 15;
  bool keep = false;
  bool quick = false;
  std::string only;  // one data set by name
  std::string cgi = MORVEL_BENCH_CGI, hello = MORVEL_BENCH_HELLO, marks = MORVEL_BENCH_MARKS;
  std::string spawn = MORVEL_BENCH_SPAWN;
  std::string lang = MORVEL_BENCH_LANG;
  std::string strace;
  std::string base;  // an earlier program, measured beside this one
};

double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  double pos = q * static_cast<double>(v.size() - 1);
  size_t i = static_cast<size_t>(pos);
  if (i + 1 >= v.size()) return v.back();
  return v[i] + (pos - static_cast<double>(i)) * (v[i + 1] - v[i]);
}

// System calls of one run, counted by strace over the program and anything
// it starts.
long count_syscalls(const Options& o, const Request& r, const std::string& tmp) {
  if (o.strace.empty()) return -1;
  Request s = r;
  std::string out = tmp + "/strace.out";
  s.argv = {o.strace, "-f", "-c", "-o", out, r.argv[0]};
  run_plain(s);
  std::ifstream in(out);
  std::string line, last;
  while (std::getline(in, line))
    if (line.find("total") != std::string::npos) last = line;
  // "100.00  0.000123  1  345  6 total": calls is the fourth column.
  char pct[32], secs[32];
  long per = 0, calls = -1;
  if (sscanf(last.c_str(), "%31s %31s %ld %ld", pct, secs, &per, &calls) == 4) return calls;
  return -1;
}

// One page to measure: its row name, request and the text its page must hold.
struct Measured {
  std::string name;
  Request r;
  const char* expect;
};

// Measures the pages in turn, one run of each (after one of the log-in
// page, when given) in every round: pages compared with one another meet
// the same minutes of the machine. One result each.
std::vector<Result> measure_each(const Options& o, const std::vector<Measured>& pages, const std::string& tmp,
                                 const Request* login = nullptr) {
  std::vector<Result> res(pages.size());
  // The first run warms the caches (and does a writing page's first-time
  // work); its output is checked.
  std::string out = tmp + "/page.out";
  double slowest = 0;
  for (size_t k = 0; k < pages.size(); k++) {
    const Measured& p = pages[k];
    res[k].name = p.name;
    Sample first = run(p.r, out.c_str());
    std::ifstream in(out, std::ios::binary);
    std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (first.status != 0 || (p.expect && *p.expect && text.find(p.expect) == std::string::npos)) {
      res[k].ok = false;
      fprintf(stderr, "bench: %s did not answer as expected (status %d, %zu bytes)\n", p.name.c_str(),
              first.status, text.size());
    }
    slowest = std::max(slowest, first.wall_ms);
  }
  int runs = o.runs;
  if (slowest > 50) runs = std::max(5, std::min(runs, static_cast<int>(1500 / slowest)));
  std::vector<std::vector<double>> wall(pages.size()), cpu(pages.size());
  std::vector<double> login_wall, login_cpu;
  std::vector<long> rss(pages.size(), 0);
  for (int i = 0; i < runs; i++) {
    if (login) {
      Sample l = run(*login);
      login_wall.push_back(l.wall_ms);
      login_cpu.push_back(l.cpu_ms);
    }
    for (size_t k = 0; k < pages.size(); k++) {
      Sample s = run(pages[k].r);
      wall[k].push_back(s.wall_ms);
      cpu[k].push_back(s.cpu_ms);
      rss[k] = std::max(rss[k], s.rss_kb);
    }
  }
  for (size_t k = 0; k < pages.size(); k++) {
    Result& r = res[k];
    if (login) {
      r.login_wall = quantile(login_wall, 0.5);
      r.login_cpu = quantile(login_cpu, 0.5);
    }
    r.wall = quantile(wall[k], 0.5);
    r.lo = quantile(wall[k], 0.1);
    r.hi = quantile(wall[k], 0.9);
    r.cpu = quantile(cpu[k], 0.5);
    r.rss = rss[k];
    r.syscalls = count_syscalls(o, pages[k].r, tmp);
  }
  return res;
}

Result measure(const Options& o, const std::string& name, const Request& r, const char* expect,
               const std::string& tmp, const Request* login = nullptr) {
  return measure_each(o, {{name, r, expect}}, tmp, login)[0];
}

struct SetResult {
  std::string name;
  std::vector<Result> rows;
  const Result* find(const std::string& n) const {
    for (const Result& r : rows)
      if (r.name == n) return &r;
    return nullptr;
  }
};

constexpr char kHello[] = "(static hello CGI)";
constexpr char kMarks[] = "(read-mark files alone)";
constexpr char kBodies[] = "(message bodies alone)";
constexpr char kLogin[] = "log-in page";

// ---- read data: the pages the derived read data changes, measured on an
// earlier program (--base) beside this one, on the same site after this
// program's own runs, so that both meet the same machine.
constexpr char kFreshMenu[] = "menu, no derived data";
constexpr char kFreshBeside[] = "(beside) menu, no derived data";
constexpr const char* kBasePages[] = {"menu, unread counts", "unread list, 100 unread", "details",
                                      "post a new thread", "post a reply", "edit a message",
                                      "mark all read (again)"};

void measure_base(const Options& o, const Built& b, const Request& login, int& serial,
                  SetResult& set) {
  if (o.base.empty()) return;
  const std::string dir = b.root + "/cgi-bin-before";
  fs::create_directories(dir);
  for (const char* f : {"morvel.ini", "english.lng"})
    fs::copy_file(b.cgi_dir + "/" + f, dir + "/" + f, fs::copy_options::overwrite_existing);
  fs::copy_file(o.base, dir + "/morvel.cgi", fs::copy_options::overwrite_existing);
  auto named = [](const char* name) {
    return std::find_if(std::begin(kPages), std::end(kPages), [&](const Page& p) { return p.name == std::string(name); });
  };
  for (const char* name : kBasePages) {
    const auto p = named(name);
    if (p == std::end(kPages)) continue;
    Request r = page_request(*p, b, serial++);
    r.argv = {dir + "/morvel.cgi"};
    r.cwd = dir;
    std::vector<Measured> pages = {{std::string("(before) ") + p->name, r, p->expect}};
    // The first menu without derived data must cost no more than the
    // earlier menu: the two are measured in turn, in the same minutes.
    const auto fresh = named(kFreshMenu);
    if (p->name == std::string("menu, unread counts") && fresh != std::end(kPages))
      pages.push_back({kFreshBeside, page_request(*fresh, b, serial++), fresh->expect});
    for (Result& res : measure_each(o, pages, b.root, &login)) set.rows.push_back(res);
  }
}

SetResult run_set(const Options& o, const DataSet& ds, const std::string& tmp) {
  fprintf(stderr, "bench: building %s ...\n", ds.name.c_str());
  Built b = build(ds, tmp, o.cgi, o.lang);
  fprintf(stderr, "bench: measuring %s ...\n", ds.name.c_str());
  SetResult set;
  set.name = ds.name;

  Request hello;
  hello.argv = {o.hello};
  hello.cwd = b.cgi_dir;
  hello.env = {"REQUEST_METHOD=GET", "QUERY_STRING="};
  set.rows.push_back(measure(o, kHello, hello, "hello", b.root));

  Request marks = hello;
  marks.argv = {o.marks, b.data};
  for (int32_t f : b.boards) marks.argv.push_back(std::to_string(f));
  set.rows.push_back(measure(o, kMarks, marks, "files", b.root));
  Request bodies = marks;
  bodies.argv.insert(bodies.argv.begin() + 1, "-b");
  set.rows.push_back(measure(o, kBodies, bodies, "files", b.root));

  int serial = 0;
  const Request login = page_request(kPages[0], b, serial++);
  for (bool writes : {false, true}) {
    for (const Page& p : kPages) {
      if (((p.flags & kWrites) != 0) != writes) continue;
      Result r = measure(o, p.name, page_request(p, b, serial++), p.expect, b.root, &login);
      r.board = (p.flags & kBoard) != 0;
      r.users = (p.flags & kUsers) != 0;
      r.admin = (p.flags & kAdmin) != 0;
      set.rows.push_back(r);
    }
  }
  measure_base(o, b, login, serial, set);
  if (!o.keep) fs::remove_all(b.root);
  return set;
}

// ---- Printing -------------------------------------------------------------------

void print_set(const SetResult& s) {
  const Result* login = s.find(kLogin);
  const Result* hello = s.find(kHello);
  printf("\n== %s ==\n", s.name.c_str());
  printf("%-24s %8s %15s %7s %13s %13s %7s %8s\n", "", "wall ms", "wall p10-p90", "cpu ms",
         "x login", "x hello", "RSS KB", "syscalls");
  printf("%-24s %8s %15s %7s %6s %6s %6s %6s\n", "page", "median", "", "median", "wall", "cpu",
         "wall", "cpu");
  auto ratio = [](double a, const Result* b, bool cpu) {
    double d = b ? (cpu ? b->cpu : b->wall) : 0;
    return d > 0 ? a / d : 0;
  };
  auto to_login = [&](const Result& r, bool cpu) {
    double d = cpu ? r.login_cpu : r.login_wall;
    return d > 0 ? (cpu ? r.cpu : r.wall) / d : ratio(cpu ? r.cpu : r.wall, login, cpu);
  };
  for (const Result& r : s.rows) {
    char sys[16] = "-";
    if (r.syscalls >= 0) snprintf(sys, sizeof sys, "%ld", r.syscalls);
    printf("%-24s %8.2f %6.2f - %6.2f %7.2f %6.2f %6.2f %6.2f %6.2f %7ld %8s%s\n",
           r.name.c_str(), r.wall, r.lo, r.hi, r.cpu, to_login(r, false), to_login(r, true),
           ratio(r.wall, hello, false), ratio(r.cpu, hello, true),
           r.rss, sys, r.ok ? "" : "  FAILED");
  }
}

void print_growth(const std::vector<const SetResult*>& series) {
  printf("\n== growth with the board (one board; CPU ms, then factors; wall in brackets) ==\n");
  printf("%-24s", "page");
  for (const SetResult* s : series) printf(" %12s", s->name.c_str());
  for (size_t i = 1; i < series.size(); i++) printf(" %15s", ("x" + std::to_string(i)).c_str());
  printf("\n");
  for (const Result& r : series.front()->rows) {
    printf("%-24s", r.name.c_str());
    std::vector<const Result*> v;
    for (const SetResult* s : series) {
      v.push_back(s->find(r.name));
      printf(" %12.2f", v.back() ? v.back()->cpu : 0);
    }
    for (size_t i = 1; i < v.size(); i++) {
      if (!v[0] || !v[i] || v[0]->cpu <= 0 || v[0]->wall <= 0) {
        printf(" %15s", "-");
        continue;
      }
      printf(" %6.2f (%6.2f)", v[i]->cpu / v[0]->cpu, v[i]->wall / v[0]->wall);
    }
    printf("\n");
  }
  printf("(x1, x2: each later set's time over the first set's)\n");
}

int g_failed = 0;

void check(bool ok, const char* fmt, ...) __attribute__((format(printf, 2, 3)));
void check(bool ok, const char* fmt, ...) {
  va_list ap;
  va_start(ap, fmt);
  printf("  %s  ", ok ? "ok  " : "MISS");
  vprintf(fmt, ap);
  printf("\n");
  va_end(ap);
  if (!ok) g_failed++;
}

// The checks compare CPU time (user and system) of the request: unlike wall
// time it is not stretched by whatever else the machine runs meanwhile.
double cpu_of(const SetResult& s, const std::string& name) {
  const Result* r = s.find(name);
  return r ? r->cpu : 0;
}

// A page's CPU time over that of the log-in page runs made between its own.
double x_login(const Result& r) { return r.login_cpu > 0 ? r.cpu / r.login_cpu : 0; }
double x_login(const SetResult& s, const std::string& name) {
  const Result* r = s.find(name);
  return r ? x_login(*r) : 0;
}

// The pages that walk the whole folder tree, on a tree of 5,000 boards.
void check_large_tree(const std::map<std::string, SetResult>& sets) {
  if (!sets.count("folders-5000")) return;
  for (const Result& r : sets.at("folders-5000").rows) {
    if (r.name != "menu, unread counts" && r.name != "unread settings") continue;
    check(x_login(r) <= 10, "5,000 folders: %-20s %6.2f ms = %.2f x log-in page (<= 10)",
          r.name.c_str(), r.cpu, x_login(r));
    check(r.rss <= 16 * 1024, "5,000 folders: %-20s peak RSS %ld KB (<= 16384)", r.name.c_str(),
          r.rss);
  }
}

void print_checks(const std::map<std::string, SetResult>& sets) {
  printf("\n== targets (CPU time) ==\n");
  check_large_tree(sets);
  if (sets.count("board-20000")) {
    const SetResult& big = sets.at("board-20000");
    for (const Result& r : big.rows) {
      if (!r.board) continue;
      check(x_login(r) <= 3, "20,000 messages: %-20s %6.2f ms = %.2f x log-in page (<= 3)",
            r.name.c_str(), r.cpu, x_login(r));
      check(r.rss < 6 * 1024, "20,000 messages: %-20s peak RSS %ld KB (< 6144)", r.name.c_str(),
            r.rss);
    }
    double mark = cpu_of(big, "mark all read (again)"), menu = cpu_of(big, "menu, unread counts");
    check(mark <= 1.5 * menu,
          "20,000 messages: mark all read %.2f ms = %.2f x the menu counting the board (<= 1.5)",
          mark, mark / menu);
  }
  if (sets.count("medium")) {
    const SetResult& m = sets.at("medium");
    double menu = cpu_of(m, "menu, unread counts");
    double floor = cpu_of(m, kMarks) + cpu_of(m, kLogin);
    check(menu <= 1.2 * floor,
          "medium: menu %.2f ms = %.2f x (read-mark files alone + log-in page = %.2f ms) (<= 1.2)",
          menu, menu / floor, floor);
    double search = cpu_of(m, "search, keyword found nowhere"), bodies = cpu_of(m, kBodies);
    check(search <= 1.5 * bodies,
          "medium: keyword search %.2f ms = %.2f x (message bodies alone = %.2f ms) (<= 1.5)", search,
          search / bodies, bodies);
    check(x_login(m, "unread list, 100 unread") <= 4,
          "medium: unread list, 100 unread %.2f ms = %.2f x log-in page (<= 4)",
          cpu_of(m, "unread list, 100 unread"), x_login(m, "unread list, 100 unread"));
  }
  if (sets.count("medium") && sets.count("medium-500-users")) {
    const SetResult &a = sets.at("medium"), &b = sets.at("medium-500-users");
    for (const Result& r : a.rows) {
      if (r.name[0] == '(' || r.users) continue;
      // Each measured against its own log-in page runs, which read no users.
      double x = x_login(b, r.name) / x_login(r);
      check(x <= 1.2, "500 users / 50:   %-22s %.2f (<= 1.2)", r.name.c_str(), x);
    }
  }
  if (sets.count("medium-500-users")) {
    const SetResult& b = sets.at("medium-500-users");
    for (const Result& r : b.rows)
      if (r.admin)
        check(x_login(r) <= 1.3, "500 users, 50 groups: %-22s %6.2f ms = %.2f x log-in page (<= 1.3)",
              r.name.c_str(), r.cpu, x_login(r));
  }
  if (sets.count("folders-25") && sets.count("folders-500")) {
    const SetResult &a = sets.at("folders-25"), &b = sets.at("folders-500");
    for (const Result& r : a.rows) {
      if (r.name.rfind("room list", 0) != 0 && r.name != "details") continue;
      double x = x_login(b, r.name) / x_login(r);
      check(x <= 1.2, "500 folders / 25: %-22s %.2f (<= 1.2)", r.name.c_str(), x);
    }
  }
}

// ---- read data: targets of the unread counts and lists -----------------------

// Each page's CPU time over the log-in page's, as measured on this program
// before the boards had derived read data (medium, board-2000, board-20000,
// history; 9 runs a page).
const std::map<std::string, std::map<std::string, double>> kBefore = {
    {"medium", {{"details", 1.21}, {"post a new thread", 1.44}, {"post a reply", 1.54},
                {"edit a message", 1.56}, {"mark all read (again)", 2.30},
                {"menu, unread counts", 7.46}}},
    {"board-2000", {{"menu, unread counts", 4.31}, {"mark all read (again)", 5.38}}},
    {"board-20000", {{"menu, unread counts", 21.47}, {"mark all read (again)", 25.76}}},
    {"history", {{"menu, unread counts", 76.27}, {"mark all read (again)", 6.88}}},
};

void print_read_checks(const std::map<std::string, SetResult>& sets) {
  printf("\n== targets of the derived read data (CPU time, x log-in page) ==\n");
  auto before = [&sets](const std::string& set, const std::string& page) {
    // Measured beside this program when --base was given, else as recorded.
    if (sets.count(set))
      if (const Result* r = sets.at(set).find("(before) " + page)) return x_login(*r);
    auto s = kBefore.find(set);
    if (s == kBefore.end()) return 0.0;
    auto p = s->second.find(page);
    return p == s->second.end() ? 0.0 : p->second;
  };
  for (const auto& [set, limit] : std::map<std::string, double>{{"medium", 1.5}, {"history", 2}}) {
    if (!sets.count(set)) continue;
    const SetResult& s = sets.at(set);
    double menu = x_login(s, "menu, unread counts"), list = x_login(s, "unread list, 100 unread");
    check(menu <= limit, "%s: menu %.2f x log-in page (<= %.1f; before %.2f)", set.c_str(), menu, limit,
          before(set, "menu, unread counts"));
    check(list <= 2, "%s: unread list, 100 unread %.2f x log-in page (<= 2)", set.c_str(), list);
  }
  if (sets.count("board-2000") && sets.count("board-20000")) {
    double a = x_login(sets.at("board-2000"), "menu, unread counts");
    double b = x_login(sets.at("board-20000"), "menu, unread counts");
    check(b <= 1.2 * a, "menu at 20,000 messages %.2f / at 2,000 %.2f = %.2f (<= 1.2)", b, a, b / a);
  }
  if (sets.count("medium")) {
    const SetResult& m = sets.at("medium");
    for (const char* page : {"details", "post a new thread", "post a reply", "edit a message"}) {
      double now = x_login(m, page), was = before("medium", page);
      check(now <= 1.2 * was, "medium: %-18s %.2f x log-in page, before %.2f (<= 1.2 x before)", page,
            now, was);
    }
  }
  for (const auto& [set, s] : sets) {
    double was = before(set, "mark all read (again)");
    if (was > 0) {
      double now = x_login(s, "mark all read (again)");
      check(now <= was, "%s: mark all read %.2f x log-in page, before %.2f (no slower)", set.c_str(),
            now, was);
    }
    was = before(set, "menu, unread counts");
    if (was > 0) {
      // Beside the earlier menu when that was measured here, else as
      // measured among this program's pages.
      const Result* fresh = s.find(kFreshBeside);
      double now = fresh ? x_login(*fresh) : x_login(s, kFreshMenu);
      check(now <= was, "%s: menu without derived data %.2f x log-in page, menu before %.2f (no slower)",
            set.c_str(), now, was);
    }
  }
}

std::string find_strace() {
  for (const char* p : {"/usr/bin/strace", "/bin/strace", "/usr/local/bin/strace"})
    if (access(p, X_OK) == 0) return p;
  return "";
}

}  // namespace

int main(int argc, char** argv) {
  Options o;
  for (int i = 1; i < argc; i++) {
    std::string a = argv[i];
    auto next = [&]() -> std::string { return i + 1 < argc ? argv[++i] : ""; };
    if (a == "--runs") o.runs = std::max(3, atoi(next().c_str()));
    else if (a == "--quick") o.quick = true;
    else if (a == "--keep") o.keep = true;
    else if (a == "--only") o.only = next();
    else if (a == "--cgi") o.cgi = next();
    else if (a == "--hello") o.hello = next();
    else if (a == "--marks") o.marks = next();
    else if (a == "--lang") o.lang = next();
    else if (a == "--spawn") o.spawn = next();
    else if (a == "--base") o.base = next();
    else {
      fprintf(stderr, "usage: morvel-bench [--runs N] [--quick] [--only SET] [--keep] [--cgi PATH] "
                      "[--hello PATH] [--marks PATH] [--lang FILE]\n");
      return 2;
    }
  }
  o.strace = find_strace();
  g_spawn = o.spawn;

  std::vector<DataSet> sets = {
      {"medium", 50, 20, 200, false},
      {"medium-500-users", 500, 20, 200, false},
      {"board-200", 50, 1, 200, true},
      {"board-2000", 50, 1, 2000, true},
      {"board-20000", 50, 1, 20000, true},
      {"folders-25", 50, 25, 200, true},
      {"folders-500", 50, 500, 200, true},
      // ---- read data: years of history, 100 unread for the reader ----
      {"history", 50, 20, 5000, false, 10, 1000},
  };

  // A large folder tree: the pages that walk every folder against the log-in
  // page, with their memory.
  sets.push_back({"folders-5000", 50, 5000, 200, true});
  if (!o.only.empty())
    std::erase_if(sets, [&o](const DataSet& d) { return d.name != o.only; });
  if (o.quick) {
    sets = {{"medium", 50, 20, 200, false}, {"board-2000", 50, 1, 2000, true}};
    o.runs = std::min(o.runs, 5);
  }

  char tmpl[] = "/tmp/morvel-bench.XXXXXX";
  const char* tmpdir = getenv("TMPDIR");
  std::string pattern = std::string(tmpdir && *tmpdir ? tmpdir : "/tmp") + "/morvel-bench.XXXXXX";
  std::vector<char> buf(pattern.begin(), pattern.end());
  buf.push_back('\0');
  char* tmp = mkdtemp(buf.data());
  if (!tmp) tmp = mkdtemp(tmpl);
  if (!tmp) {
    perror("mkdtemp");
    return 1;
  }

  printf("Morvel page benchmark: %d timed runs a page (fewer for slow pages), medians; "
         "syscalls %s.\n", o.runs, o.strace.empty() ? "not counted (no strace)" : "by strace -f -c");
  std::map<std::string, SetResult> results;
  for (const DataSet& ds : sets) {
    results[ds.name] = run_set(o, ds, tmp);
    print_set(results[ds.name]);
    fflush(stdout);
  }
  std::vector<const SetResult*> series;
  for (const char* n : {"board-200", "board-2000", "board-20000"})
    if (results.count(n)) series.push_back(&results[n]);
  if (series.size() > 1) print_growth(series);
  print_checks(results);
  print_read_checks(results);
  if (!o.keep) fs::remove_all(tmp);
  else printf("\nsites kept in %s\n", tmp);
  bool broken = false;
  for (const auto& [n, s] : results)
    for (const Result& r : s.rows) broken = broken || !r.ok;
  return broken ? 1 : 0;
}
