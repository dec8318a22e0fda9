#include "sandbox/engine/engine.h"

#include "sandbox/engine/collation.h"
#include "sandbox/engine/constraints.h"
#include "sandbox/engine/dates.h"
#include "sandbox/engine/demodata.h"
#include "sandbox/engine/functions.h"
#include "sandbox/engine/permissions.h"
#include "sandbox/engine/procedures.h"
#include "sandbox/engine/schema.h"
#include "sandbox/engine/sqlerrors.h"
#include "sandbox/engine/sqlitedb.h"
#include "sandbox/engine/tsqltranslator.h"
#include "sandbox/engine/values.h"

#include <QDate>
#include <QElapsedTimer>

#include <sqlite3.h>

#include <limits>
#include <mutex>
#include <optional>
#include <stdexcept>

namespace sandbox {

namespace {

// A statement that holds the engine longer is cancelled: a whole statement, or a query's slice
// between two chunks of its rows (a long result itself has no limit).
constexpr qint64 kStatementTimeLimitMs = 10000;

// A query's rows travel in chunks: the first decides the types of columns that follow their values
// and is larger, so that most results are typed by all their rows; the others bound the memory a
// result takes and how long a cancel waits.
constexpr qsizetype kFirstChunkRows = 2000;
constexpr qsizetype kChunkRows = 256;
constexpr qsizetype kChunkBytes = 512 * 1024;

const QStringList kDateFormats = {QStringLiteral("mdy"), QStringLiteral("dmy"), QStringLiteral("ymd"),
                                  QStringLiteral("ydm"), QStringLiteral("myd"), QStringLiteral("dym")};

struct Account {
    QString name;
    QString password;
    permissions::Role role = permissions::Role::None;
    QString database;
};

} // namespace

struct Engine::Private {
    std::mutex mutex;
    sqlite3 *db = nullptr;
    permissions::Authorizer authorizer;
    std::optional<ResultSet> scriptedGetUser;
    QDate today; // invalid: the real date
    QElapsedTimer clock;
    bool timing = false;
    int procedurePauseMs = 2000;
    int compatibilityLevel = 160; // as a new database of the version the server announces
    // A batch that runs with an observer: the lock that its execute() holds and the observer, so
    // that a procedure's pause can be spent without the lock; cancelled once the observer said
    // stop. Owned by that execute(); `running` points at it whenever that call holds the lock
    // (other connections' batches run while it waits without it).
    struct Run {
        std::unique_lock<std::mutex> *lock = nullptr;
        BatchObserver *observer = nullptr;
        bool cancelled = false;
    };
    Run *running = nullptr;

    ~Private()
    {
        if (db)
            sqlite3_close_v2(db);
    }

    QDate currentDate() const { return today.isValid() ? today : QDate::currentDate(); }

    // The declared types of tables' columns, kept until the schema changes.
    QHash<QString, tsql::TableColumns> catalog;
    qint64 catalogVersion = -1;
    qint64 checksVersion = -1;                  // the schema version the row checks were made for
    QString dateFormat = QStringLiteral("mdy"); // the running session's, read by the date functions
    bool nullEliminated = false;                // an aggregate of the running statement left out a NULL

    tsql::TableColumns tableColumns(const QString &table)
    {
        const qint64 version =
            db::toInteger(db::query(db, QStringLiteral("PRAGMA schema_version")).rows.value(0).value(0))
                .value_or(0);
        if (version != catalogVersion) {
            catalog.clear();
            catalogVersion = version;
        }
        const QString key = table.toLower();
        const auto found = catalog.constFind(key);
        if (found != catalog.constEnd())
            return *found;
        tsql::TableColumns columns;
        QString quoted = table;
        quoted.replace(u'"', QStringLiteral("\"\""));
        const ResultSet info = db::query(db, QStringLiteral("PRAGMA table_info(\"%1\")").arg(quoted));
        for (const auto &row : info.rows)
            columns.insert(db::toText(row.value(1)).toLower(), db::toText(row.value(2)));
        catalog.insert(key, columns);
        return columns;
    }

    static int progress(void *self)
    {
        const auto *d = static_cast<Private *>(self);
        return d->timing && d->clock.elapsed() > kStatementTimeLimitMs ? 1 : 0;
    }

    std::optional<Account> account(const QString &name)
    {
        const ResultSet rs = db::query(
            db, QStringLiteral("SELECT name, password, role, default_database FROM sandbox_account"));
        for (const auto &row : rs.rows) {
            if (db::toText(row.at(0)).compare(name, Qt::CaseInsensitive) != 0)
                continue;
            return Account{db::toText(row.at(0)), db::toText(row.at(1)),
                           permissions::roleFromText(db::toText(row.at(2))), db::toText(row.at(3))};
        }
        return std::nullopt;
    }

