#pragma once
// What a statement read: the rows of its first result set, held on the client.

#include <QList>
#include <QMetaType>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <optional>
#include <vector>

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
