#include "dblookuplistbox.h"

#include <QIdentityProxyModel>
#include <QKeyEvent>
#include <QMouseEvent>

// The rows as the list shows them. An entry too wide for the list is drawn cut short ("…"); its
// whole text is then its tool tip and its description to assistive technology, so that it can be
// read whole.
class WholeEntryText : public QIdentityProxyModel {
public:
    explicit WholeEntryText(TDBLookupListBox *list) : QIdentityProxyModel(list), m_list(list) {}

    QVariant data(const QModelIndex &index, int role) const override
    {
        if (role != Qt::ToolTipRole && role != Qt::AccessibleDescriptionRole)
            return QIdentityProxyModel::data(index, role);
        if (!index.isValid() || index.column() != m_list->modelColumn() || !m_list->entryIsCut(index.row()))
            return QVariant();
        return QIdentityProxyModel::data(index, Qt::DisplayRole);
    }

private:
    TDBLookupListBox *m_list;
};

TDBLookupListBox::TDBLookupListBox(QWidget *parent) : QListView(parent), m_wholeText(new WholeEntryText(this))
{
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setUniformItemSizes(true);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(&m_rows, &LookupRows::rowsOpened, this, &TDBLookupListBox::rowsOpened);
    connect(&m_rows, &LookupRows::rowsClosed, this, &TDBLookupListBox::rowsClosed);
}

void TDBLookupListBox::setListSource(TDataSource *source)
{
    m_wholeText->setSourceModel(source ? source->DataSet()->model() : nullptr);
    setModel(source ? m_wholeText : nullptr);
    m_rows.setListSource(source);
}

void TDBLookupListBox::setKeyField(const QString &name)
{
    m_rows.setKeyField(name);
}

void TDBLookupListBox::setListField(const QString &name)
{
    m_rows.setListField(name);
}

void TDBLookupListBox::setKeyValue(const Key &key)
{
    if (key == m_key)
        return;
    m_key = key;
    findKey();
    Q_EMIT keyValueChanged();
    Q_EMIT keyRowChanged();
}

void TDBLookupListBox::storeKey(const Key &key)
{
    if (key == m_key)
        return;
    m_key = key;
    Q_EMIT keyValueChanged();
    Q_EMIT keyRowChanged();
}

void TDBLookupListBox::rowsOpened()
{
    m_search.clear();
    setModelColumn(qMax(0, m_rows.listColumn()));
    findKey();
    Q_EMIT keyRowChanged();
}

void TDBLookupListBox::rowsClosed()
{
    Q_EMIT keyRowChanged();
}

bool TDBLookupListBox::KeyInRows() const
{
    return m_rows.rowOfKey(m_key) >= 0;
}

void TDBLookupListBox::findKey()
{
    if (m_rows.count() == 0) {
        showRow(-1, false);
        m_entryText.clear();
        return;
    }
    const int found = m_rows.rowOfKey(m_key);
    const int row = found >= 0 ? found : 0;
    showRow(row, found >= 0);
    m_entryText = m_rows.textAt(row);
}

int TDBLookupListBox::currentRow() const
{
    return currentIndex().isValid() && m_rows.active() ? currentIndex().row() : -1;
}

int TDBLookupListBox::highlightedRow() const
{
    const QModelIndexList selected =
        selectionModel() ? selectionModel()->selectedIndexes() : QModelIndexList();
    return selected.isEmpty() ? -1 : selected.first().row();
}

void TDBLookupListBox::showRow(int row, bool highlighted)
{
    QItemSelectionModel *selection = selectionModel();
    if (!selection)
        return;
    const QModelIndex index = row >= 0 ? model()->index(row, modelColumn()) : QModelIndex();
    selection->setCurrentIndex(index, highlighted ? QItemSelectionModel::ClearAndSelect
                                                  : QItemSelectionModel::Clear);
    if (index.isValid())
        scrollTo(index);
}

bool TDBLookupListBox::canChoose() const
{
    return isEnabled() && m_rows.active();
}

