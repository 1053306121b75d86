// Dates and times as fixed-width text: reading the local clock, stepping a
// date by days and months, and adding, subtracting and counting "hh:mm"
// times. Every operation works in place on the caller's buffer.
#include "text/datetime.h"

#include <cstdio>
#include <cstring>
#include <chrono>
#include <ctime>

namespace {

// Days of January to December in a common year. February gets its leap day
// from month_days(), never from this table.
const signed char DayOfYear[12] = {31, 28, 31, 30, 31, 30,
                                   31, 31, 30, 31, 30, 31};

bool leap_year(int year) {
  return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
}

// Length of a month. A month outside 1-12 is read as the nearest valid one,
// so a damaged date never reads past the table.
int month_days(int year, int month) {
  if (month < 1) month = 1;
  if (month > 12) month = 12;
  if (month == 2 && leap_year(year)) return 29;
  return DayOfYear[month - 1];
}

// Decimal number in at most `len` characters of `s` (stopping early at a
// NUL), read like atoi: leading blanks, an optional sign, then digits up to
// the first other character. No digits give 0.
int num_at(const char* s, size_t len) {
  size_t i = 0;
  while (i < len && s[i] != '\0' && (s[i] == ' ' || s[i] == '\t')) i++;
  bool neg = false;
  if (i < len && (s[i] == '-' || s[i] == '+')) neg = s[i++] == '-';
  int v = 0;
  while (i < len && s[i] >= '0' && s[i] <= '9') v = v * 10 + (s[i++] - '0');
  return neg ? -v : v;
}

// Characters 1-4, 6-7 and 9-10 of a date text; the separators are not
// looked at. A text ending early leaves the missing parts 0.
struct Ymd {
  int y, m, d;
};

Ymd read_date(const char* s) {
  Ymd r{0, 0, 0};
  size_t n = strnlen(s, 10);
  r.y = num_at(s, n < 4 ? n : 4);
  if (n > 5) r.m = num_at(s + 5, n - 5 < 2 ? n - 5 : 2);
  if (n > 8) r.d = num_at(s + 8, n - 8 < 2 ? n - 8 : 2);
  return r;
}

// Writes a plain 10-character date. The output is bounded by the 11 bytes
// every date buffer has, even for a year that no longer fits four digits.
void write_date(char* buf, const Ymd& t) {
  snprintf(buf, 11, "%04d/%02d/%02d", t.y, t.m, t.d);
}

void local_now(struct tm* out) {
  time_t now = time(nullptr);
  localtime_r(&now, out);
}

// Writes a time in the form chosen by mode: 0 space-padded, 1 zero-padded.
// Any other mode leaves the buffer as it was.
void write_time(char* buf, int minutes, int mode) {
  const char* fmt = mode == 0 ? "%2d:%02d" : mode == 1 ? "%02d:%02d" : nullptr;
  if (!fmt) return;
  snprintf(buf, 6, fmt, minutes / 60, minutes % 60);
}

}  // namespace

void set_date(char* buf) {
  struct tm t;
  local_now(&t);
  snprintf(buf, 17, "%04d/%02d/%02d %02d:%02d", t.tm_year + 1900,
           t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min);
}

