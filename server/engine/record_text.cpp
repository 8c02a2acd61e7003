#include "server/engine/record_text.h"

#include <charconv>
#include <cmath>
#include <cstdio>

#include "protocol/nxsdDateTime.h"

namespace vantera {

namespace {

int64_t ParseInteger(std::string_view text) {
  int64_t v = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), v);
  if (ec != std::errc() || end != text.data() + text.size())
    throw std::invalid_argument("not an integer: " + std::string(text));
  return v;
}

double ParseDouble(std::string_view text) {
  std::string s(text);
  for (char& c : s)
    if (c == ',')
      c = '.';
  char* end = nullptr;
  double v = std::strtod(s.c_str(), &end);
  if (s.empty() || end != s.c_str() + s.size() || !std::isfinite(v))
    throw std::invalid_argument("not a number: " + s);
  return v;
}

// "YYYY-MM-DD", "HH:MM[:SS]" or both separated by a blank or 'T'.
TimeStamp ParseTimeStamp(std::string_view text, bool want_date, bool want_time) {
  int y = 1, mo = 1, d = 1, h = 0, mi = 0, s = 0;
  std::string t(text);
  int n = 0;
  bool ok = false;
  if (want_date && want_time) {
    ok = std::sscanf(t.c_str(), "%4d-%2d-%2d%*[ T]%2d:%2d:%2d%n", &y, &mo, &d, &h, &mi, &s, &n) ==
             6 ||
         std::sscanf(t.c_str(), "%4d-%2d-%2d%*[ T]%2d:%2d%n", &y, &mo, &d, &h, &mi, &n) == 5 ||
         std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &n) == 3;
  } else if (want_date) {
    ok = std::sscanf(t.c_str(), "%4d-%2d-%2d%n", &y, &mo, &d, &n) == 3;
  } else {
    ok = std::sscanf(t.c_str(), "%2d:%2d:%2d%n", &h, &mi, &s, &n) == 3 ||
         std::sscanf(t.c_str(), "%2d:%2d%n", &h, &mi, &n) == 2;
  }
  if (!ok || static_cast<size_t>(n) != t.size() || y < 1 || y > 9999 || mo < 1 || mo > 12 ||
      d < 1 || d > 31 || h < 0 || h > 23 || mi < 0 || mi > 59 || s < 0 || s > 59)
    throw std::invalid_argument("not a date or time: " + t);
  int32_t day = DayNumber(y, mo, d);
  int yy = 0, mm = 0, dd = 0;
  DayNumberToDate(day, &yy, &mm, &dd);
  if (dd != d)
    throw std::invalid_argument("no such day: " + t);
  return TimeStamp{day, ((h * 60 + mi) * 60 + s) * 1000};
}

std::string DateText(int32_t day) {
  int y = 0, m = 0, d = 0;
  DayNumberToDate(day, &y, &m, &d);
  char buf[16];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, m, d);
  return buf;
}

std::string TimeText(int32_t ms) {
  char buf[16];
  int s = ms / 1000;
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", s / 3600, (s / 60) % 60, s % 60);
  return buf;
}

}  // namespace

bool HasTextForm(const TnxBaseVclFieldMapper& m) {
  switch (m.Kind()) {
    case DatasetFieldKind::Blob:
    case DatasetFieldKind::Memo:
    case DatasetFieldKind::Graphic:
    case DatasetFieldKind::ByteArray:
    case DatasetFieldKind::WideString:
      return false;
    default:
      return true;
  }
}

void FieldFromText(const TnxBaseVclFieldMapper& m, std::span<char> record, std::string_view text) {
  if (text.empty()) {
    m.Write(record, FieldValue{});
    return;
  }
  switch (m.Kind()) {
    case DatasetFieldKind::String:
    case DatasetFieldKind::FixedChar:
      m.Write(record, FieldValue{std::string(text)});
      return;
    case DatasetFieldKind::Word:
    case DatasetFieldKind::SmallInt:
    case DatasetFieldKind::Integer:
    case DatasetFieldKind::LargeInt:
    case DatasetFieldKind::AutoInc:
      m.Write(record, FieldValue{ParseInteger(text)});
      return;
    case DatasetFieldKind::Boolean:
      if (text == "1" || text == "true" || text == "TRUE")
        m.Write(record, FieldValue{true});
      else if (text == "0" || text == "false" || text == "FALSE")
        m.Write(record, FieldValue{false});
      else
        throw std::invalid_argument("not a Boolean: " + std::string(text));
      return;
    case DatasetFieldKind::Float:
    case DatasetFieldKind::Currency:
      m.Write(record, FieldValue{ParseDouble(text)});
      return;
    case DatasetFieldKind::Date:
      m.Write(record, FieldValue{TimeStampToClock(ParseTimeStamp(text, true, false))});
      return;
    case DatasetFieldKind::Time: {
      TimeStamp ts = ParseTimeStamp(text, false, true);
      m.Write(record, FieldValue{static_cast<double>(ts.time) / kMSecsPerDay});
      return;
    }
    case DatasetFieldKind::DateTime:
      m.Write(record, FieldValue{TimeStampToClock(ParseTimeStamp(text, true, true))});
      return;
    default:
      throw std::invalid_argument("the field has no text form");
  }
}

std::string FieldToText(const TnxBaseVclFieldMapper& m, std::string_view record) {
  FieldValue v = m.Read(record);
  if (std::holds_alternative<std::monostate>(v))
    return {};
  switch (m.Kind()) {
    case DatasetFieldKind::String:
    case DatasetFieldKind::FixedChar:
      return std::get<std::string>(v);
    case DatasetFieldKind::Boolean:
      return std::get<bool>(v) ? "1" : "0";
    case DatasetFieldKind::Word:
    case DatasetFieldKind::SmallInt:
    case DatasetFieldKind::Integer:
    case DatasetFieldKind::LargeInt:
    case DatasetFieldKind::AutoInc:
      return std::to_string(FieldValueToInt64(v));
    case DatasetFieldKind::Float:
    case DatasetFieldKind::Currency: {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.15g", FieldValueToDouble(v));
      return buf;
    }
    case DatasetFieldKind::Date:
      return DateText(ClockToTimeStamp(FieldValueToDouble(v)).date);
    case DatasetFieldKind::Time:
      return TimeText(static_cast<int32_t>(std::lround(FieldValueToDouble(v) * kMSecsPerDay)));
    case DatasetFieldKind::DateTime: {
      TimeStamp ts = ClockToTimeStamp(FieldValueToDouble(v));
      return DateText(ts.date) + " " + TimeText(ts.time);
    }
    default:
      return {};
  }
}

}  // namespace vantera
