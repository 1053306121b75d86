// morvel-admin, the maintenance command of an installation: given the
// program's settings file, it checks and repairs the data directory, takes
// a backup while the site is serving, gives a user a new password and sets
// up a new installation.
#include <sys/stat.h>
#include <unistd.h>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "admin.h"
#include "settings/sysinfo.h"

namespace {

struct Command {
  const char* name;
  const char* args;
  const char* help;
};

const Command kCommands[] = {
    {"check", "",
     "Reads the whole data directory and reports, one line each, what does not fit:\n"
     "record files that do not parse or end in a partial record, messages without a\n"
     "body, bodies, read marks and attachments of messages that do not exist,\n"
     "temporary files of interrupted writes, upload files of dead requests older than\n"
     "an hour, directories of folders that are not in the tree, access entries and\n"
     "memberships naming users, groups or folders that do not exist, duplicate or\n"
     "unsafe user IDs, and derived unread data that disagrees with the read marks.\n"
     "Changes nothing. Exit status: 0 clean, 1 something found, 2 the data directory\n"
     "cannot be read.\n"},
    {"repair", "[--dry-run]",
     "Fixes what check finds, under the locks the program takes, so it is safe while\n"
     "the site is serving: removes temporary files and leftovers of deleted or\n"
     "interrupted messages, moves directories of folders that are not in the tree\n"
     "into the quarantine directory inside the data directory (message data is never\n"
     "deleted), drops entries naming what does not exist and rebuilds derived data.\n"
     "What it cannot judge (a duplicate user ID, a line that does not parse) is\n"
     "reported and left as it is. --dry-run prints what would be done.\n"
     "Exit status: 0 everything fixed, 1 something left or failed, 2 the data\n"
     "directory cannot be read.\n"},
    {"backup", "DIR",
     "Writes a consistent copy of the data directory into DIR/data (and of the\n"
     "attachment and picture directories into DIR/attachments and DIR/pictures)\n"
     "while the site is serving: each folder is copied under the lock its writers\n"
     "take, so no file is caught half-way through a change. DIR must not exist or be\n"
     "empty. Prints how to restore the copy. Exit status: 0 done, 1 failed.\n"},
    {"reset-password", "ID",
     "Gives the user ID a new random password and prints it once.\n"
     "Exit status: 0 done, 1 no such user or the user master cannot be written.\n"},
    {"init", "",
     "Sets up a new installation: the first administrator \"admin\" with a random\n"
     "password (printed once) when no user exists, and a small demo folder tree when\n"
     "no folder exists.\n"},
};

void usage(FILE* out) {
  fprintf(out, "usage: morvel-admin SETTINGS.ini COMMAND [ARGS]   (--help after a command for more)\n");
  for (const Command& c : kCommands) fprintf(out, "  %-15s %s\n", c.name, c.args);
}

const Command* find_command(const std::string& name) {
  for (const Command& c : kCommands)
    if (name == c.name) return &c;
  return nullptr;
}

}  // namespace

int main(int argc, char** argv) {
  std::vector<std::string> args(argv + 1, argv + argc);
  bool help = false, dry_run = false;
  std::vector<std::string> words;
  for (const std::string& a : args) {
    if (a == "--help" || a == "-h")
      help = true;
    else if (a == "--dry-run")
      dry_run = true;
    else
      words.push_back(a);
  }
  const Command* cmd = nullptr;
  for (const std::string& w : words)
    if ((cmd = find_command(w))) break;
  if (help) {
    if (!cmd) {
      usage(stdout);
      return 0;
    }
    printf("usage: morvel-admin SETTINGS.ini %s %s\n\n%s", cmd->name, cmd->args, cmd->help);
    return 0;
  }
  if (words.size() < 2 || !cmd || words[1] != cmd->name) {
    usage(stderr);
    return 2;
  }
  const std::string settings = words[0], name = cmd->name;
  const size_t want = strlen(cmd->args) > 0 && cmd->args[0] != '[' ? 3 : 2;
  if (words.size() != want || (dry_run && name != "repair")) {
    fprintf(stderr, "usage: morvel-admin SETTINGS.ini %s %s\n", cmd->name, cmd->args);
    return 2;
  }
  // Loading never writes a settings file here: a missing one is an error.
  if (access(settings.c_str(), R_OK) != 0) {
    fprintf(stderr, "morvel-admin: cannot read %s\n", settings.c_str());
    return 2;
  }
  SysFileOpen(settings.c_str());
  if (!SYSINFO.DATA_FILE_PATH[0]) {
    fprintf(stderr, "morvel-admin: %s names no DATA_FILE_PATH\n", settings.c_str());
    return 2;
  }
  // The program's directory (where the settings file lies) receives the
  // upload files of its requests.
  char real[PATH_MAX];
  std::string program_dir = realpath(settings.c_str(), real) ? real : settings;
  program_dir = program_dir.substr(0, std::max<size_t>(1, program_dir.find_last_of('/')));

  if (name == "check") {
    Run run(Run::kCheck);
    return scan_site(run, program_dir);
  }
  if (name == "repair") {
    Run run(dry_run ? Run::kDryRun : Run::kRepair);
    return scan_site(run, program_dir);
  }
  if (name == "backup") return backup_site(words[2]);
  if (name == "reset-password") return reset_password(words[2]);
  return init_site(std::string(argv[0]) + " " + settings);
}
