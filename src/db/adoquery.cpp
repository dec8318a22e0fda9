#include "adoquery.h"

#include "adoconnection.h"
#include "databaseerror.h"
#include "texts.h"

#include <algorithm>

QVariant keyValue(const Key &key)
{
    return key ? QVariant(*key) : QVariant(QMetaType::fromType<qint32>());
}

QueryModel::QueryModel(TADOQuery *query) : QAbstractTableModel(query), m_query(query) {}

int QueryModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_query->RecordCount();
}

int QueryModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : m_query->rows().columnCount();
}

QVariant QueryModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || (role != Qt::DisplayRole && role != Qt::EditRole))
        return {};
    return m_query->rows().value(index.row(), index.column());
}

QVariant QueryModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole || section >= m_query->rows().columnCount())
        return {};
    return m_query->rows().columns()[section];
}

int QueryModel::columnOf(const QString &fieldName) const
{
    const QStringList &columns = m_query->rows().columns();
    for (int i = 0; i < columns.size(); ++i) {
        if (columns[i].compare(fieldName, Qt::CaseInsensitive) == 0)
            return i;
    }
    return -1;
}

TADOQuery::TADOQuery(TADOConnection *connection, QObject *parent)
    : QObject(parent), m_connection(connection), m_model(this)
{
    // The rows of every query on a connection go when the connection closes.
    connect(connection, &TADOConnection::aboutToClose, this, &TADOQuery::Close);
}

void TADOQuery::setSQL(const QStringList &lines)
{
    Close();
    m_lines = lines;
    m_parameters.clear();
    for (const QString &name : replaceParameterMarkers(commandText()).names) {
        const bool known = std::any_of(m_parameters.cbegin(), m_parameters.cend(), [&](const Parameter &p) {
            return p.name.compare(name, Qt::CaseInsensitive) == 0;
        });
        if (!known)
            m_parameters.append({name, QVariant()});
    }
}

QString TADOQuery::commandText() const
{
    QString text;
    for (const QString &line : m_lines)
        text += line + QLatin1String("\r\n");
    return text;
}

QStringList TADOQuery::parameterNames() const
{
    QStringList names;
    for (const Parameter &p : m_parameters)
        names.append(p.name);
    return names;
}

void TADOQuery::setParameter(const QString &name, const QVariant &value)
{
    for (Parameter &p : m_parameters) {
        if (p.name.compare(name, Qt::CaseInsensitive) == 0) {
            p.value = value;
            return;
        }
    }
    throw DatabaseError(dbtext::parameterNotFound(name));
}

QVariant TADOQuery::parameter(const QString &name) const
{
    for (const Parameter &p : m_parameters) {
        if (p.name.compare(name, Qt::CaseInsensitive) == 0)
            return p.value;
    }
    return {};
}

QList<QVariant> TADOQuery::boundValues(const MarkedText &marked) const
{
    QList<QVariant> values;
    values.reserve(marked.names.size());
    for (const QString &name : marked.names) {
        QVariant v = parameter(name);
        // A parameter never given a value is Null; it travels as an integer NULL like a Null key.
        values.append(v.metaType().isValid() ? v : keyValue(std::nullopt));
    }
    return values;
}

RowSet TADOQuery::run() const
{
    m_connection->Open();
    const MarkedText marked = replaceParameterMarkers(commandText());
    RowSet rows = m_connection->execute(marked.text, boundValues(marked));
    if (rows.columns().isEmpty())
        throw DatabaseError(dbtext::noResultSet());
    return rows;
}

void TADOQuery::Open()
{
    if (m_active)
        return;
    show(run());
}

void TADOQuery::Refresh()
{
    show(run());
}

void TADOQuery::show(RowSet rows)
{
    m_model.beginResetModel();
    m_rows = std::move(rows);
    m_active = true;
    m_current = m_rows.isEmpty() ? -1 : 0;
    m_model.endResetModel();
    Q_EMIT opened();
    Q_EMIT currentRowChanged(m_current);
}

void TADOQuery::Close()
{
    if (!m_active)
        return;
    m_model.beginResetModel();
    m_rows = RowSet();
    m_active = false;
    m_current = -1;
    m_model.endResetModel();
    Q_EMIT closed();
    Q_EMIT currentRowChanged(m_current);
}

void TADOQuery::ExecSQL()
{
    m_connection->Open();
    const MarkedText marked = replaceParameterMarkers(commandText());
    m_connection->execute(marked.text, boundValues(marked));
}

void TADOQuery::setCurrentRow(int row)
{
    const int current = (row >= 0 && row < RecordCount()) ? row : -1;
    if (current == m_current)
        return;
    m_current = current;
    Q_EMIT currentRowChanged(m_current);
}

QVariant TADOQuery::valueAt(int column) const
{
    if (m_active && (column < 0 || column >= m_rows.columnCount()))
        throw DatabaseError(dbtext::columnOutOfBounds(column));
    if (Eof())
        return {};
    return m_rows.value(m_current, column);
}

QString TADOQuery::fieldAsString(int column) const
{
    const QVariant v = valueAt(column);
    return v.isNull() ? QString() : v.toString();
}

qint32 TADOQuery::fieldAsInteger(int column) const
{
    const QVariant v = valueAt(column);
    if (v.isNull())
        return 0;
    bool ok = false;
    const qint32 n = v.toInt(&ok);
    if (!ok)
        throw DatabaseError(dbtext::notAnInteger(v.toString()));
    return n;
}

QVariant TADOQuery::FieldByName(const QString &name) const
{
    const int column = m_model.columnOf(name);
    if (column < 0 && m_active)
        throw DatabaseError(dbtext::fieldNotFound(name));
    const QVariant v = valueAt(column);
    return v.isNull() ? QVariant() : v;
}
