#include "dblookupcombobox.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QFrame>
#include <QKeyEvent>
#include <QListView>
#include <QMouseEvent>
#include <QPointer>
#include <QScreen>
#include <QStyleOptionComboBox>
#include <QStylePainter>
#include <QStyledItemDelegate>
#include <QVBoxLayout>

namespace {

// Every row of the open list is as high as a line of its font, so that empty rows can be counted
// the same way as full ones.
int rowHeightFor(const QFontMetrics &metrics)
{
    return metrics.height() + 2;
}

class RowDelegate : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override
    {
        return {QStyledItemDelegate::sizeHint(option, index).width(), rowHeightFor(option.fontMetrics)};
    }
};

// The closed control to assistive technology: a combo box whose value is the shown text; its name
// is the accessible name the window gives it (its label).
class LookupComboAccessible : public QAccessibleWidget {
public:
    explicit LookupComboAccessible(TDBLookupComboBox *box) : QAccessibleWidget(box, QAccessible::ComboBox) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Value)
            return static_cast<const TDBLookupComboBox *>(widget())->Text();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *lookupComboAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("TDBLookupComboBox") && object && object->isWidgetType())
        return new LookupComboAccessible(static_cast<TDBLookupComboBox *>(object));
    return nullptr;
}

} // namespace

// The list that drops down: a window of its own that never takes the keyboard focus. Opened by the
// user it is a popup: it has the keyboard and the mouse while it is open, and the keys pressed go on
// to its control, which has the focus. Opened from code (by a choice in another list) it takes
// neither: the keys go on to whichever control has the focus, and a press anywhere outside it closes
// it without a choice, as it would close a popup.
class LookupDropDown : public QFrame {
public:
    LookupDropDown(TDBLookupComboBox *owner, const LookupRows *rows)
        : QFrame(owner, Qt::Popup), m_owner(owner), m_rows(rows), m_view(new QListView(this))
    {
        setObjectName(QStringLiteral("dropDown"));
        // The list is drawn in the control's font and colours although it is a window of its own.
        setAttribute(Qt::WA_WindowPropagation);
        setFrameStyle(QFrame::Box | QFrame::Plain);
        setLineWidth(1);
        auto *layout = new QVBoxLayout(this);
        layout->setContentsMargins(0, 0, 0, 0);
        layout->addWidget(m_view);
        m_view->setObjectName(QStringLiteral("dropDownList"));
        m_view->setFrameShape(QFrame::NoFrame);
        m_view->setFocusPolicy(Qt::NoFocus);
        m_view->setEditTriggers(QAbstractItemView::NoEditTriggers);
        m_view->setSelectionMode(QAbstractItemView::SingleSelection);
        m_view->setUniformItemSizes(true);
        m_view->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
        m_view->setItemDelegate(new RowDelegate(m_view));
        m_view->viewport()->installEventFilter(this);
    }

    void setModel(QAbstractItemModel *model) { m_view->setModel(model); }

    void open(int highlighted, int maxRows, bool grab)
    {
        if (grab != m_grabbing) {
            m_grabbing = grab;
            // A window that takes no focus and asks for no grab, placed where it is put, as a popup is.
            setWindowFlags(grab ? Qt::Popup : Qt::ToolTip | Qt::WindowDoesNotAcceptFocus);
            setAttribute(Qt::WA_ShowWithoutActivating, !grab);
        }
        const int count = m_rows->count();
        m_shownRows = count > 0 ? qMin(count, maxRows) : maxRows;
        m_view->setModelColumn(qMax(0, m_rows->listColumn()));
        const int height = m_shownRows * rowHeightFor(m_view->fontMetrics()) + 2 * frameWidth();
        // The geometry of the list itself, whatever frame the window system puts round a popup.
        setGeometry(QRect(placeFor(height), QSize(m_owner->width(), height)));
        m_trackingFromOwner = false;
        setAttribute(Qt::WA_NoMouseReplay, false);
        show();
        setHighlightedRow(highlighted);
        if (!m_grabbing) {
            qApp->installEventFilter(this);
            m_ownerWindow = m_owner->window();
            m_ownerWindow->installEventFilter(this);
            m_applicationState = connect(qApp, &QGuiApplication::applicationStateChanged, this,
                                         [this](Qt::ApplicationState state) {
                                             if (state != Qt::ApplicationActive)
                                                 m_owner->CloseUp(false);
                                         });
        }
    }

    int highlightedRow() const
    {
        const QModelIndexList selected =
            m_view->selectionModel() ? m_view->selectionModel()->selectedIndexes() : QModelIndexList();
        return selected.isEmpty() ? -1 : selected.first().row();
    }

