#pragma once
// A query on the connection: its statement text as a list of lines, named parameters written
// ":name", and the rows of its first result set held on the client. Opening fetches every row, so the
// record count is exact and the server has finished with the statement when Open() returns.
//
// Owned by the data module (or, for one operation, by its caller); GUI thread only.

#include "parameters.h"
#include "rowset.h"

#include <QAbstractTableModel>
#include <QObject>
#include <QStringList>
#include <QVariant>

#include <optional>

class TADOConnection;
class TADOQuery;

// A key value that may be Null (nothing chosen). Two Nulls are equal.
using Key = std::optional<qint32>;

// A key as a parameter value: Null travels as an integer NULL.
QVariant keyValue(const Key &key);

// The rows of a query as a table model, for the windows' lists. Columns carry the field names as
// horizontal headers; the model is reset whenever the query opens or closes.
class QueryModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit QueryModel(TADOQuery *query);
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role = Qt::DisplayRole) const override;
    // The column of a field, or -1.
    int columnOf(const QString &fieldName) const;

private:
    friend class TADOQuery;
    TADOQuery *m_query;
};

class TADOQuery : public QObject {
    Q_OBJECT
public:
    explicit TADOQuery(TADOConnection *connection, QObject *parent = nullptr);

    TADOConnection *connection() const { return m_connection; }

    // Replacing the text closes the query first and declares its parameters afresh, each Null.
    void setSQL(const QStringList &lines);
    const QStringList &SQL() const { return m_lines; }
    // The text sent: every line followed by CR LF.
    QString commandText() const;

    // The parameters in order of first appearance; a name written twice is one parameter.
    QStringList parameterNames() const;
    // Sets a parameter found by its name; throws DatabaseError for an unknown name.
    void setParameter(const QString &name, const QVariant &value);
    void setParameter(const QString &name, const Key &key) { setParameter(name, keyValue(key)); }
    QVariant parameter(const QString &name) const;

    // Runs the text and keeps its rows; does nothing when open. Opens the connection first when it is
    // closed. Throws DatabaseError; the query then stays closed.
    void Open();
    // Runs the text again and shows its rows in place of those it held, open or not. When the run
    // fails, the query keeps what it held (rows, or closed) and the error is thrown: what the user
    // saw last stays until the server's answer replaces it.
    void Refresh();
    // Its rows disappear; does nothing when closed.
    void Close();
    bool Active() const { return m_active; }
    // Runs the text as a statement that returns no rows.
    void ExecSQL();

    int RecordCount() const { return m_rows.rowCount(); }
    const RowSet &rows() const { return m_rows; }

    // The current row: the first after Open, -1 when there is none.
    int currentRow() const { return m_current; }
    void setCurrentRow(int row);
    bool Eof() const { return m_current < 0 || m_current >= RecordCount(); }

    // A column of the current row by position: Null and no row read as "" and 0. Reading a value that
    // is not an integer as one throws DatabaseError.
    QString fieldAsString(int column) const;
    qint32 fieldAsInteger(int column) const;
    // A column of the current row by name: a null QVariant when Null or when there is no row.
    // Throws DatabaseError for an unknown name while open.
    QVariant FieldByName(const QString &name) const;

    QueryModel *model() { return &m_model; }

Q_SIGNALS:
    void opened();
    void closed();
    void currentRowChanged(int row);

private:
    struct Parameter {
        QString name;
        QVariant value;
    };
    QVariant valueAt(int column) const;
    RowSet run() const;
    void show(RowSet rows);
    QList<QVariant> boundValues(const MarkedText &marked) const;

    TADOConnection *m_connection;
    QStringList m_lines;
    QList<Parameter> m_parameters;
    RowSet m_rows;
    bool m_active = false;
    int m_current = -1;
    QueryModel m_model;
};

// Connects a query to the window controls that show its rows.
class TDataSource : public QObject {
    Q_OBJECT
public:
    explicit TDataSource(TADOQuery *dataSet, QObject *parent = nullptr) : QObject(parent), m_dataSet(dataSet)
    {
    }
    TADOQuery *DataSet() const { return m_dataSet; }

private:
    TADOQuery *m_dataSet;
};
