#pragma once
// The demo university: a fixed, generated data set for trying the client and for tests.
//
// Six faculties, four academic years (2022/2023 to 2025/2026), groups admitted from 2019 to 2025
// that study four years each, about 3,000 students with Russian full names (surname, name and
// patronymic of one gender, feminine surnames for women), and monitors for most groups. The same
// data every time: the generator takes no seed from the clock. Only the password dates follow
// the day the data is made, so that the days left are the same on any day.
//
// One more group, the marked group (below), holds the students for whom CreateStarasta answers
// in its particular ways (sandbox_starasta_rule, described in procedures.cpp) and names that fill
// s_fio's whole declared width of 100 characters.
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

// The marked group "ИВТ-25-3": faculty 1 (Факультет информационных технологий, a faculty of the
// login demo), studying in year 4 (2025/2026) only.
inline constexpr int kMarkedGroup = 700;
inline constexpr const char *kMarkedGroupName = "ИВТ-25-3";
// Its students (ids 70001 to 70009):
inline constexpr int kMarkedGroupMonitor = 70001; // Ёлкин Пётр Семёнович, the monitor at first
inline constexpr int kStoreThenErrorStudent = 70002;  // stored, then error 50000
inline constexpr int kInfoThenSuccessStudent = 70003; // a PRINT message, then stored
inline constexpr int kInfoThenErrorStudent = 70004;   // a PRINT message, then error 50000, not stored
inline constexpr int kLongNameStudent = 70005;        // a man's name of exactly 100 characters, with ё
inline constexpr int kLongNameStudentFemale = 70006;  // a woman's name of exactly 100 characters, with ё
// 70007 Ежов Егор Ильич and 70008 Елисеева Ева Олеговна sort beside Ёлкин.
// Error 50000 first, then stored; the procedure waits between the two (Engine::setProcedurePause),
// so that a client that cancels on the error stops the store.
inline constexpr int kErrorThenStoreStudent = 70009;

// Fills the (empty) tables with the demo university; password dates are counted from today.
// Throws db::Error.
void fill(sqlite3 *db, const QDate &today);

} // namespace sandbox::demo