    void setHighlightedRow(int row)
    {
        QItemSelectionModel *selection = m_view->selectionModel();
        if (!selection)
            return;
        if (row < 0 || row >= m_rows->count()) {
            selection->clear();
            return;
        }
        const QModelIndex index = m_view->model()->index(row, m_view->modelColumn());
        selection->setCurrentIndex(index, QItemSelectionModel::ClearAndSelect);
        m_view->scrollTo(index);
    }

    void moveHighlight(int delta)
    {
        const int count = m_rows->count();
        if (count == 0)
            return;
        const int row = highlightedRow();
        setHighlightedRow(row < 0 ? 0 : qBound(0, row + delta, count - 1));
    }

    int pageRows() const { return qMax(1, m_shownRows - 1); }

    // The press on the control that opened the list goes on: its release over the control leaves the
    // list open, and dragging onto an entry and releasing there chooses it.
    void trackFromOwner() { m_trackingFromOwner = true; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!m_grabbing && isVisible() && watched != m_view->viewport())
            return closesWithoutGrab(watched, event);
        if (watched != m_view->viewport())
            return QFrame::eventFilter(watched, event);
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton) {
                m_trackingFromOwner = false;
                setHighlightedRow(rowAt(mouse->position().toPoint()));
            }
            return true;
        }
        case QEvent::MouseMove: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            const QPoint pos = mouse->position().toPoint();
            if ((mouse->buttons() & Qt::LeftButton) && m_view->viewport()->rect().contains(pos))
                setHighlightedRow(rowAt(pos));
            return true;
        }
        case QEvent::MouseButtonRelease: {
            auto *mouse = static_cast<QMouseEvent *>(event);
            if (mouse->button() == Qt::LeftButton)
                releasedAt(mouse->globalPosition().toPoint());
            return true;
        }
        default:
            return false;
        }
    }

    // Presses outside the list reach the open list too, as long as it is open.
    void mousePressEvent(QMouseEvent *event) override
    {
        if (rect().contains(event->position().toPoint()))
            return;
        // A press on the control only closes the list; it must not reach the control again and reopen it.
        if (m_owner->rect().contains(m_owner->mapFromGlobal(event->globalPosition().toPoint())))
            setAttribute(Qt::WA_NoMouseReplay);
        m_owner->CloseUp(false);
    }

    void mouseReleaseEvent(QMouseEvent *event) override
    {
        if (event->button() == Qt::LeftButton)
            releasedAt(event->globalPosition().toPoint());
    }

    void keyPressEvent(QKeyEvent *event) override
    {
        if (!isVisible()) {
            // A window system may leave its keyboard with the list's window after the list has gone.
            if (QWidget *focus = QApplication::focusWidget())
                QCoreApplication::sendEvent(focus, event);
            return;
        }
        if (event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab) {
            // Moving the focus closes the list; the key then moves it as usual.
            m_owner->CloseUp(false);
            if (QWidget *focus = QApplication::focusWidget())
                QCoreApplication::sendEvent(focus, event);
            return;
        }
        m_owner->keyPressEvent(event);
    }

    void hideEvent(QHideEvent *) override
    {
        m_trackingFromOwner = false;
        qApp->removeEventFilter(this);
        if (m_ownerWindow)
            m_ownerWindow->removeEventFilter(this);
        disconnect(m_applicationState);
        m_owner->update();
    }

private:
    // Without a grab nothing closes the list by itself: a press outside it does (one on its control
    // goes no further, so that it does not open the list again), and so does the control's window
    // moving, changing size or hiding, or the program losing the keyboard to another one.
    bool closesWithoutGrab(QObject *watched, QEvent *event)
    {
        switch (event->type()) {
        case QEvent::MouseButtonPress:
        case QEvent::MouseButtonDblClick: {
            auto *widget = qobject_cast<QWidget *>(watched);
            if (!widget || widget->window() == this)
                return false;
            const bool onControl = widget == m_owner || m_owner->isAncestorOf(widget);
            m_owner->CloseUp(false);
            return onControl;
        }
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::Hide:
            if (watched == m_ownerWindow)
                m_owner->CloseUp(false);
            return false;
        default:
            return false;
        }
    }

    // The row at a point of the list: below the last row the last one, -1 when there is none.
    int rowAt(const QPoint &pos) const
    {
        const int count = m_rows->count();
        if (count == 0)
            return -1;
        const QModelIndex index = m_view->indexAt(QPoint(0, pos.y()));
        if (index.isValid())
            return index.row();
        const QModelIndex last = m_view->model()->index(count - 1, m_view->modelColumn());
        return pos.y() >= m_view->visualRect(last).bottom() ? count - 1 : -1;
    }

    void releasedAt(const QPoint &global)
    {
        const bool fromOwner = m_trackingFromOwner;
        m_trackingFromOwner = false;
        const QPoint inList = m_view->viewport()->mapFromGlobal(global);
        if (m_view->viewport()->rect().contains(inList)) {
            m_owner->chooseFromList(rowAt(inList));
            return;
        }
        if (rect().contains(mapFromGlobal(global)))
            return; // on the border
        if (fromOwner && m_owner->rect().contains(m_owner->mapFromGlobal(global)))
            return; // the click that opened the list
        m_owner->CloseUp(false);
    }

    QPoint placeFor(int height) const
    {
        const QPoint below = m_owner->mapToGlobal(QPoint(0, m_owner->height()));
        const QScreen *screen = m_owner->screen();
        if (!screen)
            return below;
        const QRect available = screen->availableGeometry();
        const QPoint above = m_owner->mapToGlobal(QPoint(0, -height));
        if (below.y() + height > available.bottom() + 1 && above.y() >= available.top())
            return above;
        return below;
    }

    TDBLookupComboBox *m_owner;
    const LookupRows *m_rows;
    QListView *m_view;
    int m_shownRows = 0;
    bool m_trackingFromOwner = false;
    bool m_grabbing = true;
    QPointer<QWidget> m_ownerWindow;
    QMetaObject::Connection m_applicationState;
};

