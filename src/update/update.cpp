#include "update.h"

#include "app/application.h"
#include "app/messagebox.h"
#include "common/error.h"
#include "common/programfolder.h"
#include "common/securitysettings.h"
#include "common/systemfile.h"
#include "localfile.h"
#include "signature.h"

#include <QCoreApplication>
#include <QDebug>
#include <QDir>
#include <QEvent>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QPointer>
#include <QTimer>

#include <memory>

namespace {

const QString kNotice = QStringLiteral("Идёт обновление программы, ПОДОЖДИТЕ...");
const QString kServerUnreachable =
    QStringLiteral("Сервер обновлений не доступен.\rОбратитесь к администратору.");
const QString kNoticeCaption = QStringLiteral("Уведомление");
const QString kCannotInstall = QStringLiteral("Требуется новая версия программы.\rУстановить её в папку %1 "
                                              "этот пользователь не может.\rОбратитесь к администратору.");

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

ScriptStarter setScriptStarter(ScriptStarter starter)
{
    return std::exchange(installedStarter(), std::move(starter));
}

QString UpdateInstallObstacle(const QString &programFolder)
{
    // The download folder is made in the program folder, the script written there and the program
    // file replaced in it: all of it needs the right to write the folder (and an existing download
    // folder).
    QString why = SystemFile::folderWriteRefusal(programFolder);
    const QString downloadFolder = UpdateFilesIn(programFolder).downloadFolder;
    if (why.isEmpty() && QFileInfo(downloadFolder).isDir())
        why = SystemFile::folderWriteRefusal(downloadFolder);
    return why;
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
    const auto endWith = [&](const QString &message) {
        block.reset();
        MessageBox(message, kNoticeCaption, MessageBoxFlag::IconInformation | MessageBoxFlag::Ok,
                   form.window);
        Application->RequestTermination();
    };

    // A workstation whose program folder this user may not write (a packaged install) cannot update
    // itself: nothing is fetched, and the user learns whom to ask.
    const QString obstacle = UpdateInstallObstacle(programFolder);
    if (!obstacle.isEmpty()) {
        // The administrator reads the user's message, on one line, and why the folder is refused.
        const QString message = kCannotInstall.arg(QDir::toNativeSeparators(programFolder));
        qWarning().noquote() << QString(message).replace(QLatin1Char('\r'), QLatin1Char(' '))
                             << QStringLiteral(
                                    "(%1: %2; install the new version for the workstation, or make "
                                    "the folder writable for the users of the program)")
                                    .arg(QDir::toNativeSeparators(programFolder), obstacle);
        endWith(message);
        return;
    }

    // An existing folder is reused; any other failure shows as the error of creating the file in it.
    QDir().mkdir(files.downloadFolder);
    const QString address = UpdateAddress();
    // The settings the download depends on: a setting that cannot be read fails the download, nothing
    // is fetched without the check it may ask for.
    QString authority;
    qint64 sizeLimit = 0;
    std::optional<UpdateKey> key;
    QString failure;
    try {
        authority = ReadSecuritySettings(programFolder).authorityFile;
        sizeLimit = UpdateSizeLimit();
        key = UpdatePublicKey(programFolder);
    } catch (const Error &error) {
        failure = error.message();
    }
    bool downloaded =
        failure.isEmpty() && DownloadFile(address, files.downloadedFile, authority, sizeLimit, &failure);
    if (downloaded && key) {
        // The signature of the file's exact bytes, beside it on the server.
        constexpr qint64 kSignatureSizeLimit = 4096;
        const QString signatureAddress = SignatureAddressFor(address);
        QString why;
        if (!DownloadFile(signatureAddress, files.signature, authority, kSignatureSizeLimit, &why)) {
            failure = QStringLiteral("no signature could be had (%1)").arg(why);
        } else {
            QFile signatureFile(files.signature);
            const QByteArray signature =
                signatureFile.open(QIODevice::ReadOnly) ? signatureFile.readAll() : QByteArray();
            failure = VerifyFileSignature(*key, files.downloadedFile, signature);
        }
        QFile::remove(files.signature);
        if (!failure.isEmpty()) {
            // What does not verify is not kept: the download folder is left as after any failed
            // download.
            QFile::resize(files.downloadedFile, 0);
            downloaded = false;
        }
    }
    if (!downloaded) {
        qWarning().noquote()
            << QStringLiteral("The update from %1 was not installed: %2.").arg(address, failure);
        endWith(kServerUnreachable);
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
