#pragma once
// A drop-down lookup list: a closed control that shows the text of the row whose key it holds, with
// an arrow, and a list that drops down under it. It is bound to the rows of a data source, not to a
// field: choosing an entry sets the list's key and raises Click(); nothing is written anywhere.
//
// The key is Null at creation and Null means that nothing is chosen. Setting a key equal to the one
// held does nothing; otherwise the shown text becomes the text of the first row with that key, or
// empty text. When the rows close the shown text becomes empty; when they open again the list looks
// for the key it holds.
//
// Choices (each raises Click() after the key has been set, also when the same entry is chosen
// again): a mouse release on an entry of the open list (below the last entry: the last one; in an
// empty list: Null); Enter, or Alt+Up/Alt+Down, while it is open (the highlighted entry, or the key
// held when none is highlighted); Up and Down while it is closed (the previous or next row, the first
// row when the key is not among the rows, Null when there is no row); typing while it is closed (the
// first entry that begins with the typed text). Escape, a press on the control or outside the open
// list, and a release outside it close the list without a choice. A disabled list, or one whose rows
// are closed, chooses nothing.
//
// The open list never takes the keyboard focus. Opened by the user (a press, Alt+Down) it holds the
// keyboard and the mouse while it is open, and the keys come to this control, which has the focus.
// Opened from code (DropDown(), as a choice in another list does) it holds neither: the control that
// has the focus keeps it and gets the keys (so its own Up and Down still choose, and Enter and Escape
// act only on a list of its own that is open), a press outside the list closes it without a choice,
// and a press on an entry chooses as ever.
//
// Assistive technology reads it as a combo box whose value is the shown text.
//
// Owns its drop-down; the data source is not owned. GUI thread only.

#include "db/adoquery.h"
#include "dblookuprows.h"
#include "typeaheadsearch.h"

#include <QWidget>

class LookupDropDown;

class TDBLookupComboBox : public QWidget {
    Q_OBJECT
public:
    explicit TDBLookupComboBox(QWidget *parent = nullptr);
    ~TDBLookupComboBox() override;

    void setListSource(TDataSource *source);
    TDataSource *ListSource() const { return m_rows.listSource(); }
    void setKeyField(const QString &name);
    QString KeyField() const { return m_rows.keyField(); }
    void setListField(const QString &name);
    QString ListField() const { return m_rows.listField(); }
    // The most rows the open list shows at once (7 unless set).
    void setDropDownRows(int rows);
    int DropDownRows() const { return m_dropDownRows; }

    Key KeyValue() const { return m_key; }
    void setKeyValue(const Key &key);
    // The shown text.
    QString Text() const { return m_text; }

    // Opens the list under the control (above it when the screen has no room below), as wide as the
    // control, with the row of the key highlighted. Does nothing while the rows are closed, the list
    // is open or the control is disabled. The focus and the keyboard stay where they are.
    void DropDown();
    // Closes the open list; with accept, the highlighted entry is chosen.
    void CloseUp(bool accept);
    bool ListVisible() const;

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

Q_SIGNALS:
    // A choice; the key is already set.
    void Click();
    // The focus left the control (not when its own list opened).
    void Exit();

protected:
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
    void changeEvent(QEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    friend class LookupDropDown;

    void openList(bool byUser);
    void choose(const Key &key);
    void chooseFromList(int row);
    void stepChoice(int delta);
    void keyPressWhileOpen(QKeyEvent *event);
    bool canChoose() const;
    void rowsOpened();
    void rowsClosed();
    void findShownText();
    void setShownText(const QString &text);

    LookupRows m_rows;
    Key m_key;
    QString m_text;
    int m_dropDownRows = 7;
    TypeAheadSearch m_search;
    LookupDropDown *m_dropDown;
};
