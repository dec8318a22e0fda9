#pragma once
// The tables of the database the sandbox serves.
//
// The registration tables, read by the client:
//   faculty       id_faculty int, [p23-1] varchar(150) the name shown, [p23-2] int the sort key,
//                 [p23-3] varchar(20) the short name
//   user_faculty  id_login int, faculty int            which faculties a login works with
//   a_year        id_a_year int, p32 varchar(9)        academic years, "2025/2026"
//   group         id_group int, p20 varchar(30), id_faculty int
//   g_r_y         id_group int, id_a_year int          the years in which a group studies
//   s_g           id_student int, id_group int         the students of a group
//   s_fio         id_student int, s_fio varchar(100)   a student's full name
//   QELStudent    id_group int, id_student int         the monitor of a group
//
// The registration tables' text columns compare under the database collation,
// Cyrillic_General_CI_AS (see collation.h).
//
// The sandbox's own tables, which only an administrator account may touch through SQL. Their
// columns that hold what a client sends (logins, programs, addresses) are ntext, so that GET_USER
// records any value it is given; they compare as SQLite does, exactly:
//   sandbox_account  the server accounts (SQL Server authentication): name, password, role
//                    ('gate', 'user' or 'admin'), default_database
//   sandbox_login    the application logins that GET_USER checks: id_login, login,
//                    password_md5 (32 upper-case hex digits of the Windows-1251 password),
//                    password_changed (yyyy-MM-dd), password_lifetime (days), blocked_message,
//                    must_update_program (the program name that must be updated first),
//                    db_account (the server account handed to the client)
//   sandbox_sign_in  one row per GET_USER call: when, login, program, ip, computer, verdict
//   sandbox_starasta_rule  id_student, rule: students for whom CreateStarasta answers in a
//                    particular way ('store-then-error', 'info-then-success', 'info-then-error',
//                    'error-then-store';
//                    see procedures.cpp)

#include <QStringList>

struct sqlite3;

namespace sandbox::schema {

// The registration tables as the permission check names them.
const QStringList &registrationTables();

// Creates every table that is missing. Throws db::Error.
void create(sqlite3 *db);

// Whether the system's tables hold no faculty, no login and no account (or do not exist yet).
bool isEmpty(sqlite3 *db);

} // namespace sandbox::schema
