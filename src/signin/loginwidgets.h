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
    void setPicture(const QImage &picture);
    // The picture is made when it is first drawn: a picture below the visible part of the window
    // costs nothing at start-up. A source that fails leaves the area empty.
    void setPictureSource(std::function<QImage()> source);
    const QImage &picture() const;

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    mutable QImage m_picture;
    mutable std::function<QImage()> m_source;
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
