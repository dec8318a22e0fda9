#include "update.h"

#include "app/application.h"
#include "app/messagebox.h"
#include "common/programfolder.h"
#include "localfile.h"
#include "signin/unit10.h"

#include <QCoreApplication>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QProcess>

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
class InputBlock : public QObject {
public:
    explicit InputBlock(QWidget *window) : QObject(window), m_window(window)
    {
        qApp->installEventFilter(this);
    }
    ~InputBlock() override { qApp->removeEventFilter(this); }

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

void UpdateProgram(TForm8 *form)
{
    // Owned by the window: on the way to termination the window stays without input until it goes.
    auto block = std::make_unique<InputBlock>(form);
    form->Label1->setText(kNotice);
    form->Label1->adjustSize();
    // The notice is drawn now; the download keeps the window busy.
    Application->ProcessMessages();

    const QString programFolder = ProgramFolder();
    const UpdateFiles files = UpdateFilesIn(programFolder);
    // An existing folder is reused; any other failure shows as the error of creating the file in it.
    QDir().mkdir(files.downloadFolder);
    if (!DownloadFile(UpdateAddress(), files.downloadedFile)) {
        block.reset();
        MessageBox(kServerUnreachable, kNoticeCaption, MessageBoxFlag::IconInformation | MessageBoxFlag::Ok);
        Application->RequestTermination();
        return;
    }
    writeLocalFile(files.script, ReplacementScript());
    // Whether the script started is not examined: the program ends either way, and the next sign-in
    // starts the same update again.
    startScript(files.script, programFolder);
    form->Timer1->start();
    block.release();
}

void RemoveLeftoverScript()
{
    QFile::remove(UpdateFilesIn(ProgramFolder()).script);
}
