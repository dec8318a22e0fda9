#include "dblookuprows.h"

LookupRows::LookupRows(QObject *parent) : QObject(parent) {}

void LookupRows::setListSource(TDataSource *source)
{
    if (m_query)
        disconnect(m_query, nullptr, this, nullptr);
    m_source = source;
    m_query = source ? source->DataSet() : nullptr;
    if (m_query) {
        connect(m_query, &TADOQuery::opened, this, &LookupRows::rowsOpened);
        connect(m_query, &TADOQuery::closed, this, &LookupRows::rowsClosed);
    }
    bindingChanged();
}

void LookupRows::setKeyField(const QString &name)
{
    m_keyField = name;
    bindingChanged();
}

void LookupRows::setListField(const QString &name)
{
    m_listField = name;
    bindingChanged();
}

void LookupRows::bindingChanged()
{
    if (active())
        Q_EMIT rowsOpened();
    else
        Q_EMIT rowsClosed();
}

QueryModel *LookupRows::model() const
{
    return m_query ? m_query->model() : nullptr;
}

bool LookupRows::active() const
{
    return m_query && m_query->Active();
}

int LookupRows::count() const
{
    return active() ? m_query->RecordCount() : 0;
}

int LookupRows::listColumn() const
{
    return active() ? m_query->model()->columnOf(m_listField) : -1;
}

QVariant LookupRows::valueAt(int row, const QString &field) const
{
    if (row < 0 || row >= count())
        return {};
    return m_query->rows().value(row, m_query->model()->columnOf(field));
}

Key LookupRows::keyIn(int row, int column) const
{
    // An integer key is read as it is stored; anything else as the number it reads as.
    if (const std::optional<qint32> key = m_query->rows().integerAt(row, column))
        return key;
    const QVariant v = m_query->rows().value(row, column);
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const qint32 key = v.toInt(&ok);
    return ok ? Key(key) : std::nullopt;
}

bool LookupRows::listFieldIsText() const
{
    for (int row = 0; row < count(); ++row) {
        const QVariant v = valueAt(row, m_listField);
        if (!v.isNull())
            return v.typeId() == QMetaType::QString;
    }
    return false;
}

Key LookupRows::keyAt(int row) const
{
    if (row < 0 || row >= count())
        return std::nullopt;
    return keyIn(row, m_query->model()->columnOf(m_keyField));
}

QString LookupRows::textAt(int row) const
{
    const QVariant v = valueAt(row, m_listField);
    return v.isNull() ? QString() : v.toString();
}

int LookupRows::rowOfKey(const Key &key) const
{
    if (!key)
        return -1;
    // The key's column is looked up once: a list may hold tens of thousands of rows.
    const int rows = count();
    const int column = rows > 0 ? m_query->model()->columnOf(m_keyField) : -1;
    for (int row = 0; row < rows; ++row) {
        if (keyIn(row, column) == key)
            return row;
    }
    return -1;
}

int LookupRows::firstRowStartingWith(const QString &prefix) const
{
    const int rows = count();
    const int column = rows > 0 ? m_query->model()->columnOf(m_listField) : -1;
    for (int row = 0; row < rows; ++row) {
        const QVariant v = m_query->rows().value(row, column);
        if (!v.isNull() && v.toString().startsWith(prefix, Qt::CaseInsensitive))
            return row;
    }
    return -1;
}
