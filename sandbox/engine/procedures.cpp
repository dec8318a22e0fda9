// The stored procedures of the sandbox.
//
// GET_USER @login, @password, @new_password, @program [, @ip, @computer, @login_again, @flag, @count]
//   The sign-in of an application login (table sandbox_login). Who may run it: gate and admin.
//   It always answers with one result set of one row and six columns:
//     0 db_user      varchar  the login's server account name, shifted (each Windows-1251 byte one less)
//     1 db_password  varchar  that account's password, shifted the same way
//     2 id_login     int      the login's id
//     3 days_left    int      days until the password must be changed: password_lifetime minus the
//                             days since password_changed (below 0: the password has expired)
//     4 message      varchar  non-empty: the sign-in is refused with this text
//     5 update_flag  int      2: the program named in @program must be updated first, else 0
//   Rules, in this order:
//   1. A scripted answer (Engine::scriptNextGetUserRow) is returned as it is, once, whatever the
//      arguments; nothing is checked or changed.
//   2. An unknown login (compared without regard to case) or a digest that differs from
//      password_md5 (compared without regard to case): message "Неверное имя пользователя или
//      пароль.", all other columns empty or 0.
//   3. A blocked login (blocked_message not empty): that message, all other columns empty or 0.
//   4. @new_password not NULL asks for a password change, checked in this order: not 32 hex digits
//      "Неверный формат нового пароля."; the digest of the empty text "Пароль не может быть
//      пустым."; the same digest as now "Новый пароль должен отличаться от прежнего.". Each of
//      these refuses with its message and changes nothing. Otherwise password_md5 becomes the new
//      digest (upper case) and password_changed today, and the answer goes on as for a sign-in.
//   5. must_update_program equal to @program (without regard to case): update flag 2 with the
//      login id and days left, no credentials.
//   6. A login without a server account (db_account empty or not in sandbox_account): message
//      "Учётной записи не назначен пользователь базы данных.".
//   7. Otherwise the login id and days left; the shifted credentials only while days left is 0 or
//      more (an expired password gets no credentials until it is changed).
//   @ip, @computer, @login_again, @flag and @count are not checked; every call is recorded in
//   sandbox_sign_in with the login, program, ip, computer and the verdict (a record of the sandbox
//   only: it sends no row count). A password change sends the count of its UPDATE (1) before
//   the result set; the result set's DONEINPROC carries its count (1).
//
// CreateStarasta @id_group, @id_student
//   Makes the student the monitor of the group: the group's rows in QELStudent are deleted and one
//   row (id_group, id_student) is inserted. Who may run it: user and admin. Its body runs without
//   SET NOCOUNT ON, so each of the two statements answers with its row count (DONEINPROC): the
//   rows deleted (0 or 1), then 1 inserted; then the return status 0.
//   Refusals, raised as errors 50000, severity 16, state 1, from procedure dbo.CreateStarasta, with
//   return status 1 and nothing changed: a NULL group "Не указана группа."; a NULL student "Не
//   указан студент."; a group missing from [group] "Группа с кодом G не найдена."; a student
//   missing from s_fio "Студент с кодом S не найден."; a student without a row (S, G) in s_g
//   "Студент с кодом S не числится в группе P20.". Arguments that are not integers: error 8114.
//   Students marked in sandbox_starasta_rule (the demo marks some, see demodata.h) answer as a
//   procedure that goes wrong part of the way does:
//     store-then-error   the monitor is stored as above (both counts arrive), then error 50000
//                        "Староста назначен, но журнал назначений недоступен."; return status 1.
//     info-then-success  first the message (PRINT: number 0, severity 0) "Студент с кодом S уже
//                        был старостой; назначение повторено.", then the assignment as usual;
//                        return status 0.
//     info-then-error    first the message "Проверка приказов деканата по студенту S.", then
//                        error 50000 "Студент с кодом S отчислен приказом деканата; назначить его
//                        старостой нельзя."; nothing is stored; return status 1.
//     error-then-store   first error 50000 "Журнал назначений недоступен; староста будет назначен
//                        без записи в журнал." (a RAISERROR of severity 16, which does not stop
//                        a procedure), then the monitor is stored as above (both counts arrive);
//                        return status 1. Between the error and the store the procedure waits:
//                        its error has been sent to the client, and the store follows after the
//                        engine's procedure pause (Engine::setProcedurePause) or at once when
//                        nobody watches the batch. An ATTENTION that arrives meanwhile stops it
//                        before the store, as a cancel stops a procedure at the server.
//   The marks apply only once the ordinary refusals above have passed.
//
// sp_datatype_info_100 [@data_type [, @ODBCVer]] (also sp_datatype_info)
//   Sent by the driver after login. Answers with the type catalogue of every type this server
//   keeps and sends (the (max) widths are those of varchar, nvarchar and varbinary), in the
//   order of DATA_TYPE, all of them for @data_type 0 or NULL, otherwise those of that ODBC type
//   number. @ODBCVer 2, the default, answers as for ODBC 2 (columns PRECISION, MONEY,
//   AUTO_INCREMENT; date 9, datetime 11), 3 as for ODBC 3 (COLUMN_SIZE, FIXED_PREC_SCALE,
//   AUTO_UNIQUE_VALUE; date 91, datetime 93). Anyone may run it.
//
// Each procedure has the T-SQL text the server would hold for it (kGetUserText,
// kCreateStarastaText below), and the C++ follows it statement by statement. A message or error
// raised in a procedure names it with its schema (dbo.CreateStarasta) and carries the line, in that
// text, of the statement that raised it (its RAISERROR or PRINT; the INSERT, DELETE, UPDATE or
// SELECT in which the server raised it), not the line of the EXEC in the caller's batch.
//
// Calls in general: too many arguments give error 8144; a named argument the procedure does not
// have 8145; a missing required one error 201; an argument that does not convert to its
// parameter's type 8114 (state 1): these name the procedure at line 0, as the server raises them
// on entry. An unknown procedure gives error 2812; a role that may not run it error 229 (EXECUTE):
// these belong to the EXEC, at its line in the batch.
// On the wire (see connection.cpp), a procedure's statements that return or change rows each end
// with DONEINPROC (COUNT, unless the session has SET NOCOUNT ON), its messages come in the order
// they were raised, an error raised after a statement follows that statement's DONEINPROC, then
// RETURNSTATUS and DONEPROC; an EXEC in a batch is followed by the batch's DONE.

