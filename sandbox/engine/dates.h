#pragma once
// Dates as the server converts them from text, under the session's SET DATEFORMAT.
//
// Text becomes a date when it is CAST or CONVERTed to datetime or date, stored into a datetime
// or date column, and given to DAY(), MONTH(), YEAR() or DATEADD(). Understood forms:
//   numbers separated by '/', '-' or '.', in the order of the session's date format (mdy, dmy,
//   ymd, ydm, myd, dym; a new connection starts with mdy, as the server's us_english does); a
//   two-digit year means 1950 to 2049; a four-digit year written first is followed by month and
//   day in the order the format gives them (under dmy, '2003-02-01' is 2 January for datetime),
//   while date always reads year, month, day
//   a month's English name (us_english) with a day and a year in any of the server's orders:
//   'Sep 11 2001', '11 September 2001', 'September 11, 2001', '2001 Sep 11', 'Sep 2001'
//   yyyymmdd, yymmdd, and yyyy-mm-ddThh:mm:ss[.fff], whatever the date format
//   each optionally followed by a time hh:mm[:ss[.fff]] with AM or PM, or hh AM; a time alone,
//   and the empty text, fall on 1900-01-01
// Errors, severity 16: 241 "Conversion failed when converting date and/or time from character
// string." (state 1) for text that is no date, and for a date that does not exist as date;
// 242 "The conversion of a varchar data type to a datetime data type resulted in an out-of-range
// value." (state 3) for a datetime that does not exist (30 February, month 13, a year before
// 1753, 13 PM).
// Inside the engine a date travels as ISO text, yyyy-mm-ddThh:mm:ss.zzz (datetime) or yyyy-mm-dd.

#include <QDateTime>
#include <QString>

#include <optional>

struct sqlite3;

namespace sandbox::dates {

// The date and time that a text stands for, or the error the server raises for it: 241 for a
// text that is no date, 242 for a datetime out of range (a day that does not exist, a year
// before 1753).
struct Parsed {
    std::optional<QDateTime> value;
    int error = 0;
};

// The text under the date format ("mdy", "dmy", ...), for datetime or (dateOnly) for date.
Parsed parse(const QString &text, const QString &dateFormat, bool dateOnly = false);

// Registers qel_datetime(value, type), day(), month() and year(); they read the date format
// through format, which the engine points at the running session's.
void install(sqlite3 *db, const QString *format);

} // namespace sandbox::dates