void set_datetime(char* buf) {
  struct tm t;
  local_now(&t);
  snprintf(buf, 20, "%04d/%02d/%02d %02d:%02d.%02d", t.tm_year + 1900,
           t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
}

void set_week(char* buf) {
  struct tm t;
  local_now(&t);
  write_date(buf, Ymd{t.tm_year + 1900, t.tm_mon + 1, t.tm_mday});
  // Weeks start on Monday; a Sunday belongs to the week begun six days before.
  int back = t.tm_wday - 1;
  if (back < 0) back = 6;
  for (int i = 0; i < back; i++) back_date(buf);
}

void next_date(char* buf) {
  Ymd t = read_date(buf);
  t.d++;
  if (t.d > month_days(t.y, t.m)) {
    t.d = 1;
    t.m++;
    if (t.m > 12) {
      t.m = 1;
      t.y++;
    }
  }
  write_date(buf, t);
}

void back_date(char* buf) {
  Ymd t = read_date(buf);
  t.d--;
  if (t.d < 1) {
    t.m--;
    if (t.m < 1) {
      t.m = 12;
      t.y--;
    }
    t.d = month_days(t.y, t.m);
  }
  write_date(buf, t);
}

void next_7date(char* buf) {
  for (int i = 0; i < 7; i++) next_date(buf);
}

void back_7date(char* buf) {
  for (int i = 0; i < 7; i++) back_date(buf);
}

void next_month(char* buf) {
  Ymd t = read_date(buf);
  t.m++;
  if (t.m > 12) {
    t.m = 1;
    t.y++;
  }
  int len = month_days(t.y, t.m);
  if (t.d > len) t.d = len;
  write_date(buf, t);
}

void back_month(char* buf) {
  Ymd t = read_date(buf);
  t.m--;
  if (t.m < 1) {
    t.m = 12;
    t.y--;
  }
  int len = month_days(t.y, t.m);
  if (t.d > len) t.d = len;
  write_date(buf, t);
}

int chk_date(const char* date) {
  Ymd t = read_date(date);
  return t.d > month_days(t.y, t.m) ? -1 : 0;
}

int calc_MonthDate(const char* date) {
  Ymd t = read_date(date);
  return month_days(t.y, t.m);
}

void ctoi_time(const char* time, int* hour, int* minute) {
  size_t n = strnlen(time, 5);
  if (n > 1 && time[1] == ':') {
    *hour = num_at(time, 1);
    *minute = n > 2 ? num_at(time + 2, n - 2 < 2 ? n - 2 : 2) : 0;
  } else {
    *hour = num_at(time, n < 2 ? n : 2);
    *minute = n > 3 ? num_at(time + 3, n - 3 < 2 ? n - 3 : 2) : 0;
  }
}

void add_time(char* buf, const char* add, int mode) {
  int h1, m1, h2, m2;
  ctoi_time(buf, &h1, &m1);
  ctoi_time(add, &h2, &m2);
  int total = (h1 + h2) * 60 + m1 + m2;
  // A day ends at 24:00; later sums stop there.
  if (total > 24 * 60) total = 24 * 60;
  if (total < 0) total = 0;
  write_time(buf, total, mode);
}

void sub_time(char* buf, const char* sub, int mode) {
  int h1, m1, h2, m2;
  ctoi_time(buf, &h1, &m1);
  ctoi_time(sub, &h2, &m2);
  int diff = (h1 * 60 + m1) - (h2 * 60 + m2);
  if (diff < 0) diff = 0;
  if (diff > 99 * 60 + 59) diff = 99 * 60 + 59;  // keeps the text 5 characters
  write_time(buf, diff, mode);
}

int calc_TimeToCount(const char* t1, const char* t2, const char* step) {
  char work[6] = {0};
  char end[6] = {0};
  bool first_smaller = strcmp(t1, t2) < 0;
  snprintf(work, sizeof work, "%s", first_smaller ? t1 : t2);
  snprintf(end, sizeof end, "%s", first_smaller ? t2 : t1);
  int count = 0;
  while (strcmp(work, end) < 0) {
    char before[6];
    memcpy(before, work, sizeof before);
    add_time(work, step, 1);
    // A zero step, or a working time held at 24:00, would never reach the
    // end: stop once a step no longer moves the time.
    if (strcmp(work, before) == 0) break;
    count++;
  }
  return count;
}

std::string date_days_back(long long days) {
  using namespace std::chrono;
  struct tm t;
  local_now(&t);
  const sys_days today{year{t.tm_year + 1900} / (t.tm_mon + 1) / t.tm_mday};
  const long long today_n = today.time_since_epoch().count();
  const long long first_n = sys_days{year{1} / 1 / 1}.time_since_epoch().count();
  if (days < 0) days = 0;
  if (days > today_n - first_n) return "";
  const year_month_day d{sys_days{sys_days::duration{today_n - days}}};
  char buf[16];
  snprintf(buf, sizeof buf, "%04d/%02u/%02u", static_cast<int>(d.year()),
           static_cast<unsigned>(d.month()), static_cast<unsigned>(d.day()));
  return buf;
}
