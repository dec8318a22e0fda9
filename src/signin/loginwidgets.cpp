#include "loginwidgets.h"

#include "app/messagebox.h"
#include "common/workstation.h"
#include "db/connectionroute.h"

#include <QAccessible>
#include <QAccessibleWidget>
#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QValidator>

TImage::TImage(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImage::setPictureSource(PictureSource source)
{
    m_source = std::move(source);
    m_picture = QImage();
    m_pictureRatio = 0;
    update();
}

const QImage &TImage::pictureFor(qreal ratio) const
{
    if (m_source && ratio != m_pictureRatio) {
        m_pictureRatio = ratio;
        try {
            m_picture = m_source(ratio);
        } catch (...) {
            m_picture = QImage();
        }
    }
    return m_picture;
}

void TImage::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    // The ratio of the pixels painted on: the screen's, or that of the picture the widget is
    // rendered into.
    const QImage &shown = pictureFor(painter.deviceTransform().m11());
    if (shown.isNull())
        return;
    // Scaled to fit with its proportions kept, from the top left corner, in logical pixels: a
    // picture drawn for the device's ratio lands pixel for pixel; one drawn for another ratio is
    // brought to the device's pixels smoothly, never by repeating pixels.
    const QSize logical = shown.deviceIndependentSize().toSize();
    const QSize size = logical.scaled(this->size(), Qt::KeepAspectRatio);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(QRect(QPoint(0, 0), size), shown);
}

namespace {

// Draws "*" for each character of a password field, whatever the platform's style would use.
class PasswordStarStyle : public QProxyStyle {
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

QStyle *passwordStarStyle()
{
    static PasswordStarStyle *style = [] {
        auto *s = new PasswordStarStyle;
        s->setParent(qApp);
        return s;
    }();
    return style;
}

// Takes the characters a field accepts out of every change of its text, wherever the change comes
// from: the field's own editing runs each change through its validator.
class CharacterFilterValidator : public QValidator {
public:
    CharacterFilterValidator(TEdit::CharacterFilter accepts, QObject *parent)
        : QValidator(parent), m_accepts(std::move(accepts))
    {
    }

    State validate(QString &input, int &pos) const override
    {
        qsizetype kept = 0;
        int caret = pos;
        for (qsizetype i = 0; i < input.size(); ++i) {
            const QChar c = input.at(i);
            if (c != QChar(0) && (!m_accepts || m_accepts(c)))
                input[kept++] = c;
            else if (i < pos)
                --caret;
        }
        input.truncate(kept);
        pos = caret;
        return Acceptable;
    }

private:
    TEdit::CharacterFilter m_accepts;
};

// The status label to assistive technology: static text whose name is the text shown.
class RzLabelAccessible : public QAccessibleWidget {
public:
    explicit RzLabelAccessible(TRzLabel *label) : QAccessibleWidget(label, QAccessible::StaticText) {}

    QString text(QAccessible::Text t) const override
    {
        if (t == QAccessible::Name)
            return static_cast<const TRzLabel *>(widget())->shownText();
        return QAccessibleWidget::text(t);
    }
};

QAccessibleInterface *loginWidgetAccessible(const QString &className, QObject *object)
{
    if (className == QLatin1String("TRzLabel") && object && object->isWidgetType())
        return new RzLabelAccessible(static_cast<TRzLabel *>(object));
    return nullptr;
}

} // namespace

TEdit::TEdit(QWidget *parent) : QLineEdit(parent)
{
    setFrame(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    setPalette(palette);
    setCharacterFilter(nullptr);
}

void TEdit::setCharacterFilter(CharacterFilter accepts)
{
    const QValidator *previous = validator();
    setValidator(new CharacterFilterValidator(std::move(accepts), this));
    delete previous;
    // What the field held already passes too.
    setText(text());
}

void TEdit::setPasswordChar(bool on)
{
    if (on)
        setStyle(passwordStarStyle());
    setEchoMode(on ? QLineEdit::Password : QLineEdit::Normal);
}

void TEdit::focusInEvent(QFocusEvent *event)
{
    QLineEdit::focusInEvent(event);
    if (AutoSelect) {
        selectAll();
    } else if (hasSelectedText()) {
        // Entered with the caret at the end and nothing selected.
        deselect();
        end(false);
    }
}

TSpeedButton::TSpeedButton(QWidget *parent) : QAbstractButton(parent)
{
    setFocusPolicy(Qt::NoFocus);
    setCursor(Qt::PointingHandCursor);
}

void TSpeedButton::paintEvent(QPaintEvent *) {}

TRzLabel::TRzLabel(QWidget *parent) : QWidget(parent)
{
    static const bool accessibleInstalled = [] {
        QAccessible::installFactory(loginWidgetAccessible);
        return true;
    }();
    Q_UNUSED(accessibleInstalled);
    QFont font(QStringLiteral("Arial"));
    font.setPixelSize(13);
    font.setBold(true);
    setFont(font);
}

void TRzLabel::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    update();
    // A screen reader announces the new status.
    if (QAccessible::isActive()) {
        QAccessibleEvent event(this, QAccessible::NameChanged);
        QAccessible::updateAccessibility(&event);
    }
}

QString TRzLabel::shownText() const
{
    const QString lines = displayText(m_caption);
    QString shown;
    shown.reserve(lines.size());
    for (qsizetype i = 0; i < lines.size(); ++i) {
        if (lines.at(i) == QLatin1Char('&')) {
            // "&&" shows one ampersand; a single one only underlines the next character.
            if (i + 1 < lines.size() && lines.at(i + 1) == QLatin1Char('&'))
                shown += lines.at(++i);
            continue;
        }
        shown += lines.at(i);
    }
    return shown;
}

void TRzLabel::paintEvent(QPaintEvent *)
{
    if (m_caption.isEmpty())
        return;
    // A block taller than the label is centred on it and clipped at both edges.
    QPainter painter(this);
    painter.setClipRect(rect());
    painter.setPen(Qt::black);
    painter.setFont(font());
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic,
                     displayText(m_caption));
}

QString TIdIPWatch::LocalIP(const TADOConnection &connection) const
{
    return WorkstationIp(connectionRoute(connection));
}
