#pragma once
// The rows a lookup list offers: the rows of its data source's query, read through the query's
// model, each with a key (the key field) and a text (the list field). Shared by the drop-down list
// and the list box, which own one each. GUI thread only.

#include "db/adoquery.h"

#include <QObject>
#include <QPointer>
#include <QString>

class LookupRows : public QObject {
    Q_OBJECT
public:
    explicit LookupRows(QObject *parent = nullptr);

    // The data source is not owned; the list forgets it when it goes.
    void setListSource(TDataSource *source);
    TDataSource *listSource() const { return m_source; }
    void setKeyField(const QString &name);
    const QString &keyField() const { return m_keyField; }
    void setListField(const QString &name);
    const QString &listField() const { return m_listField; }

    // The query's model; null without a source.
    QueryModel *model() const;
    // Whether the query's rows are open.
    bool active() const;
    // 0 while the rows are closed.
    int count() const;
    // The column of the list field, -1 when there is none (also while closed).
    int listColumn() const;
    // Whether the list field holds text, which type-ahead needs.
    bool listFieldIsText() const;

    Key keyAt(int row) const;
    QString textAt(int row) const;
    // The first row whose key equals key; -1 for Null, which no row matches.
    int rowOfKey(const Key &key) const;
    // The first row whose text begins with prefix, case ignored; -1 when none does.
    int firstRowStartingWith(const QString &prefix) const;

Q_SIGNALS:
    // The rows were opened, or the binding changed while they are open: the lists look for their
    // key again.
    void rowsOpened();
    void rowsClosed();

private:
    QVariant valueAt(int row, const QString &field) const;
    Key keyIn(int row, int column) const;
    void bindingChanged();

    QPointer<TDataSource> m_source;
    QPointer<TADOQuery> m_query;
    QString m_keyField;
    QString m_listField;
};
