// Access log pages for system administrators: the entry page (which also
// prunes the log), the download of the log, the per-user statistics with
// the deletion of users.
#pragma once

// JOB=AccessLogDISP: entry page; afterwards drops the lines older than
// LOG_DATE days.
void j_AccessLogDISP();
// JOB=AccessLogDOWNLOAD: "system.log" as a download; an empty response for
// anyone but an administrator.
void j_AccessLogDOWNLOAD();
// JOB=AccessLogLastLogin: every user with last log-in, log-ins, writings and
// their ratio, and boxes to delete users.
void j_AccessLogLastLogin();
// JOB=AccessLogDeleteUser: deletes the ticked users everywhere.
void j_AccessLogDeleteUser();