#include "sandbox/engine/procedures.h"

#include "common/cp1251.h"
#include "common/md5.h"
#include "sandbox/engine/sqlerrors.h"
#include "sandbox/engine/sqlitedb.h"

#include <QDateTime>
#include <QRegularExpression>

#include <sqlite3.h>

#include <algorithm>
#include <functional>
#include <limits>

namespace sandbox::procedures {

namespace {

const QString kWrongCredentials = QStringLiteral("Неверное имя пользователя или пароль.");
const QString kBadNewPassword = QStringLiteral("Неверный формат нового пароля.");
const QString kEmptyNewPassword = QStringLiteral("Пароль не может быть пустым.");
const QString kSamePassword = QStringLiteral("Новый пароль должен отличаться от прежнего.");
const QString kNoAccount = QStringLiteral("Учётной записи не назначен пользователь базы данных.");

// The marks of sandbox_starasta_rule.
constexpr const char *kRuleStoreThenError = "store-then-error";
constexpr const char *kRuleInfoThenSuccess = "info-then-success";
constexpr const char *kRuleInfoThenError = "info-then-error";
constexpr const char *kRuleErrorThenStore = "error-then-store";

// The procedures' text as the server holds it: the batch that created each one, from its first
// line. The C++ below does what this text says, statement by statement; each message and error a
// procedure raises carries the line of its statement here (lineOf), as the server counts lines.
// The text and the code change together: tst_sandbox_engine checks that each raised message's
// line holds the statement that raises it.

// GET_USER's record of each call in sandbox_sign_in is the sandbox's own and not part of the
// procedure; a scripted answer (Engine::scriptNextGetUserRow) is the sandbox's too.
constexpr const char *kGetUserText = R"sql(CREATE PROCEDURE dbo.GET_USER
    @login varchar(128),
    @password varchar(128),
    @new_password varchar(128),
    @program varchar(128),
    @ip varchar(64) = NULL,
    @computer varchar(128) = NULL,
    @login_again varchar(10) = NULL,
    @flag varchar(10) = NULL,
    @count varchar(10) = NULL
AS
BEGIN
    DECLARE @id int, @md5 varchar(32), @changed date, @lifetime int, @blocked varchar(255),
        @must_update varchar(128), @account varchar(128), @account_password varchar(128),
        @days_left int, @i int;
    -- The answer: one row, whatever happens.
    DECLARE @db_user varchar(128) = '', @db_password varchar(128) = '', @id_login int = 0,
        @answer_days int = 0, @message varchar(255) = '', @update_flag int = 0;

    SELECT @id = id_login, @md5 = password_md5, @changed = password_changed,
        @lifetime = password_lifetime, @blocked = blocked_message,
        @must_update = must_update_program, @account = db_account
    FROM sandbox_login WHERE login = @login;
    IF @id IS NULL OR ISNULL(@md5, '') = '' OR @md5 <> @password
    BEGIN
        SET @message = 'Неверное имя пользователя или пароль.';
        GOTO answer;
    END
    IF ISNULL(@blocked, '') <> ''
    BEGIN
        SET @message = @blocked;
        GOTO answer;
    END

    IF @new_password IS NOT NULL
    BEGIN
        SET @new_password = UPPER(LTRIM(RTRIM(@new_password)));
        IF LEN(@new_password) <> 32 OR @new_password LIKE '%[^0-9A-F]%'
        BEGIN
            SET @message = 'Неверный формат нового пароля.';
            GOTO answer;
        END
        IF @new_password = 'D41D8CD98F00B204E9800998ECF8427E' -- the digest of the empty text
        BEGIN
            SET @message = 'Пароль не может быть пустым.';
            GOTO answer;
        END
        IF @new_password = @md5
        BEGIN
            SET @message = 'Новый пароль должен отличаться от прежнего.';
            GOTO answer;
        END
        UPDATE sandbox_login SET password_md5 = @new_password, password_changed = CAST(GETDATE() AS date)
        WHERE id_login = @id;
        SET @changed = CAST(GETDATE() AS date);
    END

