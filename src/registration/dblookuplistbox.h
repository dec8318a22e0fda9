#pragma once
// A lookup list box: the list field of every row of a data source, one row current. It is bound to
// the rows, not to a field: choosing a row sets the list's key and raises Click(); nothing is
// written anywhere.
//
// The key is Null at creation and Null means that nothing is chosen. Setting a key equal to the one
// held does nothing; otherwise the first row with that key becomes current and is highlighted, or,
// when the key is Null or no row has it, the first row becomes current and no row is highlighted.
// The current entry text is the current row's text, taken each time the key is set and each time the
// rows open (when the list looks for its key again); it is empty when at that moment the rows are
// closed or there is no row, and closing the rows later leaves it as it was.
//
// Choices (each raises Click() after the key has been set, also when the same row is chosen again):
// a mouse press on a row (below the last row: the last row; in an empty list: Null); Up and Left,
// Down and Right (the row before or after the current one), Page Up and Page Down (a page less one
// row), Home and End; typing (the first entry that begins with the typed text). A disabled list, or
// one whose rows are closed, chooses nothing: a press then only gives it the focus.
//
// An entry too wide for the list is cut short with "…"; its whole text is then its tool tip and its
// accessible description.
//
// The data source is not owned; the model shown is its query's, row for row. GUI thread only.

#include "db/adoquery.h"
#include "dblookuprows.h"
#include "typeaheadsearch.h"

#include <QListView>

class QIdentityProxyModel;

class TDBLookupListBox : public QListView {
    Q_OBJECT
public:
    explicit TDBLookupListBox(QWidget *parent = nullptr);

    void setListSource(TDataSource *source);
    TDataSource *ListSource() const { return m_rows.listSource(); }
    void setKeyField(const QString &name);
    QString KeyField() const { return m_rows.keyField(); }
    void setListField(const QString &name);
    QString ListField() const { return m_rows.listField(); }

    Key KeyValue() const { return m_key; }
    void setKeyValue(const Key &key);
    QString currentEntryText() const { return m_entryText; }
    // Whether the key is the key of a row the list holds: never for Null, never while the rows are
    // closed. While it is, the current entry text is that row's text.
    bool KeyInRows() const;

    // The current row, -1 while the rows are closed or empty.
    int currentRow() const;
    // The highlighted row, -1 when no row is.
    int highlightedRow() const;
    // Whether the list draws the row's text cut short, at its width now.
    bool entryIsCut(int row) const;

Q_SIGNALS:
    // A choice; the key is already set.
    void Click();
    // Each key pressed while the list has the focus, before the list acts on it (keys that move the
    // focus to another control excepted).
    void KeyDown(QKeyEvent *event);
    // A double click on the current row; the click before it has already chosen the row.
    void DblClick();
    // The key changed, set from code or by a choice (before that choice's Click()).
    void keyValueChanged();
    // The key changed or the rows opened or closed: KeyInRows() may have changed.
    void keyRowChanged();

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void keyboardSearch(const QString &) override {}

private:
    void rowsOpened();
    void rowsClosed();
    void findKey();
    void showRow(int row, bool highlighted);
    void chooseRow(int row);
    void storeKey(const Key &key);
    void moveBy(int delta);
    bool canChoose() const;
    int rowAt(const QPoint &pos) const;
    int pageRows() const;

    LookupRows m_rows;
    QIdentityProxyModel *m_wholeText; // the rows shown, with their whole texts; owned
    Key m_key;
    QString m_entryText;
    TypeAheadSearch m_search;
};
