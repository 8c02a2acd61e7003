#include "protocol/nxsdDateTime.h"

#include <cmath>
#include <ctime>

#include "protocol/nxllErrors.h"
#include "protocol/nxsdExceptions.h"

namespace vantera {
namespace {

constexpr uint32_t kOutOfBounds = 10019;  // "Translate Error. Value out of bounds."

bool IsLeap(int64_t y) {
  return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
}

constexpr int kDaysBeforeMonth[2][13] = {
    {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334, 365},
    {0, 31, 60, 91, 121, 152, 182, 213, 244, 274, 305, 335, 366}};

}  // namespace

int32_t DayNumber(int year, int month, int day) {
  int64_t y = year - 1;
  int64_t days = y * 365 + y / 4 - y / 100 + y / 400;
  days += kDaysBeforeMonth[IsLeap(year) ? 1 : 0][month - 1] + day;
  return static_cast<int32_t>(days);
}

void DayNumberToDate(int32_t day_number, int* year, int* month, int* day) {
  // Whole 400-, 100-, 4- and 1-year cycles from 1 January 0001.
  int64_t n = int64_t{day_number} - 1;
  int64_t y = 1;
  y += 400 * (n / 146097);
  n %= 146097;
  int64_t c = n / 36524;
  if (c == 4)
    c = 3;
  y += 100 * c;
  n -= c * 36524;
  y += 4 * (n / 1461);
  n %= 1461;
  int64_t k = n / 365;
  if (k == 4)
    k = 3;
  y += k;
  n -= k * 365;
  const int* before = kDaysBeforeMonth[IsLeap(y) ? 1 : 0];
  int m = 1;
  while (m < 12 && n >= before[m])
    ++m;
  *year = static_cast<int>(y);
  *month = m;
  *day = static_cast<int>(n - before[m - 1] + 1);
}

TimeStamp ClockToTimeStamp(double clock) {
  if (!std::isfinite(clock))
    throw EnxDataDictionaryException(kOutOfBounds);
  double whole = std::trunc(clock);
  double days = whole + kClockDayOffset;
  double ms = std::round(std::fabs(clock - whole) * kMSecsPerDay);
  if (ms >= kMSecsPerDay) {
    ms -= kMSecsPerDay;
    days += 1;
  }
  if (days < 0 || days > INT32_MAX)
    throw EnxDataDictionaryException(kOutOfBounds);
  return TimeStamp{static_cast<int32_t>(days), static_cast<int32_t>(ms)};
}

double TimeStampToClock(TimeStamp ts) {
  double days = static_cast<double>(ts.date) - kClockDayOffset;
  double fraction = static_cast<double>(ts.time) / kMSecsPerDay;
  return days >= 0 ? days + fraction : days - fraction;
}

double TimeStampToMSecs(TimeStamp ts) {
  return static_cast<double>(ts.date) * kMSecsPerDay + ts.time;
}

TimeStamp MSecsToTimeStamp(double msecs) {
  if (!std::isfinite(msecs) || msecs < 0 ||
      msecs >= (static_cast<double>(INT32_MAX) + 1) * kMSecsPerDay)
    throw EnxDataDictionaryException(kOutOfBounds);
  double days = std::floor(msecs / kMSecsPerDay);
  double ms = std::round(msecs - days * kMSecsPerDay);
  if (ms >= kMSecsPerDay) {
    ms -= kMSecsPerDay;
    days += 1;
  }
  if (days > INT32_MAX)
    throw EnxDataDictionaryException(kOutOfBounds);
  return TimeStamp{static_cast<int32_t>(days), static_cast<int32_t>(ms)};
}

TimeStamp CurrentLocalTimeStamp() {
  struct timespec now;
  clock_gettime(CLOCK_REALTIME, &now);
  struct tm local;
  localtime_r(&now.tv_sec, &local);
  TimeStamp ts;
  ts.date = DayNumber(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday);
  ts.time = ((local.tm_hour * 60 + local.tm_min) * 60 + local.tm_sec) * 1000 +
            static_cast<int32_t>(now.tv_nsec / 1000000);
  if (ts.time >= kMSecsPerDay)  // a leap second stays within the day
    ts.time = kMSecsPerDay - 1;
  return ts;
}

}  // namespace vantera