    SET @days_left = ISNULL(@lifetime - DATEDIFF(day, @changed, CAST(GETDATE() AS date)), -1);
    IF ISNULL(@must_update, '') <> '' AND @must_update = @program
    BEGIN
        SELECT @id_login = @id, @answer_days = @days_left, @update_flag = 2;
        GOTO answer;
    END
    SELECT @account_password = password FROM sandbox_account WHERE name = @account;
    IF @account_password IS NULL
    BEGIN
        SET @message = 'Учётной записи не назначен пользователь базы данных.';
        GOTO answer;
    END
    SELECT @id_login = @id, @answer_days = @days_left;
    IF @days_left >= 0
    BEGIN
        -- The account travels shifted: each Windows-1251 byte one less.
        SET @i = 1;
        WHILE @i <= DATALENGTH(@account)
        BEGIN
            SET @db_user = @db_user + CHAR(ASCII(SUBSTRING(@account, @i, 1)) - 1);
            SET @i = @i + 1;
        END
        SET @i = 1;
        WHILE @i <= DATALENGTH(@account_password)
        BEGIN
            SET @db_password = @db_password + CHAR(ASCII(SUBSTRING(@account_password, @i, 1)) - 1);
            SET @i = @i + 1;
        END
    END

answer:
    SELECT @db_user AS db_user, @db_password AS db_password, @id_login AS id_login,
        @answer_days AS days_left, @message AS message, @update_flag AS update_flag;
    RETURN 0;
END
)sql";

// The marks of sandbox_starasta_rule name the students for whom the procedure goes wrong part of
// the way (see demodata.h). The pause of error-then-store is the sandbox's --procedure-pause.
constexpr const char *kCreateStarastaText = R"sql(CREATE PROCEDURE dbo.CreateStarasta
    @id_group int,
    @id_student int
AS
BEGIN
    DECLARE @p20 varchar(30), @rule varchar(20);

    IF @id_group IS NULL
    BEGIN
        RAISERROR('Не указана группа.', 16, 1);
        RETURN 1;
    END
    IF @id_student IS NULL
    BEGIN
        RAISERROR('Не указан студент.', 16, 1);
        RETURN 1;
    END
    IF NOT EXISTS (SELECT 1 FROM [group] WHERE id_group = @id_group)
    BEGIN
        RAISERROR('Группа с кодом %d не найдена.', 16, 1, @id_group);
        RETURN 1;
    END
    IF NOT EXISTS (SELECT 1 FROM s_fio WHERE id_student = @id_student)
    BEGIN
        RAISERROR('Студент с кодом %d не найден.', 16, 1, @id_student);
        RETURN 1;
    END
    IF NOT EXISTS (SELECT 1 FROM s_g WHERE id_student = @id_student AND id_group = @id_group)
    BEGIN
        SET @p20 = (SELECT p20 FROM [group] WHERE id_group = @id_group);
        RAISERROR('Студент с кодом %d не числится в группе %s.', 16, 1, @id_student, @p20);
        RETURN 1;
    END

    SET @rule = (SELECT [rule] FROM sandbox_starasta_rule WHERE id_student = @id_student);
    IF @rule = 'info-then-error'
    BEGIN
        PRINT 'Проверка приказов деканата по студенту ' + CAST(@id_student AS varchar(11)) + '.';
        RAISERROR('Студент с кодом %d отчислен приказом деканата; назначить его старостой нельзя.',
            16, 1, @id_student);
        RETURN 1;
    END
    IF @rule = 'info-then-success'
        PRINT 'Студент с кодом ' + CAST(@id_student AS varchar(11)) + ' уже был старостой; назначение повторено.';
    IF @rule = 'error-then-store'
    BEGIN
        RAISERROR('Журнал назначений недоступен; староста будет назначен без записи в журнал.', 16, 1);
        WAITFOR DELAY '00:00:02';
    END

    DELETE FROM QELStudent WHERE id_group = @id_group;
    INSERT INTO QELStudent (id_group, id_student) VALUES (@id_group, @id_student);

    IF @rule = 'store-then-error'
    BEGIN
        RAISERROR('Староста назначен, но журнал назначений недоступен.', 16, 1);
        RETURN 1;
    END
    IF @rule = 'error-then-store'
        RETURN 1;
    RETURN 0;
END
)sql";

// The line of the procedure's text on which the statement holding marker (a part of its text
// found nowhere before it) begins, counted from 1 as the server counts them.
int lineOf(const char *text, const char *marker)
{
    const QString all = QString::fromUtf8(text);
    const qsizetype at = all.indexOf(QString::fromUtf8(marker));
    Q_ASSERT(at >= 0);
    return at < 0 ? 0 : int(QStringView(all).left(at).count(u'\n')) + 1;
}

// Names the statement of the running procedure that runs now: what it raises, and what the server
// raises in it, carries its line.
int at(Context &ctx, const char *marker)
{
    ctx.statementLine = ctx.definition ? lineOf(ctx.definition, marker) : 0;
    return ctx.statementLine;
}

enum class ParamType { Int, Text };

struct Parameter {
    const char *name;
    ParamType type;
    bool required;
};

using Arguments = QList<Value>; // bound to the parameters, in their order; NULL where not given

using Body = std::function<StatementResult(Context &, const Arguments &)>;

struct Procedure {
    const char *name;
    QList<Parameter> parameters;
    Body body;
    const char *schema = "dbo";
    const char *text = nullptr; // null for a system procedure, whose text no user reads
};

