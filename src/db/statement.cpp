#include "statement.h"

#include "adoconnection.h"
#include "databaseerror.h"

#include <QSqlDriver>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

bool isNameChar(QChar c)
{
    return c.isLetterOrNumber() || c == QLatin1Char('_');
}

} // namespace

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

RowSet runStatement(TADOConnection &connection, const QString &text, const QList<QVariant> &parameters)
{
    QSqlQuery query(connection.database());
    query.setForwardOnly(true);
    if (parameters.isEmpty()) {
        // Sent as a batch, exactly as written.
        if (!query.exec(text))
            throw databaseErrorOf(query.lastError());
    } else {
        if (!query.prepare(text))
            throw databaseErrorOf(query.lastError());
        for (const QVariant &value : parameters)
            query.addBindValue(value);
        if (!query.exec())
            throw databaseErrorOf(query.lastError());
    }

    RowSet rows;
    if (query.isSelect()) {
        const QSqlRecord record = query.record();
        const int count = record.count();
        rows.columns.reserve(count);
        for (int i = 0; i < count; ++i)
            rows.columns.append(record.fieldName(i));
        while (query.next()) {
            QList<QVariant> row;
            row.reserve(count);
            for (int i = 0; i < count; ++i)
                row.append(query.value(i));
            rows.rows.append(std::move(row));
        }
        // A connection lost in the middle of the rows ends the loop early with an error.
        if (query.lastError().isValid())
            throw databaseErrorOf(query.lastError());
    }
    query.finish();
    return rows;
}
