#pragma once
// The demo university: a fixed, generated data set for trying the client and for tests.
//
// Six faculties, four academic years (2022/2023 to 2025/2026), groups admitted from 2019 to 2025
// that study four years each, about 3,000 students with Russian full names, and monitors for
// most groups. The same data every time: the generator takes no seed from the clock. Only the
// password dates follow the day the data is made, so that the days left are the same on any day.
//
// Server accounts:
//   qel_gate / gate        role gate: the account of the client's settings file
//   qel_admin / admin      role admin: for tools and tests
//   one role-user account per login below (see kDemoLogins in demodata.cpp)
// Application logins, password "demo" each:
//   demo (id 12)      signs in at once; faculties ЭФ, ЮФ, ФИТ
//   expiring (13)     9 days left: the client prompts for a new password
//   expired (14)      the password expired 10 days ago: the client forces a change
//   blocked (15)      refused: "Учётная запись заблокирована. Обратитесь к администратору."
//   outdated (16)     must update the program "QEL 31" first (update flag 2)
//   nofaculty (17)    signs in, has no faculty

#include <QDate>

struct sqlite3;

namespace sandbox::demo {

// Fills the (empty) tables with the demo university; password dates are counted from today.
// Throws db::Error.
void fill(sqlite3 *db, const QDate &today);

} // namespace sandbox::demo
