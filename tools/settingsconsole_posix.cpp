#include "settingsconsole.h"

#include <QFile>
#include <QFileInfo>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Readable by every user of the client, writable by its owner; the folders on the way open to all.
constexpr mode_t kFileMode = 0644;
constexpr mode_t kFolderMode = 0755;

QString octal(mode_t mode)
{
    return QStringLiteral("%1").arg(mode & 07777, 4, 8, QLatin1Char('0'));
}

// The terminal's settings while its echo is off, put back when a signal ends the program meanwhile.
termios g_savedTerminal;
volatile sig_atomic_t g_echoOff = 0;
constexpr int kEndingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

void restoreTerminalAndEnd(int signal)
{
    if (g_echoOff)
        ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

} // namespace

EchoOff::EchoOff()
{
    if (::tcgetattr(STDIN_FILENO, &g_savedTerminal) != 0)
        return;
    for (int signal : kEndingSignals)
        std::signal(signal, restoreTerminalAndEnd);
    termios quiet = g_savedTerminal;
    quiet.c_lflag &= ~tcflag_t(ECHO);
    quiet.c_lflag |= ECHONL;
    g_echoOff = 1;
    // What was typed before the prompt is dropped, as any password prompt does.
    ::tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
}

EchoOff::~EchoOff()
{
    if (!g_echoOff)
        return;
    ::tcsetattr(STDIN_FILENO, TCSANOW, &g_savedTerminal);
    g_echoOff = 0;
    for (int signal : kEndingSignals)
        std::signal(signal, SIG_DFL);
}

bool inputIsTerminal()
{
    return ::isatty(STDIN_FILENO);
}

// Makes the missing folders on the way with mode 0755, whatever the umask.
bool makeFolders(const QString &folder, QString *problem)
{
    if (QFileInfo(folder).isDir())
        return true;
    const QString parent = QFileInfo(folder).path();
    if (parent != folder && !makeFolders(parent, problem))
        return false;
    const QByteArray name = QFile::encodeName(folder);
    if (::mkdir(name.constData(), kFolderMode) != 0 && errno != EEXIST) {
        *problem = QStringLiteral("cannot make the folder %1: %2")
                       .arg(folder, QString::fromLocal8Bit(strerror(errno)));
        return false;
    }
    ::chmod(name.constData(), kFolderMode);
    return true;
}

// Mode 0644 whatever the umask, set before the file takes its name.
bool setReadableByAll(QSaveFile &file, QString *problem)
{
    if (::fchmod(file.handle(), kFileMode) == 0)
        return true;
    *problem = QStringLiteral("cannot set the mode of %1: %2")
                   .arg(file.fileName(), QString::fromLocal8Bit(strerror(errno)));
    return false;
}

// The client shows users who cannot read the file "File access denied.".
void warnWhenHiddenFromOthers(const QString &path, void (*warn)(const QString &))
{
    const QFileInfo file(path);
    struct stat st;
    if (::stat(QFile::encodeName(file.absoluteFilePath()).constData(), &st) == 0 && !(st.st_mode & S_IROTH)) {
        warn(QStringLiteral("%1 has mode %2: other users cannot read it and the client shows them "
                            "\"File access denied.\"; write it again with qel31-settings, or chmod 644 it")
                 .arg(path, octal(st.st_mode)));
    }
    QString folder = file.canonicalPath();
    while (!folder.isEmpty()) {
        if (::stat(QFile::encodeName(folder).constData(), &st) == 0 && !(st.st_mode & S_IXOTH)) {
            warn(QStringLiteral("the folder %1 has mode %2: other users cannot reach the file in it")
                     .arg(folder, octal(st.st_mode)));
        }
        if (folder == QLatin1String("/"))
            break;
        folder = QFileInfo(folder).path();
    }
}

QString fileRightsHelp()
{
    return QStringLiteral(
        "The file is replaced as a whole with mode 0644 (readable by every user of the client, "
        "writable by its owner) whatever the umask; folders made on the way get mode 0755.");
}