// ---------------------------------------------------------------------------------------------
// GET_USER

struct LoginRow {
    qint64 id = 0;
    QString login;
    QString md5;
    QDate changed;
    qint64 lifetime = 0;
    QString blocked;
    QString mustUpdate;
    QString account;
};

std::optional<LoginRow> findLogin(sqlite3 *db, const QString &login)
{
    const ResultSet rs =
        db::query(db, QStringLiteral("SELECT id_login, login, password_md5, password_changed, "
                                     "password_lifetime, blocked_message, must_update_program, "
                                     "db_account FROM sandbox_login"));
    for (const auto &row : rs.rows) {
        if (db::toText(row.at(1)).compare(login, Qt::CaseInsensitive) != 0)
            continue;
        LoginRow r;
        r.id = db::toInteger(row.at(0)).value_or(0);
        r.login = db::toText(row.at(1));
        r.md5 = db::toText(row.at(2)).trimmed();
        r.changed = QDate::fromString(db::toText(row.at(3)).trimmed(), Qt::ISODate);
        r.lifetime = db::toInteger(row.at(4)).value_or(0);
        r.blocked = db::toText(row.at(5));
        r.mustUpdate = db::toText(row.at(6)).trimmed();
        r.account = db::toText(row.at(7)).trimmed();
        return r;
    }
    return std::nullopt;
}

std::optional<std::pair<QString, QString>> findAccount(sqlite3 *db, const QString &name)
{
    if (name.isEmpty())
        return std::nullopt;
    const ResultSet rs = db::query(db, QStringLiteral("SELECT name, password FROM sandbox_account"));
    for (const auto &row : rs.rows)
        if (db::toText(row.at(0)).compare(name, Qt::CaseInsensitive) == 0)
            return std::make_pair(db::toText(row.at(0)), db::toText(row.at(1)));
    return std::nullopt;
}

QList<Value> answerRow(const QString &user, const QString &password, qint64 id, qint64 daysLeft,
                       const QString &message, qint64 updateFlag)
{
    return {user, password, id, daysLeft, message, updateFlag};
}

QList<Value> refusal(const QString &message)
{
    return answerRow(QString(), QString(), 0, 0, message, 0);
}

void recordSignIn(Context &ctx, const Arguments &a, const QString &verdict)
{
    db::Statement st(ctx.db, QStringLiteral("INSERT INTO sandbox_sign_in (at, login, program, ip, computer, "
                                            "verdict) VALUES (?, ?, ?, ?, ?, ?)"));
    st.bind({QDateTime::currentDateTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss")), a.at(0), a.at(3),
             a.at(4), a.at(5), verdict});
    st.step();
}

StatementResult getUser(Context &ctx, const Arguments &a)
{
    StatementResult r;
    r.returnStatus = 0;
    const auto select = [](const ResultSet &rs) {
        StatementResult st;
        st.verb = QStringLiteral("SELECT");
        st.resultSet = rs;
        st.rowCount = rs.rows.size();
        return st;
    };
    if (ctx.scriptedGetUser && ctx.scriptedGetUser->has_value()) {
        r.inner.push_back(select(**ctx.scriptedGetUser));
        ctx.scriptedGetUser->reset();
        recordSignIn(ctx, a, QStringLiteral("scripted"));
        return r;
    }

    const QString login = db::toText(a.at(0));
    const QString digest = db::toText(a.at(1)).trimmed();
    const Value &newDigestArg = a.at(2);
    const QString program = db::toText(a.at(3));

    const auto answer = [&](const QList<Value> &row, const QString &verdict) {
        at(ctx, "SELECT @db_user AS db_user");
        r.inner.push_back(select(getUserResult({row})));
        recordSignIn(ctx, a, verdict);
        return r;
    };

    at(ctx, "SELECT @id = id_login");
    std::optional<LoginRow> found = findLogin(ctx.db, login);
    if (!found || found->md5.isEmpty() || found->md5.compare(digest, Qt::CaseInsensitive) != 0)
        return answer(refusal(kWrongCredentials), QStringLiteral("wrong login or password"));
    LoginRow &row = *found;
    if (!row.blocked.isEmpty())
        return answer(refusal(row.blocked), QStringLiteral("blocked"));

    QString verdict = QStringLiteral("accepted");
    if (!isNull(newDigestArg)) {
        static const QRegularExpression hex32(QStringLiteral("^[0-9A-Fa-f]{32}$"));
        const QString newDigest = db::toText(newDigestArg).trimmed().toUpper();
        if (!hex32.match(newDigest).hasMatch())
            return answer(refusal(kBadNewPassword), QStringLiteral("bad new password"));
        if (newDigest == Md5Hex(QString()))
            return answer(refusal(kEmptyNewPassword), QStringLiteral("empty new password"));
        if (newDigest.compare(row.md5, Qt::CaseInsensitive) == 0)
            return answer(refusal(kSamePassword), QStringLiteral("same new password"));
        at(ctx, "UPDATE sandbox_login");
        db::Statement st(ctx.db,
                         QStringLiteral("UPDATE sandbox_login SET password_md5 = ?, password_changed = ? "
                                        "WHERE id_login = ?"));
        st.bind({newDigest, ctx.today.toString(Qt::ISODate), row.id});
        st.step();
        StatementResult update;
        update.verb = QStringLiteral("UPDATE");
        update.rowCount = 1;
        r.inner.push_back(update);
        row.changed = ctx.today;
        verdict = QStringLiteral("password changed");
    }

    const qint64 daysLeft = row.changed.isValid() ? row.lifetime - row.changed.daysTo(ctx.today) : -1;
    if (!row.mustUpdate.isEmpty() && row.mustUpdate.compare(program.trimmed(), Qt::CaseInsensitive) == 0)
        return answer(answerRow(QString(), QString(), row.id, daysLeft, QString(), 2),
                      QStringLiteral("update"));

    at(ctx, "SELECT @account_password");
    const auto account = findAccount(ctx.db, row.account);
    if (!account)
        return answer(refusal(kNoAccount), QStringLiteral("no account"));
    if (daysLeft < 0)
        return answer(answerRow(QString(), QString(), row.id, daysLeft, QString(), 0),
                      QStringLiteral("password expired"));
    return answer(
        answerRow(shifted(account->first), shifted(account->second), row.id, daysLeft, QString(), 0),
        daysLeft < 20 ? verdict + QStringLiteral(", password expires soon") : verdict);
}

