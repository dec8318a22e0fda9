#pragma once
// The components of the login window: pictures, borderless edit fields, invisible hot-spot buttons,
// the status label and the IP address component.

#include <QAbstractButton>
#include <QImage>
#include <QLineEdit>
#include <QObject>
#include <QWidget>

#include <functional>

// A picture scaled to fit its area with its proportions kept.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget *parent = nullptr);
    // The source gives the picture for a device pixel ratio (a QImage with its own ratio set). It is
    // asked when the picture is first drawn, and again when it is drawn at another ratio (the window
    // moved to another screen): a picture below the visible part of the window costs nothing at
    // start-up. A source that fails leaves the area empty.
    using PictureSource = std::function<QImage(qreal devicePixelRatio)>;
    void setPictureSource(PictureSource source);
    // The picture drawn on a device of that ratio.
    const QImage &pictureFor(qreal devicePixelRatio) const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    PictureSource m_source;
    mutable QImage m_picture;
    mutable qreal m_pictureRatio = 0; // the ratio m_picture was asked for; 0: none asked yet
};

// A borderless white edit field. AutoSelect selects the whole text when the field is entered.
//
// Whatever arrives in the field (typed, pasted, dropped, committed by an input method or set from
// code) passes its character filter: a character the filter refuses is dropped and the rest stays,
// the caret where it belongs. No field holds a NUL: the filter of every field refuses it.
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    using CharacterFilter = std::function<bool(QChar)>;

    explicit TEdit(QWidget *parent = nullptr);
    bool AutoSelect = true;
    // Shows "*" for each character.
    void setPasswordChar(bool on);
    // Which characters the field takes, besides refusing NUL; by default every other one.
    void setCharacterFilter(CharacterFilter accepts);

protected:
    void focusInEvent(QFocusEvent *event) override;
};

// A flat button without caption that draws nothing: the picture below shows its face. It takes no
// focus and shows the hand cursor.
class TSpeedButton : public QAbstractButton {
    Q_OBJECT
public:
    explicit TSpeedButton(QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The status label: bold black Arial 13 px, word-wrapped and centred both ways, clipped at its edges,
// transparent. "\r" breaks a line; an ampersand underlines the next character, two show one.
// Assistive technology reads the text as drawn (lines broken, no underlining ampersands) as the
// label's name, and hears of every change.
class TRzLabel : public QWidget {
    Q_OBJECT
public:
    explicit TRzLabel(QWidget *parent = nullptr);
    const QString &Caption() const { return m_caption; }
    void setCaption(const QString &caption);
    // The caption as the label shows it, without the ampersands that only underline.
    QString shownText() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_caption;
};

class TADOConnection;

// The workstation's IP address for the sign-in.
class TIdIPWatch : public QObject {
    Q_OBJECT
public:
    explicit TIdIPWatch(QObject *parent = nullptr) : QObject(parent) {}
    // The address from which the server sees this workstation over the open connection; looked up at
    // each call. Throws SocketError.
    QString LocalIP(const TADOConnection &connection) const;
};