    StatementResult run(Session &session, permissions::Role role, const tsql::Statement &st,
                        const QList<Parameter> &params);
    StatementResult runQuery(permissions::Role role, const tsql::Statement &st,
                             const QList<Parameter> &params);
    // A query's rows handed to the running batch's observer a chunk at a time; throws db::Error
    // when it fails after the rows before the failure went.
    void streamQuery(db::Statement &stmt, const tsql::Statement &st, StatementResult &r);
    StatementResult runSet(Session &session, const tsql::Statement &st, const QList<Parameter> &params);
    StatementResult runExec(Session &session, permissions::Role role, const tsql::Statement &st,
                            const QList<Parameter> &params);
    StatementResult runMessage(const tsql::Statement &st, const QList<Parameter> &params);
};

namespace {

const Parameter *findParameter(const QList<Parameter> &params, const QString &name)
{
    const QString bare = name.startsWith(u'@') ? name.mid(1) : name;
    for (const Parameter &p : params) {
        const QString pname = p.name.startsWith(u'@') ? p.name.mid(1) : p.name;
        if (pname.compare(bare, Qt::CaseInsensitive) == 0)
            return &p;
    }
    return nullptr;
}

// The value of a literal argument token.
Value literalValue(const tsql::Token &t, bool negative)
{
    switch (t.kind) {
    case tsql::TokenKind::String:
    case tsql::TokenKind::NString:
        return t.value;
    case tsql::TokenKind::Number: {
        bool ok = false;
        if (!t.text.contains(u'.') && !t.text.contains(u'e', Qt::CaseInsensitive)) {
            const qint64 n = t.text.toLongLong(&ok);
            if (ok)
                return negative ? -n : n;
        }
        const double d = t.text.toDouble(&ok);
        return negative ? -d : d;
    }
    case tsql::TokenKind::Binary:
        return QByteArray::fromHex(t.text.mid(2).toLatin1());
    default:
        return t.text; // a bare word
    }
}

// The value of a PRINT or RAISERROR argument: literals, parameters, and text joined with '+'.
std::optional<Value> messageValue(const QList<tsql::Token> &tokens, const QList<Parameter> &params)
{
    QString joined;
    std::optional<Value> single;
    qsizetype parts = 0;
    for (qsizetype i = 0; i < tokens.size(); ++i) {
        const tsql::Token &t = tokens.at(i);
        if (i % 2 == 1) {
            if (!t.isSymbol("+"))
                return std::nullopt;
            continue;
        }
        bool negative = false;
        const tsql::Token *value = &t;
        if (t.isSymbol("-") && i + 1 < tokens.size()) {
            negative = true;
            value = &tokens.at(++i);
        }
        Value v;
        if (value->kind == tsql::TokenKind::Variable) {
            const Parameter *p = findParameter(params, value->text);
            if (!p)
                return std::nullopt;
            v = p->value;
        } else if (value->kind == tsql::TokenKind::String || value->kind == tsql::TokenKind::NString ||
                   value->kind == tsql::TokenKind::Number) {
            v = literalValue(*value, negative);
        } else if (value->is("NULL")) {
            v = Value();
        } else {
            return std::nullopt;
        }
        single = v;
        joined += db::toText(v);
        ++parts;
    }
    if (parts == 0)
        return std::nullopt;
    return parts == 1 ? *single : Value(joined);
}

// RAISERROR's text with %s, %d, %i, %u and %% filled from the arguments.
QString formatRaised(const QString &format, const QList<Value> &arguments)
{
    QString out;
    qsizetype next = 0;
    for (qsizetype i = 0; i < format.size(); ++i) {
        const QChar c = format.at(i);
        if (c != u'%' || i + 1 >= format.size()) {
            out += c;
            continue;
        }
        qsizetype k = i + 1;
        if (format.at(k) == u'%') {
            out += u'%';
            i = k;
            continue;
        }
        while (k < format.size() && (format.at(k).isDigit() || format.at(k) == u'-' || format.at(k) == u'l' ||
                                     format.at(k) == u'h' || format.at(k) == u'.'))
            ++k;
        if (k < format.size() && QStringLiteral("sdiuxXo").contains(format.at(k))) {
            const Value v = next < arguments.size() ? arguments.at(next) : Value();
            ++next;
            out += isNull(v) ? QStringLiteral("(null)") : db::toText(v);
            i = k;
            continue;
        }
        out += c;
    }
    return out;
}

} // namespace

StatementResult Engine::Private::runMessage(const tsql::Statement &st, const QList<Parameter> &params)
{
    StatementResult r;
    r.verb = st.verb;
    if (st.kind == tsql::StatementKind::Print) {
        const auto text = messageValue(st.message, params);
        if (!text) {
            r.error = sqlerr::notSupported(QStringLiteral("PRINT"), st.line);
            return r;
        }
        r.infos.append(sqlerr::make(0, 0, 1, db::toText(*text), st.line));
        return r;
    }
    QList<Value> values;
    for (const QList<tsql::Token> &argument : st.raiseArguments) {
        const auto v = messageValue(argument, params);
        if (!v) {
            r.error = sqlerr::notSupported(QStringLiteral("RAISERROR"), st.line);
            return r;
        }
        values.append(*v);
    }
    const auto severity = db::toInteger(values.at(1));
    const auto state = db::toInteger(values.at(2));
    if (!severity || !state || std::holds_alternative<qint64>(values.at(0))) {
        r.error = sqlerr::notSupported(QStringLiteral("RAISERROR"), st.line);
        return r;
    }
    if (*severity > 18) {
        r.error =
            sqlerr::make(2754, 16, 1,
                         QStringLiteral("Error severity levels greater than 18 can only be specified by "
                                        "members of the sysadmin role, using the WITH LOG option."),
                         st.line);
        return r;
    }
    const Message m = sqlerr::make(sqlerr::kUserError, int(qBound(qint64(0), *severity, qint64(18))),
                                   int(qBound(qint64(0), *state, qint64(255))),
                                   formatRaised(db::toText(values.at(0)), values.mid(3)), st.line);
    if (m.severity > 10) {
        r.error = m;
        r.raised = true;
    } else {
        r.infos.append(m);
    }
    return r;
}

StatementResult Engine::Private::run(Session &session, permissions::Role role, const tsql::Statement &st,
                                     const QList<Parameter> &params)
{
    switch (st.kind) {
    case tsql::StatementKind::Query:
        return runQuery(role, st, params);
    case tsql::StatementKind::Definition: {
        StatementResult r = runQuery(role, st, params);
        if (r.error || st.verb != QLatin1String("CREATE"))
            return r;
        // A constraint's name is an object's name: one already taken undoes the table.
        if (const auto taken = constraints::nameTaken(db, st.sqlite, st.line)) {
            db::exec(db, QStringLiteral("DROP TABLE %1").arg(db::quoteName(st.target)));
            r = {};
            r.error = taken->first;
            r.afterError.append(taken->second);
        }
        return r;
    }
    case tsql::StatementKind::Set:
        return runSet(session, st, params);
    case tsql::StatementKind::Exec:
        return runExec(session, role, st, params);
    case tsql::StatementKind::Print:
    case tsql::StatementKind::Raiserror:
        return runMessage(st, params);
    case tsql::StatementKind::Use: {
        StatementResult r;
        if (st.database.compare(sqlerr::kDatabase, Qt::CaseInsensitive) != 0) {
            r.error = sqlerr::unknownDatabase(st.database, st.line);
            return r;
        }
        session.database = sqlerr::kDatabase;
        r.infos.append(sqlerr::make(
            5701, 10, 1, QStringLiteral("Changed database context to '%1'.").arg(sqlerr::kDatabase),
            st.line));
        return r;
    }
    }
    return {};
}

namespace {

// What may hold NULL: a literal never; a NOT NULL column neither, unless an outer join or a union
// can bring NULL into it. Columns take the names the statement gives them.
void settleColumns(const tsql::Statement &st, QList<Column> &columns, const QList<QList<Value>> &rows)
{
    if (st.resultNames.size() == columns.size()) {
        for (qsizetype c = 0; c < st.resultNames.size(); ++c)
            columns[c].name = st.resultNames.at(c);
    }
    const bool widened = st.widened;
    for (qsizetype c = 0; c < columns.size(); ++c) {
        Column &column = columns[c];
        if (st.resultAggregates.size() == columns.size() && st.resultAggregates.at(c)) {
            // The server announces an aggregate as a column that may be NULL, not as a computed
            // one.
            column.computed = false;
            column.aggregate = true;
            column.nullable = true;
            continue;
        }
        if (column.computed)
            column.nullable =
                !(st.resultNotNull.size() == columns.size() && st.resultNotNull.at(c) && !widened);
        else if (widened)
            column.nullable = true;
        for (const auto &row : rows)
            if (isNull(row.at(c)))
                column.nullable = true;
    }
}

// An int result (a SUM of int, say) that left the type overflowed, as on the server; a column
// whose type followed its values (byValues) is not an int of the server's.
void checkIntRange(const QList<Column> &columns, const QList<bool> &byValues, const QList<Value> &row)
{
    for (qsizetype c = 0; c < columns.size(); ++c) {
        const ColumnType type = columns.at(c).type;
        if (byValues.value(c) ||
            (type != ColumnType::Int && type != ColumnType::SmallInt && type != ColumnType::TinyInt))
            continue;
        const QString name = type == ColumnType::Int        ? QStringLiteral("int")
                             : type == ColumnType::SmallInt ? QStringLiteral("smallint")
                                                            : QStringLiteral("tinyint");
        const auto range = values::integerRange(name);
        const auto *n = std::get_if<qint64>(&row.at(c));
        if (n && range && (*n < range->low || *n > range->high))
            throw sqlerr::raised(
                sqlerr::make(8115, 16, 2,
                             QStringLiteral("Arithmetic overflow error converting expression to data "
                                            "type %1.")
                                 .arg(name)));
    }
}

// A later value of a long result that the columns announced with its first rows cannot carry.
Message misfit(const QString &column, int line)
{
    return sqlerr::notSupported(
        QStringLiteral(
            "a result whose column '%1' after its first %2 rows needs another type than they gave it")
            .arg(column)
            .arg(kFirstChunkRows),
        line);
}

// A failure raised while the rows are computed, after the columns were announced, as the server
// raises its runtime errors; a refusal or a form the server rejects before running is not.
bool runtimeFailure(const db::Error &e)
{
    if ((e.code() & 0xff) != SQLITE_ERROR)
        return false;
    const Message m = sqlerr::fromSqlite(e.code(), e.message(), 1);
    return m.severity == 16 && m.number != 40517;
}

} // namespace

void Engine::Private::streamQuery(db::Statement &stmt, const tsql::Statement &st, StatementResult &r)
{
    Run *const run = running;
    const QString format = dateFormat;
    bool eliminated = false;
    db::RowReader reader(stmt, st.resultTypes);
    r.streamed = true;
    r.rowCount = 0;
    for (bool first = true;; first = false) {
        QList<QList<Value>> rows =
            first ? reader.next(kFirstChunkRows, kChunkBytes) : reader.next(kChunkRows, kChunkBytes);
        eliminated = eliminated || nullEliminated;
        std::optional<db::Error> failure = reader.error();
        QList<bool> byValues;
        if (first) {
            r.resultSet = ResultSet{reader.columns(), {}};
            settleColumns(st, r.resultSet->columns, rows);
        }
        for (qsizetype c = 0; c < r.resultSet->columns.size(); ++c)
            byValues.append(reader.typedByValues(int(c)));
        // The rows before one that cannot travel go; the statement ends with its error.
        for (qsizetype i = 0; i < rows.size(); ++i) {
            try {
                checkIntRange(r.resultSet->columns, byValues, rows.at(i));
                for (qsizetype c = 0; c < rows.at(i).size(); ++c) {
                    if (isNull(rows.at(i).at(c)) && !r.resultSet->columns.at(c).nullable)
                        throw sqlerr::raised(misfit(r.resultSet->columns.at(c).name, st.line));
                }
            } catch (const db::Error &e) {
                rows.resize(i);
                failure = e;
                break;
            }
        }
        if (!failure && reader.misfit() >= 0)
            failure = sqlerr::raised(misfit(r.resultSet->columns.at(reader.misfit()).name, st.line));
        r.rowCount += rows.size();
        if (!rows.isEmpty() || (first && (!failure || runtimeFailure(*failure)))) {
            // The chunk travels without the lock: other connections' statements run meanwhile
            // and may change what the rest of this one reads, as under READ COMMITTED.
            timing = false;
            authorizer.allowAll();
            ResultSet chunk{r.resultSet->columns, std::move(rows)};
            run->lock->unlock();
            bool goOn = false;
            try {
                goOn = run->observer->rows(r, chunk, first);
            } catch (...) {
                goOn = false;
            }
            run->lock->lock();
            running = run;
            dateFormat = format;
            if (!goOn) {
                run->cancelled = true;
                break;
            }
            clock.start();
            timing = true;
        }
        if (failure)
            throw *failure;
        if (reader.atEnd())
            break;
        nullEliminated = false;
    }
    timing = false;
    nullEliminated = eliminated;
    r.resultSet->rows.clear();
}

StatementResult Engine::Private::runQuery(permissions::Role role, const tsql::Statement &st,
                                          const QList<Parameter> &params)
{
    StatementResult r;
    authorizer.checkFor(role);
    try {
        db::Statement stmt(db, st.sqlite);
        if (!stmt.tail().trimmed().isEmpty())
            throw db::Error(SQLITE_ERROR,
                            QStringLiteral("near \"%1\": syntax error").arg(stmt.tail().trimmed()));
        for (int k = 1; k <= stmt.parameterCount(); ++k) {
            const QString name = stmt.parameterName(k);
            const Parameter *p = findParameter(params, name);
            if (!p) {
                authorizer.allowAll();
                r.error = sqlerr::undeclaredVariable(name.isEmpty() ? QStringLiteral("?") : name, st.line);
                return r;
            }
            stmt.bind(k, p->value);
        }
        clock.start();
        timing = true;
        nullEliminated = false;
        if (stmt.columnCount() > 0) {
            // Every column of a result is announced in its type before the first row: one whose
            // type is neither a table's column's nor known from the expression is refused rather
            // than guessed from the values.
            for (int c = 0; c < stmt.columnCount(); ++c) {
                if (!stmt.declaredType(c).isEmpty() ||
                    (st.resultTypes.size() == stmt.columnCount() && !st.resultTypes.at(c).isEmpty()))
                    continue;
                const QString name =
                    st.resultNames.size() == stmt.columnCount() ? st.resultNames.at(c) : QString();
                throw sqlerr::raised(sqlerr::notSupported(
                    name.isEmpty()
                        ? QStringLiteral("an expression of this type in result column %1").arg(c + 1)
                        : QStringLiteral("an expression of this type in result column '%1'").arg(name),
                    st.line));
            }
        }
        if (stmt.columnCount() > 0 && running && running->observer && stmt.isReadOnly()) {
            streamQuery(stmt, st, r);
        } else if (stmt.columnCount() > 0) {
            r.resultSet = stmt.fetchAll(-1, st.resultTypes);
            settleColumns(st, r.resultSet->columns, r.resultSet->rows);
            r.rowCount = r.resultSet->rows.size();
            for (const auto &row : r.resultSet->rows)
                checkIntRange(r.resultSet->columns, {}, row);
        } else {
            stmt.step();
            if (st.verb == QLatin1String("INSERT") || st.verb == QLatin1String("UPDATE") ||
                st.verb == QLatin1String("DELETE") || st.verb == QLatin1String("WITH"))
                r.rowCount = sqlite3_changes64(db);
        }
        timing = false;
        if (nullEliminated)
            r.afterError.append(sqlerr::make(
                8153, 10, 1,
                QStringLiteral("Warning: Null value is eliminated by an aggregate or other SET operation."),
                st.line));
    } catch (const db::Error &e) {
        timing = false;
        if ((e.code() & 0xff) == SQLITE_AUTH) {
            if (auto denial = authorizer.denial(st.line))
                r.error = *denial;
        } else if ((e.code() & 0xff) == SQLITE_INTERRUPT) {
            // The sandbox's own limit, which the server does not have: refused as what it cannot do.
            r.error = sqlerr::notSupported(QStringLiteral("a statement running longer than %1 seconds")
                                               .arg(kStatementTimeLimitMs / 1000),
                                           st.line);
        } else if ((e.code() & 0xff) == SQLITE_TOOBIG) {
            r.error = sqlerr::notSupported(QStringLiteral("a value this large"), st.line);
        }
        if (!r.error && e.message() == QLatin1String("incomplete input"))
            r.error = sqlerr::syntax(st.lastToken, st.line);
        if (!r.error)
            r.error = sqlerr::fromSqlite(e.code(), e.message(), st.line);
        if (r.error->number == 515 && st.verb == QLatin1String("UPDATE"))
            r.error->text.replace(QLatin1String("INSERT fails."), QLatin1String("UPDATE fails."));
        if (r.error->number == 547)
            r.error = constraints::checkConflict(db, st.verb, st.target, e.message(), st.line);
        // A statement that changes rows and is ended by its error says so; a query does not.
        static const QList<int> terminating = {220, 515, 547, 2601, 2627, 2628, 8115, 8134, 8152};
        const bool changes = st.verb == QLatin1String("INSERT") || st.verb == QLatin1String("UPDATE") ||
                             st.verb == QLatin1String("DELETE");
        if (changes && terminating.contains(r.error->number))
            r.afterError.append(
                sqlerr::make(3621, 0, 0, QStringLiteral("The statement has been terminated."), st.line));
        r.resultSet.reset();
        r.rowCount = -1;
    }
    authorizer.allowAll();
    return r;
}

StatementResult Engine::Private::runSet(Session &session, const tsql::Statement &st,
                                        const QList<Parameter> &params)
{
    StatementResult r;
    if (st.option == QLatin1String("NOCOUNT") || st.option == QLatin1String("XACT_ABORT")) {
        const QList<tsql::Token> &v = st.optionValue;
        if (v.size() != 1 || !(v.first().is("ON") || v.first().is("OFF"))) {
            const tsql::Token &bad = v.size() > 1 ? v.at(1) : v.first();
            r.error = sqlerr::syntax(bad.text, bad.line);
            return r;
        }
        (st.option == QLatin1String("NOCOUNT") ? session.noCount : session.xactAbort) = v.first().is("ON");
        return r;
    }
    if (st.option == QLatin1String("TEXTSIZE")) {
        const QList<tsql::Token> &v = st.optionValue;
        const bool negative = v.size() == 2 && v.first().isSymbol("-");
        const tsql::Token &number = v.last();
        bool ok = number.kind == tsql::TokenKind::Number && v.size() == (negative ? 2 : 1);
        const qint64 n = ok ? number.text.toLongLong(&ok) : 0;
        if (!ok) {
            r.error = sqlerr::syntax(number.text, number.line);
            return r;
        }
        if (negative || n > 2147483647) {
            r.error = sqlerr::notSupported(
                QStringLiteral("SET TEXTSIZE %1%2").arg(negative ? "-" : "").arg(n), st.line);
            return r;
        }
        session.textSize = n == 0 ? 4096 : int(n); // 0 restores the default
        return r;
    }
    if (st.option == QLatin1String("LANGUAGE")) {
        // Only the server's own language: the sandbox has no other words for its messages.
        const QList<tsql::Token> &v = st.optionValue;
        if (v.size() != 1 ||
            (v.first().value.compare(QLatin1String("us_english"), Qt::CaseInsensitive) != 0 &&
             v.first().value.compare(QLatin1String("English"), Qt::CaseInsensitive) != 0)) {
            r.error = sqlerr::notSupported(QStringLiteral("SET LANGUAGE"), st.line);
            return r;
        }
        r.infos.append(
            sqlerr::make(5703, 10, 1, QStringLiteral("Changed language setting to us_english."), st.line));
        return r;
    }
    if (st.option != QLatin1String("DATEFORMAT"))
        return r; // every other option is accepted and has no effect here
    const QList<tsql::Token> &v = st.optionValue;
    QString format;
    if (v.size() == 1 &&
        (v.first().kind == tsql::TokenKind::Word || v.first().kind == tsql::TokenKind::String ||
         v.first().kind == tsql::TokenKind::NString)) {
        format = v.first().value;
    } else if (v.size() == 1 && v.first().kind == tsql::TokenKind::Variable) {
        const Parameter *p = findParameter(params, v.first().text);
        if (!p) {
            r.error = sqlerr::undeclaredVariable(v.first().text, st.line);
            return r;
        }
        format = db::toText(p->value);
    } else {
        const tsql::Token &bad = v.size() > 1 ? v.at(1) : v.first();
        r.error = sqlerr::syntax(bad.text, bad.line);
        return r;
    }
    format = format.trimmed().toLower();
    if (!kDateFormats.contains(format)) {
        r.error = sqlerr::make(2741, 16, 1,
                               QStringLiteral("SET DATEFORMAT date order '%1' is not supported.").arg(format),
                               st.line);
        return r;
    }
    session.dateFormat = format;
    return r;
}

StatementResult Engine::Private::runExec(Session &session, permissions::Role role, const tsql::Statement &st,
                                         const QList<Parameter> &params)
{
    QList<procedures::Argument> args;
    for (const tsql::Argument &a : st.arguments) {
        procedures::Argument arg;
        arg.name = a.name;
        const tsql::Token &t = a.value;
        if (t.kind == tsql::TokenKind::Variable) {
            const Parameter *p =
                t.text.startsWith(QLatin1String("@@")) ? nullptr : findParameter(params, t.text);
            if (!p) {
                StatementResult r;
                r.error = sqlerr::undeclaredVariable(t.text, t.line);
                return r;
            }
            arg.value = p->value;
        } else if (t.is("NULL")) {
            arg.value = Value();
        } else if (t.is("DEFAULT")) {
            arg.isDefault = true;
        } else {
            arg.value = literalValue(t, a.negative);
        }
        args.append(arg);
    }
    procedures::Context ctx;
    ctx.db = db;
    ctx.session = &session;
    ctx.role = role;
    ctx.line = st.line;
    ctx.today = currentDate();
    ctx.scriptedGetUser = &scriptedGetUser;
    if (running && running->observer) {
        ctx.pause = [this, run = running](const StatementResult &soFar) {
            const int ms = procedurePauseMs;
            run->lock->unlock();
            const bool goOn = run->observer->paused(soFar, ms);
            run->lock->lock();
            running = run;
            run->cancelled = run->cancelled || !goOn;
            return goOn;
        };
    }
    try {
        return procedures::call(ctx, st.procedure, args);
    } catch (const db::Error &e) {
        StatementResult r;
        r.error = sqlerr::fromSqlite(e.code(), e.message(), st.line);
        r.error->procedure = st.procedure;
        return r;
    }
}

namespace {

// Whether the statement's error ends the batch, as at the server, or only the statement. Errors
// that end their statement alone: the row checks (515, 547, 2601, 2627, 8152 or 2628), arithmetic
// (220, 8115, 8134), permissions (229, 230, 262), and what a called procedure raises or refuses. A
// RAISERROR below severity 19 lets the batch go on whatever XACT_ABORT says. Conversion errors
// (245, 241, 242, 8114), names that do not resolve (207, 208), refusals of what is not supported
// (40517) and anything else end the batch, and with XACT_ABORT ON every error does.
bool endsBatch(const StatementResult &r, const Session &session)
{
    if (!r.error || r.error->severity <= 10)
        return false;
    // A RAISERROR, or what a procedure raised with one (its 50000 errors).
    if (r.raised || (r.verb == QLatin1String("EXEC") && r.error->number == sqlerr::kUserError))
        return r.error->severity >= 19;
    if (session.xactAbort)
        return true;
    static const QList<int> conversion = {241, 242, 245, 8114};
    if (conversion.contains(r.error->number))
        return true;
    if (r.verb == QLatin1String("EXEC"))
        return false;
    static const QList<int> statementOnly = {220,  229,  230,  262,  515,  547,
                                             2601, 2627, 2628, 8115, 8134, 8152};
    return !statementOnly.contains(r.error->number);
}

} // namespace

// ---------------------------------------------------------------------------------------------

Engine::Engine(const QString &path, bool demo) : d(std::make_unique<Private>())
{
    const QByteArray file = path.isEmpty() ? QByteArrayLiteral(":memory:") : path.toUtf8();
    const int rc =
        sqlite3_open_v2(file.constData(), &d->db,
                        SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE | SQLITE_OPEN_FULLMUTEX, nullptr);
    if (rc != SQLITE_OK) {
        const QString msg = QString::fromUtf8(d->db ? sqlite3_errmsg(d->db) : sqlite3_errstr(rc));
        throw std::runtime_error(QStringLiteral("Cannot open the database %1: %2")
                                     .arg(path.isEmpty() ? QStringLiteral("in memory") : path, msg)
                                     .toStdString());
    }
    // A double-quoted word is always a name, as on the server, never a string.
    sqlite3_db_config(d->db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(d->db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
    sqlite3_busy_timeout(d->db, 5000);
    sqlite3_progress_handler(d->db, 10000, &Private::progress, d.get());
    try {
        collation::install(d->db);
        dates::install(d->db, &d->dateFormat);
        values::install(d->db, &d->nullEliminated);
        functions::install(d->db);
        constraints::registerFunctions(d->db, &d->compatibilityLevel);
        schema::create(d->db);
        constraints::install(d->db, d->checksVersion);
        if (demo && schema::isEmpty(d->db))
            demo::fill(d->db, QDate::currentDate());
    } catch (const db::Error &e) {
        throw std::runtime_error(e.message().toStdString());
    }
    d->authorizer.install(d->db);
}

Engine::~Engine() = default;

LoginOutcome Engine::login(const QString &user, const QString &password, const QString &database)
{
    std::lock_guard lock(d->mutex);
    LoginOutcome out;
    std::optional<Account> account;
    try {
        account = d->account(user);
    } catch (const std::exception &) {
        account.reset();
    }
    if (!account || account->password != password) {
        out.verdict = LoginVerdict::BadCredentials;
        out.error = sqlerr::make(18456, 14, 1, QStringLiteral("Login failed for user '%1'.").arg(user));
        return out;
    }
    const QString wanted = database.isEmpty() ? account->database : database;
    if (wanted.compare(sqlerr::kDatabase, Qt::CaseInsensitive) != 0) {
        out.verdict = LoginVerdict::UnknownDatabase;
        out.error = sqlerr::make(
            4060, 11, 1,
            QStringLiteral("Cannot open database \"%1\" requested by the login. The login failed.")
                .arg(wanted));
        return out;
    }
    out.verdict = LoginVerdict::Ok;
    out.database = sqlerr::kDatabase;
    return out;
}

BatchResult Engine::execute(Session &session, const QString &sql, const QList<Parameter> &params,
                            BatchObserver *observer)
{
    std::unique_lock lock(d->mutex);
    BatchResult out;
    Private::Run run{&lock, observer, false};
    d->running = &run;
    // Hands the statement to the observer without the lock; false when the batch is to stop.
    const auto hand = [&](const StatementResult &r, bool last) {
        if (!observer || run.cancelled)
            return !run.cancelled;
        lock.unlock();
        const bool goOn = observer->completed(r, last);
        lock.lock();
        d->running = &run;
        run.cancelled = !goOn;
        return goOn;
    };
    try {
        constraints::install(d->db, d->checksVersion);
        tsql::ParameterTypes parameterTypes;
        for (const Parameter &p : params) {
            // A call that declares no type (the engine's own callers) gives the value's.
            QString type = p.type;
            if (type.isEmpty()) {
                if (const auto *n = std::get_if<qint64>(&p.value))
                    type =
                        *n >= std::numeric_limits<qint32>::min() && *n <= std::numeric_limits<qint32>::max()
                            ? QStringLiteral("int")
                            : QStringLiteral("bigint");
                else if (std::holds_alternative<double>(p.value))
                    type = QStringLiteral("float");
                else if (const auto *t = std::get_if<QString>(&p.value))
                    type = t->size() > 4000
                               ? QStringLiteral("nvarchar(max)")
                               : QStringLiteral("nvarchar(%1)").arg(qMax<qsizetype>(1, t->size()));
                else if (const auto *b = std::get_if<QByteArray>(&p.value))
                    type = b->size() > 8000
                               ? QStringLiteral("varbinary(max)")
                               : QStringLiteral("varbinary(%1)").arg(qMax<qsizetype>(1, b->size()));
                else
                    type = QStringLiteral("int");
            }
            parameterTypes.insert((p.name.startsWith(u'@') ? p.name.mid(1) : p.name).toLower(), type);
        }
        const tsql::Batch batch = tsql::parse(
            sql, [this](const QString &table) { return d->tableColumns(table); }, parameterTypes);
        if (batch.error) {
            StatementResult r;
            r.error = batch.error;
            out.statements.append(r);
            hand(r, true);
            d->running = nullptr;
            return out;
        }
        permissions::Role role = permissions::Role::None;
        if (const auto account = d->account(session.login))
            role = account->role;
        for (qsizetype i = 0; i < batch.statements.size(); ++i) {
            const tsql::Statement &st = batch.statements.at(i);
            d->dateFormat = session.dateFormat;
            StatementResult r = d->run(session, role, st, params);
            if (r.verb.isEmpty())
                r.verb = st.verb;
            r.noCount = session.noCount;
            for (StatementResult &inner : r.inner)
                inner.noCount = session.noCount;
            out.statements.append(r);
            if (run.cancelled)
                break; // a procedure's pause was cut short: nothing more runs, nothing more is told
            const bool ends = endsBatch(r, session) || i + 1 == batch.statements.size();
            if (!hand(r, ends) || ends)
                break;
        }
    } catch (const db::Error &e) {
        d->timing = false;
        d->authorizer.allowAll();
        StatementResult r;
        r.error = sqlerr::fromSqlite(e.code(), e.message(), 1);
        out.statements.append(r);
    } catch (const std::exception &e) {
        d->timing = false;
        d->authorizer.allowAll();
        StatementResult r;
        // A failure of the sandbox itself: what it cannot do, never a user's error number.
        r.error =
            sqlerr::notSupported(QStringLiteral("this statement (%1)").arg(QString::fromUtf8(e.what())), 1);
        out.statements.append(r);
        if (lock.owns_lock())
            hand(r, true);
    } catch (...) {
        d->timing = false;
        d->authorizer.allowAll();
        StatementResult r;
        r.error = sqlerr::notSupported(QStringLiteral("this statement"), 1);
        out.statements.append(r);
        if (lock.owns_lock())
            hand(r, true);
    }
    out.cancelled = run.cancelled;
    d->running = nullptr;
    return out;
}

void Engine::setCompatibilityLevel(int level)
{
    std::lock_guard lock(d->mutex);
    d->compatibilityLevel = level;
}

int Engine::compatibilityLevel() const
{
    std::lock_guard lock(d->mutex);
    return d->compatibilityLevel;
}

void Engine::setProcedurePause(int ms)
{
    std::lock_guard lock(d->mutex);
    d->procedurePauseMs = qMax(0, ms);
}

void Engine::scriptNextGetUserRow(const QList<Value> &row)
{
    std::lock_guard lock(d->mutex);
    d->scriptedGetUser = row.isEmpty() ? procedures::getUserResult({}) : procedures::getUserResult({row});
}

void Engine::scriptNextGetUserResult(const ResultSet &result)
{
    std::lock_guard lock(d->mutex);
    d->scriptedGetUser = result;
}

void Engine::setToday(const QDate &date)
{
    std::lock_guard lock(d->mutex);
    d->today = date;
}

ResultSet Engine::sqlite(const QString &sql, const QList<Value> &params)
{
    std::lock_guard lock(d->mutex);
    d->authorizer.allowAll();
    ResultSet last;
    QString rest = sql;
    while (!rest.trimmed().isEmpty()) {
        db::Statement st(d->db, rest);
        if (st.isEmpty())
            break;
        st.bind(params);
        ResultSet rs = st.fetchAll();
        if (!rs.columns.isEmpty())
            last = rs;
        rest = st.tail();
    }
    constraints::install(d->db, d->checksVersion);
    return last;
}

} // namespace sandbox
