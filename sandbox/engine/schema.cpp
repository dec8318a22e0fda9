#include "sandbox/engine/schema.h"

#include "sandbox/engine/sqlitedb.h"

namespace sandbox::schema {

const QStringList &registrationTables()
{
    static const QStringList tables = {QStringLiteral("faculty"), QStringLiteral("user_faculty"),
                                       QStringLiteral("a_year"),  QStringLiteral("group"),
                                       QStringLiteral("g_r_y"),   QStringLiteral("s_g"),
                                       QStringLiteral("s_fio"),   QStringLiteral("QELStudent")};
    return tables;
}

void create(sqlite3 *db)
{
    db::exec(db, QStringLiteral(R"sql(
CREATE TABLE IF NOT EXISTS faculty (
    id_faculty int NOT NULL PRIMARY KEY,
    "p23-1" varchar(150) COLLATE Cyrillic_General_CI_AS NOT NULL,
    "p23-2" int NOT NULL,
    "p23-3" varchar(20) COLLATE Cyrillic_General_CI_AS
);
CREATE TABLE IF NOT EXISTS user_faculty (
    id_login int NOT NULL,
    faculty int NOT NULL,
    PRIMARY KEY (id_login, faculty)
);
CREATE TABLE IF NOT EXISTS a_year (
    id_a_year int NOT NULL PRIMARY KEY,
    p32 varchar(9) COLLATE Cyrillic_General_CI_AS NOT NULL
);
CREATE TABLE IF NOT EXISTS "group" (
    id_group int NOT NULL PRIMARY KEY,
    p20 varchar(30) COLLATE Cyrillic_General_CI_AS NOT NULL,
    id_faculty int NOT NULL
);
CREATE INDEX IF NOT EXISTS group_faculty ON "group" (id_faculty);
CREATE TABLE IF NOT EXISTS g_r_y (
    id_group int NOT NULL,
    id_a_year int NOT NULL,
    PRIMARY KEY (id_group, id_a_year)
);
CREATE INDEX IF NOT EXISTS g_r_y_year ON g_r_y (id_a_year);
CREATE TABLE IF NOT EXISTS s_g (
    id_student int NOT NULL,
    id_group int NOT NULL,
    PRIMARY KEY (id_student, id_group)
);
CREATE INDEX IF NOT EXISTS s_g_group ON s_g (id_group);
CREATE TABLE IF NOT EXISTS s_fio (
    id_student int NOT NULL PRIMARY KEY,
    s_fio varchar(100) COLLATE Cyrillic_General_CI_AS NOT NULL
);
CREATE TABLE IF NOT EXISTS QELStudent (
    id_group int NOT NULL,
    id_student int NOT NULL,
    PRIMARY KEY (id_group, id_student)
);

CREATE TABLE IF NOT EXISTS sandbox_account (
    name nvarchar(128) NOT NULL PRIMARY KEY,
    password nvarchar(128) NOT NULL,
    role varchar(10) NOT NULL CHECK (role IN ('gate', 'user', 'admin')),
    default_database nvarchar(128) NOT NULL DEFAULT 'qel'
);
CREATE TABLE IF NOT EXISTS sandbox_login (
    id_login int NOT NULL PRIMARY KEY,
    login ntext NOT NULL UNIQUE,
    password_md5 varchar(32) NOT NULL,
    password_changed varchar(10) NOT NULL,
    password_lifetime int NOT NULL DEFAULT 180,
    blocked_message ntext,
    must_update_program ntext,
    db_account nvarchar(128)
);
CREATE TABLE IF NOT EXISTS sandbox_starasta_rule (
    id_student int NOT NULL PRIMARY KEY,
    rule varchar(20) NOT NULL CHECK (rule IN ('store-then-error', 'info-then-success', 'info-then-error',
                                         'error-then-store'))
);
CREATE TABLE IF NOT EXISTS sandbox_sign_in (
    id integer PRIMARY KEY,
    at varchar(19) NOT NULL,
    login ntext,
    program ntext,
    ip ntext,
    computer ntext,
    verdict varchar(40) NOT NULL
);
)sql"));
}

bool isEmpty(sqlite3 *db)
{
    const ResultSet rs = db::query(db, QStringLiteral("SELECT (SELECT count(*) FROM faculty) + "
                                                      "(SELECT count(*) FROM sandbox_login) + "
                                                      "(SELECT count(*) FROM sandbox_account)"));
    return db::toInteger(rs.rows.value(0).value(0)).value_or(0) == 0;
}

} // namespace sandbox::schema
