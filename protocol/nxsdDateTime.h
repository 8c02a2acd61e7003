// Dates and times as the record layout stores them.
//
//   day number     days since 1 January 0001, plus 1 (1 January 0001 is day 1)
//   time of day    milliseconds since midnight
//   date-time      IEEE double: day number * 86400000 + milliseconds of the day
//   clock value    the program's own: days since 30 December 1899 (day number 693594),
//                  time of day as the fraction; before that day the fraction still runs
//                  forward within the day (-1.25 is 29 December 1899, 06:00)
#pragma once

#include <cstdint>

namespace vantera {

inline constexpr int32_t kMSecsPerDay = 86400000;
// Day number of 30 December 1899, the clock's day 0.
inline constexpr int32_t kClockDayOffset = 693594;

struct TimeStamp {
  int32_t date = 0;  // day number
  int32_t time = 0;  // milliseconds of the day
  bool operator==(const TimeStamp&) const = default;
};

// Day number of a date of the proleptic Gregorian calendar (year 1 to 9999).
int32_t DayNumber(int year, int month, int day);
// The date of a day number >= 1.
void DayNumberToDate(int32_t day_number, int* year, int* month, int* day);

// Clock value <-> time stamp. A clock value that is not finite or whose day number falls
// outside 0 .. 2^31-1 throws EnxDataDictionaryException 10019.
TimeStamp ClockToTimeStamp(double clock);
double TimeStampToClock(TimeStamp ts);

// Time stamp <-> the stored date-time double. A stored value that is not finite, negative
// or beyond the day-number range throws EnxDataDictionaryException 10019.
double TimeStampToMSecs(TimeStamp ts);
TimeStamp MSecsToTimeStamp(double msecs);

// The local date and time now.
TimeStamp CurrentLocalTimeStamp();

}  // namespace vantera
