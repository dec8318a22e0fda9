#pragma once
// Message boxes and questions. Every one goes through MessageBox, so tests can answer them and read
// what the user was shown; the flags and answers are the classic message box numbers.

#include <QPointer>
#include <QString>
#include <QWidget>

#include <functional>

namespace MessageBoxFlag {
constexpr int Ok = 0;
constexpr int YesNo = 4;
constexpr int IconError = 16;
constexpr int IconQuestion = 32;
constexpr int IconInformation = 64;
} // namespace MessageBoxFlag

namespace MessageBoxAnswer {
constexpr int Ok = 1;
constexpr int Yes = 6;
constexpr int No = 7;
} // namespace MessageBoxAnswer

struct MessageBoxRequest {
    QString text; // "\r" breaks a line
    QString caption;
    int flags = MessageBoxFlag::Ok;
    QPointer<QWidget> parent; // the window the box opens over
};

using MessageBoxHandler = std::function<int(const MessageBoxRequest &)>;

// Shows a modal message box over parent, the window it belongs to, and returns the answer.
int MessageBox(const QString &text, const QString &caption, int flags, QWidget *parent);

// Installs a handler that stands in for the boxes; an empty one restores the real boxes. Returns the
// previous handler.
MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler);

// A text with the line breaks of the system's texts ("\r", "\r\n") as Qt draws them ("\n").
QString displayText(const QString &text);