// ---------------------------------------------------------------------------------------------
// CreateStarasta

bool exists(sqlite3 *db, const QString &sql, const QList<Value> &params)
{
    return !db::query(db, sql, params).rows.isEmpty();
}

StatementResult createStarasta(Context &ctx, const Arguments &a)
{
    StatementResult r;
    // A RAISERROR of severity 16 at the statement holding marker; the procedure then returns 1.
    const auto raise = [&](const QString &text, const char *marker) {
        return sqlerr::procedure(ctx.procedureName, text, at(ctx, marker));
    };
    const auto refuse = [&](const QString &text, const char *marker) {
        r.error = raise(text, marker);
        r.returnStatus = 1;
        return r;
    };
    if (isNull(a.at(0)))
        return refuse(QStringLiteral("Не указана группа."), "RAISERROR('Не указана группа.'");
    if (isNull(a.at(1)))
        return refuse(QStringLiteral("Не указан студент."), "RAISERROR('Не указан студент.'");
    const qint64 group = std::get<qint64>(a.at(0));
    const qint64 student = std::get<qint64>(a.at(1));

    at(ctx, "IF NOT EXISTS (SELECT 1 FROM [group]");
    const ResultSet g =
        db::query(ctx.db, QStringLiteral("SELECT p20 FROM \"group\" WHERE id_group = ?"), {group});
    if (g.rows.isEmpty())
        return refuse(QStringLiteral("Группа с кодом %1 не найдена.").arg(group),
                      "RAISERROR('Группа с кодом %d не найдена.'");
    at(ctx, "IF NOT EXISTS (SELECT 1 FROM s_fio");
    if (!exists(ctx.db, QStringLiteral("SELECT 1 FROM s_fio WHERE id_student = ?"), {student}))
        return refuse(QStringLiteral("Студент с кодом %1 не найден.").arg(student),
                      "RAISERROR('Студент с кодом %d не найден.'");
    at(ctx, "IF NOT EXISTS (SELECT 1 FROM s_g");
    if (!exists(ctx.db, QStringLiteral("SELECT 1 FROM s_g WHERE id_student = ? AND id_group = ?"),
                {student, group}))
        return refuse(QStringLiteral("Студент с кодом %1 не числится в группе %2.")
                          .arg(QString::number(student), db::toText(g.rows.first().first())),
                      "RAISERROR('Студент с кодом %d не числится в группе %s.'");

    at(ctx, "SET @rule =");
    const ResultSet marked = db::query(
        ctx.db, QStringLiteral("SELECT rule FROM sandbox_starasta_rule WHERE id_student = ?"), {student});
    const QString rule = marked.rows.isEmpty() ? QString() : db::toText(marked.rows.first().first());
    // PRINT: message number 0, severity 0.
    const auto print = [&](const QString &text, const char *marker) {
        StatementResult st;
        st.verb = QStringLiteral("PRINT");
        st.infos.append(sqlerr::make(0, 0, 1, text, at(ctx, marker)));
        st.infos.last().procedure = ctx.procedureName;
        r.inner.push_back(st);
    };
    if (rule == QLatin1String(kRuleInfoThenError)) {
        print(QStringLiteral("Проверка приказов деканата по студенту %1.").arg(student),
              "PRINT 'Проверка приказов деканата");
        return refuse(QStringLiteral("Студент с кодом %1 отчислен приказом деканата; назначить его старостой "
                                     "нельзя.")
                          .arg(student),
                      "RAISERROR('Студент с кодом %d отчислен приказом деканата");
    }
    if (rule == QLatin1String(kRuleInfoThenSuccess))
        print(QStringLiteral("Студент с кодом %1 уже был старостой; назначение повторено.").arg(student),
              "PRINT 'Студент с кодом ' + CAST(@id_student AS varchar(11)) + ' уже был старостой");
    if (rule == QLatin1String(kRuleErrorThenStore)) {
        StatementResult raised;
        raised.verb = QStringLiteral("RAISERROR");
        raised.error = raise(
            QStringLiteral("Журнал назначений недоступен; староста будет назначен без записи в журнал."),
            "RAISERROR('Журнал назначений недоступен;");
        raised.raised = true;
        r.inner.push_back(raised);
        r.returnStatus = 1;
        at(ctx, "WAITFOR DELAY");
        if (ctx.pause && !ctx.pause(r))
            return r; // cancelled: nothing stored
    }

    db::exec(ctx.db, QStringLiteral("SAVEPOINT create_starasta"));
    try {
        at(ctx, "DELETE FROM QELStudent");
        db::Statement remove(ctx.db, QStringLiteral("DELETE FROM QELStudent WHERE id_group = ?"));
        remove.bind({group});
        remove.step();
        StatementResult removed;
        removed.verb = QStringLiteral("DELETE");
        removed.rowCount = sqlite3_changes64(ctx.db);
        at(ctx, "INSERT INTO QELStudent");
        db::Statement insert(ctx.db,
                             QStringLiteral("INSERT INTO QELStudent (id_group, id_student) VALUES (?, ?)"));
        insert.bind({group, student});
        insert.step();
        StatementResult inserted;
        inserted.verb = QStringLiteral("INSERT");
        inserted.rowCount = sqlite3_changes64(ctx.db);
        db::exec(ctx.db, QStringLiteral("RELEASE create_starasta"));
        r.inner.push_back(removed);
        r.inner.push_back(inserted);
    } catch (...) {
        db::exec(ctx.db, QStringLiteral("ROLLBACK TO create_starasta; RELEASE create_starasta"));
        throw;
    }
    if (rule == QLatin1String(kRuleStoreThenError))
        return refuse(QStringLiteral("Староста назначен, но журнал назначений недоступен."),
                      "RAISERROR('Староста назначен, но журнал");
    if (rule == QLatin1String(kRuleErrorThenStore))
        return r; // return status 1, set with the error
    r.returnStatus = 0;
    return r;
}

