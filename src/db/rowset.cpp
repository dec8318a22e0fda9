#include "rowset.h"

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
