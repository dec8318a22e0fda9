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
    QueryModel *rows = m_query->model();
    const int column = rows->columnOf(field);
    if (column < 0)
        return {};
    return rows->data(rows->index(row, column));
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
    const QVariant v = valueAt(row, m_keyField);
    if (v.isNull())
        return std::nullopt;
    bool ok = false;
    const qint32 key = v.toInt(&ok);
    return ok ? Key(key) : std::nullopt;
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
    for (int row = 0; row < count(); ++row) {
        if (keyAt(row) == key)
            return row;
    }
    return -1;
}

int LookupRows::firstRowStartingWith(const QString &prefix) const
{
    for (int row = 0; row < count(); ++row) {
        if (textAt(row).startsWith(prefix, Qt::CaseInsensitive))
            return row;
    }
    return -1;
}
