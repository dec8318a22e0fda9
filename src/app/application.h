#pragma once
// The application object: the program's title, the ShowMainWindow flag, the termination request, the
// event loop and the default error display. One exists for a run of the program (tests make a fresh
// one per case); all of it lives on the GUI thread.

#include <QApplication>
#include <QObject>
#include <QPointer>
#include <QString>

#include <utility>

#include "app/form.h"
#include "app/waitcursor.h"

// The text the window system shows for the program as a whole; the main window's caption carries it too.
inline QString applicationTitle()
{
    return QStringLiteral("QEL 31 Регистрация старост академических групп");
}

class TApplication : public QObject {
    Q_OBJECT
public:
    // Sets the title and clears ShowMainWindow; becomes the global Application.
    TApplication();
    ~TApplication() override;

    const QString &Title() const { return m_title; }

    // Set by a successful sign-in; read when the event loop starts.
    bool ShowMainWindow = false;

    // Posts a quit request and returns at once. Nothing ends at the call: the request takes effect
    // when a loop takes it from the queue, and any number of calls acts as one.
    void RequestTermination();
    // True once a loop has taken the quit request; never reset.
    bool Terminated() const { return m_terminated; }

    // The first window whose creation through the application completed.
    TForm *MainForm() const { return m_mainForm; }

    // Creation through the application: the object is built and stored in its reference, its creation
    // handler runs (an error there is shown and creation goes on), and the first window becomes the
    // main window.
    template <class T, class... Args> void CreateForm(T *&reference, Args &&...args)
    {
        reference = new T(std::forward<Args>(args)...);
        formCreated(reference);
    }

    // Runs the event loop: shows the main window when ShowMainWindow is set and takes events until
    // termination is requested. Returns at once without a main window.
    void Run();

    // Processes the pending events once, so that what was just changed gets drawn.
    void ProcessMessages();

    // The default error display: a message box with the text (a full stop appended when the last
    // character's code is above the full stop's), the title, the error icon and one OK, over the
    // program's window in use (ActiveForm()).
    void ShowException(const QString &message);

    // The window the user works in: the window running modally (the login window while it runs),
    // else the active window of the program, else its one shown window; null when none is shown.
    QWidget *ActiveForm() const;

Q_SIGNALS:
    // A loop has taken the quit request.
    void terminationTaken();

protected:
    bool event(QEvent *event) override;

private:
    void formCreated(TForm *form);

    QString m_title;
    bool m_terminated = false;
    bool m_requestPending = false;
    QPointer<TForm> m_mainForm;
};

// The application object while it exists.
extern TApplication *Application;

// Runs f and shows any error it throws through the default error display. Every handler that Qt
// calls goes through this, so that no exception ever unwinds through Qt's own frames.
template <class F> void HandleErrors(F &&f);

// The text of the error being handled, for a catch (...) block.
QString currentErrorText();

template <class F> void HandleErrors(F &&f)
{
    try {
        f();
    } catch (...) {
        const QString text = currentErrorText();
        if (Application)
            Application->ShowException(text);
    }
}

// The Qt application of the process. Its event dispatch is the last net for errors thrown by a
// handler that was not wrapped in HandleErrors; for its life the waits of the GUI thread show the busy
// pointer.
class GuiApplication : public QApplication {
public:
    GuiApplication(int &argc, char **argv);
    ~GuiApplication() override;
    bool notify(QObject *receiver, QEvent *event) override;

private:
    WaitCursor m_waitCursor;
    BusyIndicator *m_previousIndicator = nullptr;
};
