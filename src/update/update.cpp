#include "update.h"

#include "app/application.h"
#include "app/messagebox.h"
#include "common/error.h"
#include "common/programfolder.h"
#include "common/securitysettings.h"
#include "localfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QLabel>
#include <QPointer>
#include <QProcess>
#include <QTimer>

#include <memory>

namespace {

const QString kNotice = QStringLiteral("Идёт обновление программы, ПОДОЖДИТЕ...");
const QString kServerUnreachable =
    QStringLiteral("Сервер обновлений не доступен.\rОбратитесь к администратору.");
const QString kNoticeCaption = QStringLiteral("Уведомление");

ScriptStarter &installedStarter()
{
    static ScriptStarter starter;
    return starter;
}

void startScript(const QString &script, const QString &programFolder)
{
    if (installedStarter())
        installedStarter()(script, programFolder);
    else
        StartReplacementScript(script, programFolder, QCoreApplication::applicationPid());
}

// Keeps the user's input away from one window: while an update is pending a second sign-in would
// start a second update. Filters at the application, so that no handler of the window sees the input.
// A mouse press gives the focus before any filter sees it, so the window's widgets take no focus
// while the block lasts.
class InputBlock : public QObject {
public:
    explicit InputBlock(QWidget *window) : QObject(window), m_window(window)
    {
        qApp->installEventFilter(this);
        for (QWidget *widget : window->findChildren<QWidget *>()) {
            if (widget->focusPolicy() == Qt::NoFocus)
                continue;
            m_focusPolicies.append({widget, widget->focusPolicy()});
            widget->setFocusPolicy(Qt::NoFocus);
        }
    }
    ~InputBlock() override
    {
        qApp->removeEventFilter(this);
        for (const auto &[widget, policy] : m_focusPolicies) {
            if (widget)
                widget->setFocusPolicy(policy);
        }
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (!event->isInputEvent() && event->type() != QEvent::Shortcut)
            return false;
        // A shortcut is delivered to its own object; the widget it belongs to is among its parents.
        for (QObject *object = watched; object; object = object->parent()) {
            if (object->isWidgetType())
                return static_cast<QWidget *>(object)->window() == m_window;
        }
        return false;
    }

private:
    QWidget *m_window;
    QList<std::pair<QPointer<QWidget>, Qt::FocusPolicy>> m_focusPolicies;
};

} // namespace

bool StartReplacementScript(const QString &script, const QString &programFolder, qint64 processId)
{
    if (kThisPlatform == UpdatePlatform::Windows)
        return QProcess::startDetached(QStringLiteral("cmd.exe"), {QStringLiteral("/c"), script},
                                       programFolder);
    return QProcess::startDetached(QStringLiteral("/bin/sh"), {script, QString::number(processId)},
                                   programFolder);
}

ScriptStarter setScriptStarter(ScriptStarter starter)
{
    return std::exchange(installedStarter(), std::move(starter));
}

void UpdateProgram(const UpdateWindow &form)
{
    // Owned by the window: on the way to termination the window stays without input until it goes.
    auto block = std::make_unique<InputBlock>(form.window);
    form.label->setText(kNotice);
    form.label->adjustSize();
    // The notice is drawn now; the download keeps the window busy.
    Application->ProcessMessages();

    const QString programFolder = ProgramFolder();
    const UpdateFiles files = UpdateFilesIn(programFolder);
    // An existing folder is reused; any other failure shows as the error of creating the file in it.
    QDir().mkdir(files.downloadFolder);
    // A security setting that cannot be read fails the download: nothing is fetched without the check
    // it may ask for.
    bool settingsRead = true;
    QString authority;
    try {
        authority = ReadSecuritySettings(programFolder).authorityFile;
    } catch (const Error &) {
        settingsRead = false;
    }
    if (!settingsRead || !DownloadFile(UpdateAddress(), files.downloadedFile, authority)) {
        block.reset();
        MessageBox(kServerUnreachable, kNoticeCaption, MessageBoxFlag::IconInformation | MessageBoxFlag::Ok,
                   form.window);
        Application->RequestTermination();
        return;
    }
    // Renamed into place only when whole: a full disk leaves no empty or partial script behind.
    replaceLocalFile(files.script, files.partialScript, ReplacementScript());
    // Whether the script started is not examined: the program ends either way, and the next sign-in
    // starts the same update again.
    startScript(files.script, programFolder);
    form.timer->start();
    block.release();
}

void RemoveLeftoverScript()
{
    const UpdateFiles files = UpdateFilesIn(ProgramFolder());
    QFile::remove(files.script);
    QFile::remove(files.partialScript);
}
