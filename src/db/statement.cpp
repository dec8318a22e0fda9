#include "statement.h"

#include "adoconnection.h"
#include "databaseerror.h"
#include "odbcresults.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlField>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

} // namespace

void RowSet::addColumn(const QString &name, QMetaType type)
{
    Column column;
    column.type = type;
    if (type == QMetaType::fromType<qint32>())
        column.storage = Storage::Integer;
    else if (type == QMetaType::fromType<QString>())
        column.storage = Storage::Text;
    m_names.append(name);
    m_columns.push_back(std::move(column));
}

void RowSet::appendRow(const QList<QVariant> &values)
{
    for (size_t i = 0; i < m_columns.size(); ++i) {
        Column &column = m_columns[i];
        const QVariant &value = values.at(qsizetype(i));
        const bool null = value.isNull();
        column.nulls.push_back(null);
        switch (column.storage) {
        case Storage::Integer:
            column.integers.append(null ? 0 : value.toInt());
            break;
        case Storage::Text:
            if (!null)
                column.text.append(value.toString());
            column.textEnds.append(qint32(column.text.size()));
            break;
        case Storage::Variant:
            column.variants.append(value);
            break;
        }
    }
    ++m_rowCount;
}

QVariant RowSet::value(int row, int column) const
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= columnCount())
        return {};
    const Column &c = m_columns[size_t(column)];
    if (c.nulls[size_t(row)])
        return QVariant(c.type);
    switch (c.storage) {
    case Storage::Integer:
        return QVariant(c.integers[row]);
    case Storage::Text: {
        const qsizetype begin = row > 0 ? c.textEnds[row - 1] : 0;
        return QVariant(c.text.mid(begin, c.textEnds[row] - begin));
    }
    case Storage::Variant:
        break;
    }
    return c.variants[row];
}

std::optional<qint32> RowSet::integerAt(int row, int column) const
{
    if (row < 0 || row >= m_rowCount || column < 0 || column >= columnCount())
        return std::nullopt;
    const Column &c = m_columns[size_t(column)];
    if (c.storage != Storage::Integer || c.nulls[size_t(row)])
        return std::nullopt;
    return c.integers[row];
}

MarkedText replaceParameterMarkers(const QString &text)
{
    MarkedText marked;
    if (!text.contains(QLatin1Char(':'))) {
        marked.text = text;
        return marked;
    }
    marked.text.reserve(text.size());
    // Quoted texts and names are copied as they are: a colon inside '...', "..." or [...] is data.
    QChar closing;
    for (qsizetype i = 0; i < text.size(); ++i) {
        const QChar c = text[i];
        if (!closing.isNull()) {
            if (c == closing)
                closing = QChar();
            marked.text.append(c);
        } else if (c == QLatin1Char('\'') || c == QLatin1Char('"')) {
            closing = c;
            marked.text.append(c);
        } else if (c == QLatin1Char('[')) {
            closing = QLatin1Char(']');
            marked.text.append(c);
        } else if (c == QLatin1Char(':') && i + 1 < text.size() && isNameChar(text[i + 1])) {
            qsizetype end = i + 1;
            while (end < text.size() && isNameChar(text[end]))
                ++end;
            marked.names.append(text.mid(i + 1, end - i - 1));
            marked.text.append(QLatin1Char('?'));
            i = end - 1;
        } else {
            marked.text.append(c);
        }
    }
    return marked;
}

namespace {

// Whether the driver has lost the connection: its SQLSTATE class 08, or FreeTDS's own texts for a
// server gone away or a reset socket. A command cut off by the time limit is not among them: the
// driver cancels it and the connection goes on; when the server never confirms the cancel the
// driver gives the connection up, and odbc::connectionDead() says so.
bool connectionLost(const DatabaseError &error)
{
    return error.state().startsWith(QLatin1String("08")) ||
           error.message().contains(QLatin1String("Communication link failure")) ||
           error.message().contains(QLatin1String("Unexpected EOF")) ||
           error.message() == QLatin1String("Unknown error") || // FreeTDS: the socket was reset
           error.message() == QLatin1String("Unspecified error");
}

// The error the user is shown for a lost connection: the driver's own words where it has some, the
// standard words for a broken link and the server's address where it has none.
DatabaseError lostConnectionError(const DatabaseError &error, const TADOConnection &connection)
{
    if (error.message() != QLatin1String("Unknown error") &&
        error.message() != QLatin1String("Unspecified error"))
        return error;
    return DatabaseError(
        QStringLiteral("Communication link failure: the connection to the server %1 was lost.")
            .arg(connection.properties().dataSource),
        QStringLiteral("08S01"));
}

bool isSessionStatement(const QString &text)
{
    return text.trimmed().startsWith(QLatin1String("SET "), Qt::CaseInsensitive);
}

} // namespace

RowSet runStatement(TADOConnection &connection, const QString &text, const QList<QVariant> &parameters)
{
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    // A lost connection is closed, so that the next statement opens it again instead of failing on
    // a connection that only looks open.
    const auto failure = [&](const DatabaseError &error) {
        const QSqlDriver *driver = connection.database().driver();
        if (!connectionLost(error) && !(driver && odbc::connectionDead(driver->handle())))
            return error;
        const DatabaseError lost = lostConnectionError(error, connection);
        query.clear();
        connection.ConnectionLost();
        return lost;
    };
    // The statement's own diagnostics name the first error alone; Qt's text joins every message,
    // INFO messages of the server included.
    const auto queryFailure = [&] {
        void *statement = odbc::statementHandle(query);
        const std::optional<DatabaseError> error = statement ? odbc::statementError(statement) : std::nullopt;
        return failure(error ? *error : databaseErrorOf(query.lastError()));
    };
    if (parameters.isEmpty()) {
        // Sent as a batch, exactly as written.
        if (!query.exec(text))
            throw queryFailure();
    } else {
        if (!query.prepare(text))
            throw queryFailure();
        for (const QVariant &value : parameters)
            query.addBindValue(value);
        if (!query.exec())
            throw queryFailure();
    }
    void *statement = odbc::statementHandle(query);
    if (!statement)
        throw DatabaseError(QStringLiteral("The database driver gives no access to its statement (QODBC)."));

    // The first result set is the statement's: counts and messages before it are passed over.
    while (!query.isSelect() && query.nextResult()) {
    }
    if (query.lastError().isValid())
        throw queryFailure();

    RowSet rows;
    if (query.isSelect()) {
        const QSqlRecord record = query.record();
        const int count = record.count();
        QList<QMetaType> types;
        for (int i = 0; i < count; ++i) {
            rows.addColumn(record.fieldName(i), record.field(i).metaType());
            types.append(record.field(i).metaType());
        }
        // Qt moves from row to row; the values are read from the statement itself, each column once
        // and in order.
        QList<QVariant> row(count);
        while (query.next()) {
            try {
                for (int i = 0; i < count; ++i)
                    row[i] = odbc::readColumn(statement, i, types[i]);
            } catch (const DatabaseError &error) {
                throw failure(error);
            }
            rows.appendRow(row);
        }
        // A connection lost in the middle of the rows ends the loop early with an error.
        if (query.lastError().isValid())
            throw queryFailure();
    }
    // Whatever the server sent after the first result is read too: an error raised after a
    // statement counted its rows belongs to this statement.
    if (const std::optional<DatabaseError> error = odbc::drainResults(statement))
        throw failure(*error);
    query.finish();
    // SET statements shape the session; a session opened again after a loss gets them again.
    if (parameters.isEmpty() && isSessionStatement(text))
        connection.rememberSessionStatement(text);
    return rows;
}
