#include "application.h"

#include "common/error.h"
#include "form.h"
#include "messagebox.h"

#include <QEvent>
#include <QEventLoop>

#include <exception>

TApplication *Application = nullptr;

namespace {
const QEvent::Type kQuitRequest = static_cast<QEvent::Type>(QEvent::registerEventType());
} // namespace

TApplication::TApplication() : m_title(applicationTitle())
{
    // Not given to Qt as the display name: Qt would append it to every other window's title ("Уведомление").
    Application = this;
    ShowMainWindow = false;
}

TApplication::~TApplication()
{
    if (Application == this)
        Application = nullptr;
}

void TApplication::RequestTermination()
{
    // One request in the queue does what any number would.
    if (m_requestPending)
        return;
    m_requestPending = true;
    QCoreApplication::postEvent(this, new QEvent(kQuitRequest));
}

bool TApplication::event(QEvent *event)
{
    if (event->type() == kQuitRequest) {
        m_requestPending = false;
        m_terminated = true;
        emit terminationTaken();
        return true;
    }
    return QObject::event(event);
}

void TApplication::formCreated(TForm *form)
{
    HandleErrors([form] { form->FormCreate(); });
    if (!m_mainForm)
        m_mainForm = form;
}

void TApplication::Run()
{
    if (!m_mainForm)
        return;
    if (ShowMainWindow)
        m_mainForm->show();
    QEventLoop loop;
    connect(this, &TApplication::terminationTaken, &loop, &QEventLoop::quit);
    if (m_terminated) {
        // Started after the request was taken: one more pass and out.
        QCoreApplication::processEvents();
        return;
    }
    loop.exec();
}

void TApplication::ProcessMessages()
{
    QCoreApplication::processEvents();
}

void TApplication::ShowException(const QString &message)
{
    QString text = message;
    if (!text.isEmpty() && text.back().unicode() > u'.')
        text += QLatin1Char('.');
    MessageBox(text, m_title, MessageBoxFlag::IconError | MessageBoxFlag::Ok, ActiveForm());
}

QWidget *TApplication::ActiveForm() const
{
    if (TForm *modal = TForm::ModalForm())
        return modal;
    if (auto *active = qobject_cast<TForm *>(QApplication::activeWindow()))
        return active;
    for (QWidget *window : QApplication::topLevelWidgets()) {
        if (qobject_cast<TForm *>(window) && window->isVisible())
            return window;
    }
    return nullptr;
}

QString currentErrorText()
{
    try {
        throw;
    } catch (const Error &error) {
        return error.message();
    } catch (const std::exception &error) {
        return QString::fromLocal8Bit(error.what());
    } catch (...) {
        return QStringLiteral("Неизвестная ошибка");
    }
}

GuiApplication::GuiApplication(int &argc, char **argv) : QApplication(argc, argv)
{
    m_previousIndicator = setBusyIndicator(&m_waitCursor);
}

GuiApplication::~GuiApplication()
{
    setBusyIndicator(m_previousIndicator);
}

bool GuiApplication::notify(QObject *receiver, QEvent *event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (...) {
        const QString text = currentErrorText();
        if (Application)
            Application->ShowException(text);
        return false;
    }
}