TDBLookupComboBox::TDBLookupComboBox(QWidget *parent)
    : QWidget(parent), m_dropDown(new LookupDropDown(this, &m_rows))
{
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(lookupComboAccessible);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    setFocusPolicy(Qt::StrongFocus);
    setAttribute(Qt::WA_InputMethodEnabled, false);
    connect(&m_rows, &LookupRows::rowsOpened, this, &TDBLookupComboBox::rowsOpened);
    connect(&m_rows, &LookupRows::rowsClosed, this, &TDBLookupComboBox::rowsClosed);
}

TDBLookupComboBox::~TDBLookupComboBox()
{
    // The drop-down calls back into the control while it goes.
    delete m_dropDown;
    m_dropDown = nullptr;
}

void TDBLookupComboBox::setListSource(TDataSource *source)
{
    CloseUp(false);
    m_dropDown->setModel(source ? source->DataSet()->model() : nullptr);
    m_rows.setListSource(source);
}

void TDBLookupComboBox::setKeyField(const QString &name)
{
    CloseUp(false);
    m_rows.setKeyField(name);
}

void TDBLookupComboBox::setListField(const QString &name)
{
    CloseUp(false);
    m_rows.setListField(name);
}

void TDBLookupComboBox::setDropDownRows(int rows)
{
    m_dropDownRows = qMax(1, rows);
}

void TDBLookupComboBox::setKeyValue(const Key &key)
{
    if (key == m_key)
        return;
    m_key = key;
    findShownText();
}

void TDBLookupComboBox::findShownText()
{
    setShownText(m_rows.textAt(m_rows.rowOfKey(m_key)));
}

void TDBLookupComboBox::setShownText(const QString &text)
{
    const bool changed = text != m_text;
    m_text = text;
    update();
    if (changed && QAccessible::isActive()) {
        QAccessibleValueChangeEvent event(this, m_text);
        QAccessible::updateAccessibility(&event);
    }
}

void TDBLookupComboBox::rowsOpened()
{
    if (ListVisible())
        m_dropDown->hide();
    findShownText();
}

void TDBLookupComboBox::rowsClosed()
{
    if (ListVisible())
        m_dropDown->hide();
    m_search.clear();
    setShownText(QString());
}

bool TDBLookupComboBox::ListVisible() const
{
    return m_dropDown && m_dropDown->isVisible();
}

void TDBLookupComboBox::DropDown()
{
    openList(false);
}

void TDBLookupComboBox::openList(bool byUser)
{
    if (!m_rows.active() || ListVisible() || !isEnabled())
        return;
    m_search.clear();
    m_dropDown->open(m_rows.rowOfKey(m_key), m_dropDownRows, byUser);
    update();
}

void TDBLookupComboBox::CloseUp(bool accept)
{
    if (!ListVisible())
        return;
    const int row = m_dropDown->highlightedRow();
    m_dropDown->hide();
    m_search.clear();
    if (accept)
        choose(row >= 0 ? m_rows.keyAt(row) : m_key);
}

bool TDBLookupComboBox::canChoose() const
{
    return isEnabled() && m_rows.active();
}

void TDBLookupComboBox::choose(const Key &key)
{
    if (!canChoose())
        return;
    setKeyValue(key);
    Q_EMIT Click();
}

void TDBLookupComboBox::chooseFromList(int row)
{
    m_dropDown->hide();
    m_search.clear();
    choose(row >= 0 ? m_rows.keyAt(row) : Key());
}

void TDBLookupComboBox::stepChoice(int delta)
{
    if (!canChoose())
        return;
    const int count = m_rows.count();
    if (count == 0) {
        choose(std::nullopt);
        return;
    }
    const int row = m_rows.rowOfKey(m_key);
    choose(m_rows.keyAt(row < 0 ? 0 : qBound(0, row + delta, count - 1)));
}