// ---------------------------------------------------------------------------------------------
// sp_datatype_info_100

StatementResult datatypeInfo(Context &, const Arguments &a)
{
    // Columns of the ODBC type catalogue, then the server's own user type number, as the server
    // types them: sysname, smallint, int and varchar(32).
    static const QList<std::pair<const char *, ColumnType>> columns = {
        {"TYPE_NAME", ColumnType::NVarChar},
        {"DATA_TYPE", ColumnType::SmallInt},
        {"COLUMN_SIZE", ColumnType::Int},
        {"LITERAL_PREFIX", ColumnType::VarChar},
        {"LITERAL_SUFFIX", ColumnType::VarChar},
        {"CREATE_PARAMS", ColumnType::VarChar},
        {"NULLABLE", ColumnType::SmallInt},
        {"CASE_SENSITIVE", ColumnType::SmallInt},
        {"SEARCHABLE", ColumnType::SmallInt},
        {"UNSIGNED_ATTRIBUTE", ColumnType::SmallInt},
        {"FIXED_PREC_SCALE", ColumnType::SmallInt},
        {"AUTO_UNIQUE_VALUE", ColumnType::SmallInt},
        {"LOCAL_TYPE_NAME", ColumnType::NVarChar},
        {"MINIMUM_SCALE", ColumnType::SmallInt},
        {"MAXIMUM_SCALE", ColumnType::SmallInt},
        {"SQL_DATA_TYPE", ColumnType::SmallInt},
        {"SQL_DATETIME_SUB", ColumnType::SmallInt},
        {"NUM_PREC_RADIX", ColumnType::Int},
        {"INTERVAL_PRECISION", ColumnType::SmallInt},
        {"USERTYPE", ColumnType::SmallInt}};
    // Every type the sandbox keeps, in the order of DATA_TYPE (ODBC 2's numbers): name, data
    // type, size, prefix, suffix, create params, searchable, unsigned, auto increment, minimum
    // and maximum scale, SQL data type, datetime sub, radix, user type; N is NULL.
    constexpr int N = std::numeric_limits<int>::min();
    struct Type {
        const char *name;
        int type, size;
        const char *prefix, *suffix, *params;
        int searchable, unsignedAttribute, autoIncrement, minScale, maxScale, sqlType, sub, radix, userType;
    };
    static const Type types[] = {
        {"nvarchar", -9, 4000, "N'", "'", "max length", 3, N, N, N, N, -9, N, N, 0},
        {"nchar", -8, 4000, "N'", "'", "length", 3, N, N, N, N, -8, N, N, 0},
        {"bit", -7, 1, nullptr, nullptr, nullptr, 2, N, N, 0, 0, -7, N, N, 16},
        {"tinyint", -6, 3, nullptr, nullptr, nullptr, 2, 1, 0, 0, 0, -6, N, 10, 5},
        {"bigint", -5, 19, nullptr, nullptr, nullptr, 2, 0, 0, 0, 0, -5, N, 10, 0},
        {"varbinary", -3, 8000, "0x", nullptr, "max length", 2, N, N, N, N, -3, N, N, 4},
        {"char", 1, 8000, "'", "'", "length", 3, N, N, N, N, 1, N, N, 1},
        {"int", 4, 10, nullptr, nullptr, nullptr, 2, 0, 0, 0, 0, 4, N, 10, 7},
        {"smallint", 5, 5, nullptr, nullptr, nullptr, 2, 0, 0, 0, 0, 5, N, 10, 6},
        {"float", 6, 53, nullptr, nullptr, nullptr, 2, 0, 0, N, N, 6, N, 2, 8},
        {"real", 7, 24, nullptr, nullptr, nullptr, 2, 0, 0, N, N, 7, N, 2, 23},
        {"date", 9, 10, "'", "'", nullptr, 3, N, N, N, N, 9, 1, N, 0},
        {"datetime", 11, 23, "'", "'", nullptr, 3, N, N, 3, 3, 9, 3, N, 12},
        {"varchar", 12, 8000, "'", "'", "max length", 3, N, N, N, N, 12, N, N, 2},
    };
    const auto num = [](int n) { return n == N ? Value() : Value(qint64(n)); };
    const auto text = [](const char *t) { return t ? Value(QString::fromLatin1(t)) : Value(); };
    QList<QList<Value>> all;
    for (const Type &t : types)
        all.append({text(t.name),
                    num(t.type),
                    num(t.size),
                    text(t.prefix),
                    text(t.suffix),
                    text(t.params),
                    num(1),
                    num(0),
                    num(t.searchable),
                    num(t.unsignedAttribute),
                    num(0),
                    num(t.autoIncrement),
                    text(t.name),
                    num(t.minScale),
                    num(t.maxScale),
                    num(t.sqlType),
                    num(t.sub),
                    num(t.radix),
                    num(N),
                    num(t.userType)});
    const qint64 wanted = isNull(a.at(0)) ? 0 : std::get<qint64>(a.at(0));
    // @ODBCVer 2 (the default) names three columns as ODBC 2 did and types datetime as 11; 3 as
    // ODBC 3 does, datetime 93.
    const bool odbc3 = !isNull(a.at(1)) && std::get<qint64>(a.at(1)) >= 3;
    const QHash<QString, QString> odbc2Names = {
        {QStringLiteral("COLUMN_SIZE"), QStringLiteral("PRECISION")},
        {QStringLiteral("FIXED_PREC_SCALE"), QStringLiteral("MONEY")},
        {QStringLiteral("AUTO_UNIQUE_VALUE"), QStringLiteral("AUTO_INCREMENT")}};
    ResultSet rs;
    for (const auto &[name, type] : columns) {
        Column c;
        c.name = QString::fromLatin1(name);
        if (!odbc3)
            c.name = odbc2Names.value(c.name, c.name);
        c.type = type;
        c.maxLength = type == ColumnType::VarChar ? 32 : 128;
        rs.columns.append(c);
    }
    for (QList<Value> row : all) {
        // ODBC 3 numbers the date and time types anew: date 91, datetime 93, after varchar.
        if (odbc3 && (std::get<qint64>(row.at(1)) == 9 || std::get<qint64>(row.at(1)) == 11))
            row[1] = std::get<qint64>(row.at(1)) + 82;
        if (wanted == 0 || std::get<qint64>(row.at(1)) == wanted)
            rs.rows.append(row);
    }
    std::stable_sort(rs.rows.begin(), rs.rows.end(), [](const QList<Value> &x, const QList<Value> &y) {
        return std::get<qint64>(x.at(1)) < std::get<qint64>(y.at(1));
    });
    StatementResult select;
    select.verb = QStringLiteral("SELECT");
    select.resultSet = rs;
    select.rowCount = rs.rows.size();
    StatementResult r;
    r.inner.push_back(select);
    r.returnStatus = 0;
    return r;
}