void TDBLookupListBox::chooseRow(int row)
{
    if (!canChoose())
        return;
    // The row chosen is current already: no search for its key.
    if (row >= 0 && row < m_rows.count()) {
        showRow(row, true);
        m_entryText = m_rows.textAt(row);
        storeKey(m_rows.keyAt(row));
    } else {
        showRow(-1, false);
        m_entryText.clear();
        storeKey(std::nullopt);
    }
    Q_EMIT Click();
}

void TDBLookupListBox::moveBy(int delta)
{
    const int count = m_rows.count();
    chooseRow(count == 0 ? -1 : qBound(0, qMax(0, currentRow()) + delta, count - 1));
}

int TDBLookupListBox::pageRows() const
{
    const int rowHeight = m_rows.count() > 0 ? sizeHintForRow(0) : 0;
    const int fit = rowHeight > 0 ? viewport()->height() / rowHeight : 1;
    return qMax(1, fit - 1);
}

int TDBLookupListBox::rowAt(const QPoint &pos) const
{
    const int count = m_rows.count();
    if (count == 0)
        return -1;
    const QModelIndex index = indexAt(QPoint(0, pos.y()));
    if (index.isValid())
        return index.row();
    // Rows stand one under the other from the top, so a point on no row lies below the last one.
    return count - 1;
}

void TDBLookupListBox::keyPressEvent(QKeyEvent *event)
{
    if (event->key() != Qt::Key_Tab && event->key() != Qt::Key_Backtab)
        Q_EMIT KeyDown(event);
    switch (event->key()) {
    case Qt::Key_Up:
    case Qt::Key_Left:
        moveBy(-1);
        return;
    case Qt::Key_Down:
    case Qt::Key_Right:
        moveBy(1);
        return;
    case Qt::Key_PageUp:
        moveBy(-pageRows());
        return;
    case Qt::Key_PageDown:
        moveBy(pageRows());
        return;
    case Qt::Key_Home:
        moveBy(-m_rows.count());
        return;
    case Qt::Key_End:
        moveBy(m_rows.count());
        return;
    case Qt::Key_Backspace:
        m_search.clear();
        return;
    case Qt::Key_Escape:
        m_search.clear();
        event->ignore();
        return;
    default:
        break;
    }
    const QString typed = TypeAheadSearch::typedText(event);
    if (typed.isEmpty() || !canChoose() || !m_rows.listFieldIsText()) {
        event->ignore();
        return;
    }
    const int row =
        m_search.type(typed, [this](const QString &prefix) { return m_rows.firstRowStartingWith(prefix); });
    if (row >= 0)
        chooseRow(row);
}

void TDBLookupListBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        chooseRow(rowAt(event->position().toPoint()));
}

void TDBLookupListBox::mouseMoveEvent(QMouseEvent *) {}

void TDBLookupListBox::mouseReleaseEvent(QMouseEvent *) {}

void TDBLookupListBox::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton || !canChoose())
        return;
    const int row = rowAt(event->position().toPoint());
    if (row < 0)
        return;
    if (row != currentRow() || row != highlightedRow())
        chooseRow(row);
    Q_EMIT DblClick();
}

bool TDBLookupListBox::entryIsCut(int row) const
{
    if (!model() || row < 0 || row >= model()->rowCount())
        return false;
    const QModelIndex index = model()->index(row, modelColumn());
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    option.index = index;
    option.text = index.data(Qt::DisplayRole).toString();
    option.features |= QStyleOptionViewItem::HasDisplay;
    // Every entry is as wide as the list, whether it is scrolled into view or not.
    option.rect = QRect(0, 0, viewport()->width(), sizeHintForRow(row));
    // Where the style draws the text, less the margin it keeps on either side of it.
    const QRect textRect = style()->subElementRect(QStyle::SE_ItemViewItemText, &option, this);
    const int margin = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1;
    return option.fontMetrics.horizontalAdvance(option.text) > textRect.width() - 2 * margin;
}
