#pragma once
// Dates as the server converts them from text, under the session's SET DATEFORMAT.
//
// Text becomes a date when it is CAST to datetime, smalldatetime, datetime2 or date, and when it
// is given to DAY(), MONTH() or YEAR(). Understood forms:
//   numbers separated by '/', '-' or '.', in the order of the session's date format (mdy, dmy,
//   ymd, ydm, myd, dym; a new connection starts with mdy, as the server's us_english does); a
//   two-digit year means 1950 to 2049; optionally followed by a time hh:mm[:ss[.fff]]
//   yyyymmdd, and yyyy-mm-ddThh:mm:ss[.fff], whatever the date format
// Anything else, and dates that do not exist (31/02), are refused with error 241 "Conversion
// failed when converting date and/or time from character string." (severity 16, state 1).
// Names of months ('1 февраля 2026', 'Feb 1 2026') are not understood here and are refused so.
// Inside the engine a date travels as ISO text, yyyy-mm-ddThh:mm:ss.zzz (datetime) or yyyy-mm-dd.

#include <QDateTime>
#include <QString>

#include <optional>

struct sqlite3;

namespace sandbox::dates {

// The date and time that the text stands for under the date format ("mdy", "dmy", ...).
std::optional<QDateTime> parse(const QString &text, const QString &dateFormat);

// Registers qel_datetime(value, type), day(), month() and year(); they read the date format
// through format, which the engine points at the running session's.
void install(sqlite3 *db, const QString *format);

} // namespace sandbox::dates