// ---------------------------------------------------------------------------------------------

const QList<Procedure> &catalogue()
{
    static const QList<Procedure> procedures = {
        {"GET_USER",
         {{"@login", ParamType::Text, true},
          {"@password", ParamType::Text, true},
          {"@new_password", ParamType::Text, true},
          {"@program", ParamType::Text, true},
          {"@ip", ParamType::Text, false},
          {"@computer", ParamType::Text, false},
          {"@login_again", ParamType::Text, false},
          {"@flag", ParamType::Text, false},
          {"@count", ParamType::Text, false}},
         getUser,
         "dbo",
         kGetUserText},
        {"CreateStarasta",
         {{"@id_group", ParamType::Int, true}, {"@id_student", ParamType::Int, true}},
         createStarasta,
         "dbo",
         kCreateStarastaText},
        {"sp_datatype_info_100",
         {{"@data_type", ParamType::Int, false}, {"@ODBCVer", ParamType::Int, false}},
         datatypeInfo,
         "sys"},
        {"sp_datatype_info",
         {{"@data_type", ParamType::Int, false}, {"@ODBCVer", ParamType::Int, false}},
         datatypeInfo,
         "sys"},
    };
    return procedures;
}

QString typeNameOf(const Value &v)
{
    if (std::holds_alternative<double>(v))
        return QStringLiteral("float");
    if (std::holds_alternative<QByteArray>(v))
        return QStringLiteral("varbinary");
    if (std::holds_alternative<QString>(v))
        return QStringLiteral("varchar");
    return QStringLiteral("int");
}

const Procedure *find(const QString &name)
{
    for (const Procedure &p : catalogue())
        if (name.compare(QLatin1String(p.name), Qt::CaseInsensitive) == 0)
            return &p;
    return nullptr;
}

} // namespace