void TDBLookupComboBox::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        QWidget::mousePressEvent(event);
        return;
    }
    if (ListVisible()) {
        CloseUp(false);
        return;
    }
    openList(true);
    if (ListVisible())
        m_dropDown->trackFromOwner();
}

void TDBLookupComboBox::keyPressEvent(QKeyEvent *event)
{
    const int key = event->key();
    if ((key == Qt::Key_Up || key == Qt::Key_Down) && (event->modifiers() & Qt::AltModifier)) {
        if (ListVisible())
            CloseUp(true);
        else
            openList(true);
        return;
    }
    if (ListVisible()) {
        keyPressWhileOpen(event);
        return;
    }
    switch (key) {
    case Qt::Key_Up:
        stepChoice(-1);
        return;
    case Qt::Key_Down:
        stepChoice(1);
        return;
    case Qt::Key_Backspace:
        m_search.clear();
        return;
    case Qt::Key_Escape:
        // Nothing to close: the key may still mean something to the window.
        m_search.clear();
        event->ignore();
        return;
    default:
        break;
    }
    const QString typed = TypeAheadSearch::typedText(event);
    if (typed.isEmpty() || !canChoose() || !m_rows.listFieldIsText()) {
        QWidget::keyPressEvent(event);
        return;
    }
    const int row =
        m_search.type(typed, [this](const QString &prefix) { return m_rows.firstRowStartingWith(prefix); });
    if (row >= 0)
        choose(m_rows.keyAt(row));
}

void TDBLookupComboBox::keyPressWhileOpen(QKeyEvent *event)
{
    switch (event->key()) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        CloseUp(true);
        return;
    case Qt::Key_Escape:
        CloseUp(false);
        return;
    case Qt::Key_Up:
        m_dropDown->moveHighlight(-1);
        return;
    case Qt::Key_Down:
        m_dropDown->moveHighlight(1);
        return;
    case Qt::Key_PageUp:
        m_dropDown->moveHighlight(-m_dropDown->pageRows());
        return;
    case Qt::Key_PageDown:
        m_dropDown->moveHighlight(m_dropDown->pageRows());
        return;
    case Qt::Key_Home:
        m_dropDown->setHighlightedRow(0);
        return;
    case Qt::Key_End:
        m_dropDown->setHighlightedRow(m_rows.count() - 1);
        return;
    case Qt::Key_Backspace:
        m_search.clear();
        return;
    default:
        break;
    }
    // Typing in the open list only moves its highlight.
    const QString typed = TypeAheadSearch::typedText(event);
    if (typed.isEmpty() || !m_rows.listFieldIsText())
        return;
    const int row =
        m_search.type(typed, [this](const QString &prefix) { return m_rows.firstRowStartingWith(prefix); });
    if (row >= 0)
        m_dropDown->setHighlightedRow(row);
}

void TDBLookupComboBox::focusInEvent(QFocusEvent *event)
{
    update();
    QWidget::focusInEvent(event);
}

void TDBLookupComboBox::focusOutEvent(QFocusEvent *event)
{
    update();
    QWidget::focusOutEvent(event);
    // Opening a list and switching to another program take the keyboard away without the focus
    // leaving the control.
    if (event->reason() != Qt::PopupFocusReason && event->reason() != Qt::ActiveWindowFocusReason)
        Q_EMIT Exit();
}

void TDBLookupComboBox::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled() && ListVisible())
        m_dropDown->hide();
    QWidget::changeEvent(event);
}

void TDBLookupComboBox::hideEvent(QHideEvent *event)
{
    if (ListVisible())
        m_dropDown->hide();
    QWidget::hideEvent(event);
}

QSize TDBLookupComboBox::sizeHint() const
{
    QStyleOptionComboBox option;
    option.initFrom(this);
    const QFontMetrics metrics = fontMetrics();
    const QSize text(metrics.horizontalAdvance(QLatin1Char('x')) * 16, metrics.height());
    return style()->sizeFromContents(QStyle::CT_ComboBox, &option, text, this);
}

QSize TDBLookupComboBox::minimumSizeHint() const
{
    return sizeHint();
}

void TDBLookupComboBox::paintEvent(QPaintEvent *)
{
    QStylePainter painter(this);
    QStyleOptionComboBox option;
    option.initFrom(this);
    option.editable = false;
    option.frame = true;
    option.currentText = m_text;
    option.subControls = QStyle::SC_All;
    if (ListVisible())
        option.state |= QStyle::State_On;
    painter.drawComplexControl(QStyle::CC_ComboBox, option);
    painter.drawControl(QStyle::CE_ComboBoxLabel, option);
}
