#pragma once
// The components of the login window: pictures, borderless edit fields, invisible hot-spot buttons,
// the status label and the IP address component.

#include <QAbstractButton>
#include <QImage>
#include <QLineEdit>
#include <QObject>
#include <QWidget>

// A picture scaled to fit its area with its proportions kept.
class TImage : public QWidget {
    Q_OBJECT
public:
    explicit TImage(QWidget *parent = nullptr);
    void setPicture(const QImage &picture);
    const QImage &picture() const { return m_picture; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QImage m_picture;
};

// A borderless white edit field. AutoSelect selects the whole text when the field is entered.
class TEdit : public QLineEdit {
    Q_OBJECT
public:
    explicit TEdit(QWidget *parent = nullptr);
    bool AutoSelect = true;
    // Shows "*" for each character.
    void setPasswordChar(bool on);

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
class TRzLabel : public QWidget {
    Q_OBJECT
public:
    explicit TRzLabel(QWidget *parent = nullptr);
    const QString &Caption() const { return m_caption; }
    void setCaption(const QString &caption);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QString m_caption;
};

// The workstation's IP address for the sign-in.
class TIdIPWatch : public QObject {
    Q_OBJECT
public:
    explicit TIdIPWatch(QObject *parent = nullptr) : QObject(parent) {}
    // Looked up at each call; throws SocketError.
    QString LocalIP() const;
};