StatementResult call(Context &ctx, const QString &name, const QList<Argument> &arguments)
{
    StatementResult r;
    const Procedure *proc = find(name);
    if (!proc) {
        r.error = sqlerr::unknownProcedure(name, ctx.line);
        return r;
    }
    const QString procName = QString::fromLatin1(proc->name);
    if (!permissions::mayExecute(ctx.role, procName)) {
        r.error = sqlerr::permissionDenied(QStringLiteral("EXECUTE"), procName, ctx.line);
        return r;
    }
    // Since version 14 the server names a procedure in its messages with its schema.
    ctx.procedureName = QLatin1String(proc->schema) + u'.' + procName;
    ctx.definition = proc->text;
    ctx.statementLine = 0;
    // The server checks the arguments when it enters the procedure, before its first line: its
    // errors name the procedure, at line 0.
    const auto onEntry = [&](Message m) {
        m.procedure = ctx.procedureName;
        m.line = 0;
        r.error = m;
        return r;
    };

    // Bind positional arguments first, then named ones.
    const qsizetype n = proc->parameters.size();
    Arguments bound(n);
    QList<bool> given(n, false);
    qsizetype position = 0;
    for (const Argument &arg : arguments) {
        qsizetype index = -1;
        if (arg.name.isEmpty()) {
            index = position++;
            if (index >= n)
                return onEntry(sqlerr::tooManyArguments(procName, 0));
        } else {
            for (qsizetype k = 0; k < n; ++k)
                if (arg.name.compare(QLatin1String(proc->parameters.at(k).name), Qt::CaseInsensitive) == 0)
                    index = k;
            if (index < 0)
                return onEntry(sqlerr::make(
                    8145, 16, 2,
                    QStringLiteral("%1 is not a parameter for procedure %2.").arg(arg.name, procName)));
        }
        given[index] = !arg.isDefault;
        const Parameter &param = proc->parameters.at(index);
        Value v = arg.isDefault ? Value() : arg.value;
        if (param.type == ParamType::Int && !isNull(v)) {
            const auto asInteger = db::toInteger(v);
            if (!asInteger) {
                Message m = sqlerr::conversion(typeNameOf(v), QStringLiteral("int"), 0);
                m.state = 1; // a parameter's conversion, as the server numbers it
                return onEntry(m);
            }
            v = *asInteger;
        } else if (param.type == ParamType::Text && !isNull(v)) {
            v = db::toText(v);
        }
        bound[index] = v;
    }
    for (qsizetype k = 0; k < n; ++k) {
        if (proc->parameters.at(k).required && !given.at(k))
            return onEntry(sqlerr::missingArgument(procName, QLatin1String(proc->parameters.at(k).name), 0));
    }
    try {
        return proc->body(ctx, bound);
    } catch (const db::Error &e) {
        // What the server raises in one of the procedure's statements carries that statement's line.
        StatementResult failed;
        failed.error =
            sqlerr::fromSqlite(e.code(), e.message(), ctx.statementLine > 0 ? ctx.statementLine : ctx.line);
        failed.error->procedure = ctx.procedureName;
        if (failed.error->number == 547 && ctx.definition && ctx.statementLine > 0) {
            // A constraint's conflict names the statement's verb and table, as the statement writes
            // them, and ends that statement.
            static const QRegularExpression target(
                QStringLiteral("^\\s*(INSERT|UPDATE|DELETE)(?:\\s+INTO|\\s+FROM)?\\s+\\[?([^\\]\\s(]+)"),
                QRegularExpression::CaseInsensitiveOption);
            const auto m =
                target.match(QString::fromUtf8(ctx.definition).split(u'\n').value(ctx.statementLine - 1));
            failed.error->text.replace(QLatin1String("%VERB%"), m.captured(1).toUpper());
            failed.error->text.replace(QLatin1String("%TABLE%"), m.captured(2));
            failed.afterError.append(sqlerr::make(
                3621, 0, 0, QStringLiteral("The statement has been terminated."), ctx.statementLine));
            failed.afterError.last().procedure = ctx.procedureName;
        }
        return failed;
    }
}

QString definition(const QString &procedure)
{
    const Procedure *proc = find(procedure);
    return proc && proc->text ? QString::fromUtf8(proc->text) : QString();
}

ResultSet getUserResult(const QList<QList<Value>> &rows)
{
    static const QList<std::pair<const char *, const char *>> standard = {
        {"db_user", "varchar(128)"}, {"db_password", "varchar(128)"}, {"id_login", "int"},
        {"days_left", "int"},        {"message", "varchar(255)"},     {"update_flag", "int"}};
    ResultSet rs;
    qsizetype width = rows.isEmpty() ? standard.size() : 0;
    for (const auto &row : rows)
        width = std::max(width, row.size());
    rs.rows = rows;
    for (auto &row : rs.rows)
        while (row.size() < width)
            row.append(Value());
    for (qsizetype c = 0; c < width; ++c) {
        const bool known = c < standard.size();
        const QString name =
            known ? QLatin1String(standard.at(c).first) : QStringLiteral("column%1").arg(c + 1);
        const QString type = known ? QLatin1String(standard.at(c).second) : QString();
        rs.columns.append(db::typeColumn(name, type, rs.rows, int(c)));
    }
    return rs;
}

QString shifted(const QString &text)
{
    QByteArray bytes = Cp1251::fromUnicode(text);
    for (char &b : bytes)
        b = char(uchar(b) - 1);
    return Cp1251::toUnicode(bytes);
}

} // namespace sandbox::procedures
