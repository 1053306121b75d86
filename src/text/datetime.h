// Dates and times as fixed-width text, whose string order is their order in
// time: "YYYY/MM/DD", "YYYY/MM/DD hh:mm", "YYYY/MM/DD hh:mm.ss", "hh:mm".
#pragma once
#include <string>

void set_date(char* buf);      // 16 characters, now
void set_datetime(char* buf);  // 19 characters, now
void set_week(char* buf);      // Monday of the current week
void next_date(char* buf);
void back_date(char* buf);
void next_7date(char* buf);
void back_7date(char* buf);
void next_month(char* buf);
void back_month(char* buf);
int chk_date(const char* date);
int calc_MonthDate(const char* date);
void ctoi_time(const char* time, int* hour, int* minute);
void add_time(char* buf, const char* add, int mode);
void sub_time(char* buf, const char* sub, int mode);
int calc_TimeToCount(const char* t1, const char* t2, const char* step);
// "YYYY/MM/DD" of the day `days` days before today (today for 0 or less),
// by calendar arithmetic, so any count costs the same; empty when that day
// would lie before the year 1.
[[nodiscard]] std::string date_days_back(long long days);
