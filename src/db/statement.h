#pragma once
// One round trip to the server: a statement text with positional parameters, run at once (a batch
// without parameters, sp_executesql with them) so that the server keeps no cursor and no prepared
// statement for it, its first result set read whole into the client, and the statement finished
// before the call returns. Several row sets can thus be held on the one connection.

#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <vector>

class TADOConnection;

// The rows of a result held column by column: an integer column as 32-bit integers, a text column as
// one text with the end of each value in it, any other column as values. A list of 20,000 names thus
// takes little more than the names themselves, instead of a list and two values for every row.
// Values read back are those the driver gave: a Null is a null QVariant of the column's type.
class RowSet {
public:
    // Declares the next column: its name and the type of its values as the driver reports it.
    void addColumn(const QString &name, QMetaType type);
    // Appends a row: one value for each column, in order.
    void appendRow(const QList<QVariant> &values);

    const QStringList &columns() const { return m_names; }
    int columnCount() const { return int(m_names.size()); }
    int rowCount() const { return m_rowCount; }
    bool isEmpty() const { return m_rowCount == 0; }
    // A null QVariant outside the rows.
    QVariant value(int row, int column) const;
    // An integer column's value without a QVariant on the way; nullopt for Null, outside the rows and
    // for a column of another type.
    std::optional<qint32> integerAt(int row, int column) const;

private:
    enum class Storage { Integer, Text, Variant };
    struct Column {
        QMetaType type;
        Storage storage = Storage::Variant;
        std::vector<bool> nulls;
        QList<qint32> integers;
        QString text;
        QList<qint32> textEnds; // a list's text stays far below 2 GiB
        QList<QVariant> variants;
    };

    QStringList m_names;
    std::vector<Column> m_columns;
    int m_rowCount = 0;
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
