#include "messagebox.h"

#include "common/busy.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>

namespace {

MessageBoxHandler &installedHandler()
{
    static MessageBoxHandler handler;
    return handler;
}

int showRealBox(const MessageBoxRequest &request)
{
    // Over its own window, whichever window the window system holds active (or none, under a window
    // manager that gives the program no focus).
    QMessageBox box(request.parent ? request.parent->window() : nullptr);
    box.setWindowTitle(request.caption);
    box.setText(displayText(request.text));
    box.setTextFormat(Qt::PlainText);
    if (request.flags & MessageBoxFlag::IconError)
        box.setIcon(QMessageBox::Critical);
    else if (request.flags & MessageBoxFlag::IconQuestion)
        box.setIcon(QMessageBox::Question);
    else if (request.flags & MessageBoxFlag::IconInformation)
        box.setIcon(QMessageBox::Information);
    if ((request.flags & 0xF) == MessageBoxFlag::YesNo) {
        // The program speaks Russian whatever the workstation's locale: the buttons too.
        box.setStandardButtons(QMessageBox::Yes | QMessageBox::No);
        box.button(QMessageBox::Yes)->setText(QStringLiteral("Да"));
        box.button(QMessageBox::No)->setText(QStringLiteral("Нет"));
        box.setDefaultButton(QMessageBox::Yes);
        return box.exec() == QMessageBox::Yes ? MessageBoxAnswer::Yes : MessageBoxAnswer::No;
    }
    box.setStandardButtons(QMessageBox::Ok);
    box.exec();
    return MessageBoxAnswer::Ok;
}

} // namespace

int MessageBox(const QString &text, const QString &caption, int flags, QWidget *parent)
{
    const MessageBoxRequest request{text, caption, flags, parent};
    // The program waits on the person now, not on the server: no busy pointer over the box.
    const NotBusy waitingOnPerson;
    if (installedHandler())
        return installedHandler()(request);
    return showRealBox(request);
}

MessageBoxHandler setMessageBoxHandler(MessageBoxHandler handler)
{
    return std::exchange(installedHandler(), std::move(handler));
}

QString displayText(const QString &text)
{
    QString shown = text;
    shown.replace(QLatin1String("\r\n"), QLatin1String("\n"));
    shown.replace(QLatin1Char('\r'), QLatin1Char('\n'));
    return shown;
}
