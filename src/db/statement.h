#pragma once
// One round trip to the server: a statement text with positional parameters, run forward-only so
// that the driver needs no server cursor, its first result set read whole into the client, and the
// statement finished before the call returns. Several row sets can thus be held on the one connection.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

class TADOConnection;

struct RowSet {
    QStringList columns;
    QList<QList<QVariant>> rows;
};

// Runs text on the open connection. With parameters, each '?' of text takes the next value; a null
// QVariant of a type travels as SQL NULL of that type. Without parameters the text is sent unchanged
// as a batch. Throws DatabaseError with the server's or the driver's text.
RowSet runStatement(TADOConnection &connection, const QString &text, const QList<QVariant> &parameters);

// A statement text with ":name" markers in it, as the system writes them, and the same text with each
// marker replaced by '?' and the names in order of appearance.
struct MarkedText {
    QString text;
    QStringList names;
};
MarkedText replaceParameterMarkers(const QString &text);
