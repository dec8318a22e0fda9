#include "loginwidgets.h"

#include "app/messagebox.h"
#include "common/workstation.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>

TImage::TImage(QWidget *parent) : QWidget(parent)
{
    setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TImage::setPicture(const QImage &picture)
{
    m_source = nullptr;
    m_picture = picture;
    update();
}

void TImage::setPictureSource(std::function<QImage()> source)
{
    m_source = std::move(source);
    m_picture = QImage();
    update();
}

const QImage &TImage::picture() const
{
    if (m_source) {
        const auto source = std::exchange(m_source, nullptr);
        try {
            m_picture = source();
        } catch (...) {
            m_picture = QImage();
        }
    }
    return m_picture;
}

void TImage::paintEvent(QPaintEvent *)
{
    const QImage &shown = picture();
    if (shown.isNull())
        return;
    // Scaled to fit with its proportions kept, from the top left corner.
    const QSize size = shown.size().scaled(this->size(), Qt::KeepAspectRatio);
    QPainter painter(this);
    if (size == shown.size()) {
        painter.drawImage(0, 0, shown);
    } else {
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
        painter.drawImage(QRect(QPoint(0, 0), size), shown);
    }
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

} // namespace

TEdit::TEdit(QWidget *parent) : QLineEdit(parent)
{
    setFrame(false);
    QPalette palette = this->palette();
    palette.setColor(QPalette::Base, Qt::white);
    palette.setColor(QPalette::Text, Qt::black);
    setPalette(palette);
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
    painter.drawText(rect(), Qt::AlignCenter | Qt::TextWordWrap | Qt::TextShowMnemonic, displayText(m_caption));
}

QString TIdIPWatch::LocalIP() const
{
    return WorkstationIp();
}
