// qel31-settings: writes the client's connection settings file (Data/QEL beside the client), or shows
// what an existing one holds. The client only reads that file; administrators, the demo and the tests
// make it with this command.

#include "common/cp1251.h"
#include "common/error.h"
#include "common/systemfile.h"
#include "settingsconsole.h"
#include "signin/settingsfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>

#include <cerrno>
#include <cstdio>
#include <optional>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "qel31-settings: %s\n", qPrintable(message));
    return 1;
}

void warn(const QString &message)
{
    std::fprintf(stderr, "qel31-settings: warning: %s\n", qPrintable(message));
}

// --- The password from standard input ---------------------------------------------------------------

// One line of standard input without its line end; nothing when the input ends before any byte.
std::optional<QByteArray> readLine()
{
    QByteArray line;
    for (;;) {
        const int got = std::fgetc(stdin);
        if (got == EOF && std::ferror(stdin) && errno == EINTR) {
            std::clearerr(stdin);
            continue;
        }
        if (got == EOF) {
            if (line.isEmpty())
                return std::nullopt;
            break;
        }
        if (got == '\n')
            break;
        line.append(char(got));
    }
    if (line.endsWith('\r'))
        line.chop(1);
    return line;
}

std::optional<QByteArray> ask(const char *prompt)
{
    // The prompt comes only once the echo is off: nothing typed after it shows.
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    return readLine();
}

// The password when --password is not given: asked for twice on a terminal, otherwise the first line
// of standard input (an empty line is an empty password).
std::optional<QString> passwordFromInput(QString *problem)
{
    if (!inputIsTerminal()) {
        const std::optional<QByteArray> line = readLine();
        if (!line) {
            *problem = QStringLiteral("no --password and nothing on standard input; nothing was written");
            return std::nullopt;
        }
        return QString::fromLocal8Bit(*line);
    }
    const EchoOff echoOff;
    const std::optional<QByteArray> first = ask("Password: ");
    if (!first) {
        *problem = QStringLiteral("no password given; nothing was written");
        return std::nullopt;
    }
    const std::optional<QByteArray> again = ask("Password again: ");
    if (!again || *again != *first) {
        *problem = QStringLiteral("the two passwords differ; nothing was written");
        return std::nullopt;
    }
    return QString::fromLocal8Bit(*first);
}

// --- Writing and showing -----------------------------------------------------------------------------

int writeSettings(const QString &path, const QByteArray &bytes)
{
    QString problem;
    if (!makeFolders(QFileInfo(path).absolutePath(), &problem))
        return fail(problem + QStringLiteral("; nothing was written"));
    // The file is replaced as a whole or not at all, with its mode set before it takes the name.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    if (!setReadableByAll(file, &problem)) {
        file.cancelWriting();
        return fail(problem);
    }
    if (!file.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    warnWhenHiddenFromOthers(path, warn);
    return 0;
}

// Prints the values as the client reads them, the password masked, or the error the client shows.
int showSettings(const QString &path)
{
    char buffer[kSettingsFileSize];
    int filled = 0;
    try {
        SystemFile file(path, SystemFile::Mode::Read);
        for (qint64 n = 1; filled < kSettingsFileSize && n > 0; filled += int(n))
            n = file.read(buffer + filled, kSettingsFileSize - filled);
        file.close();
    } catch (const InOutError &error) {
        return fail(QStringLiteral("%1: %2.").arg(path, error.message()));
    }
    if (filled < kSettingsFileSize) {
        return fail(QStringLiteral("%1 holds %2 bytes, not %3: %4.")
                        .arg(path, QString::number(filled), QString::number(kSettingsFileSize),
                             InOutError::fromCode(100).message()));
    }

    const TFirstConnectInfo info = DecodeFirstConnectInfo(QByteArrayView(buffer, kSettingsFileSize));
    const QString password =
        info.Password.isEmpty() ? QStringLiteral("(empty)") : QString(info.Password.size(), QLatin1Char('*'));
    const QString text = QStringLiteral("user:     %1\npassword: %2\nserver:   %3\ndatabase: %4\n")
                             .arg(info.User, password, info.Server, info.Database);
    std::fputs(text.toLocal8Bit().constData(), stdout);
    warnWhenHiddenFromOthers(path, warn);
    return 0;
}

bool fits(const QString &value)
{
    return Cp1251::canEncode(value) && Cp1251::fromUnicode(value).size() <= kSettingsValueSize;
}

// Whether the values make a settings file, and if not, why not.
bool encodable(const TFirstConnectInfo &info, QString *problem)
{
    try {
        EncodeFirstConnectInfo(info);
        return true;
    } catch (const Error &e) {
        *problem = e.message();
    }
    // The values are checked in the file's order: user, password, server, database.
    if (fits(info.User) && fits(info.Password) && Cp1251::canEncode(info.Server) && !fits(info.Server)) {
        *problem += QStringLiteral(": give the server's IP address (as in 192.0.2.10,1433) or a short "
                                   "name that /etc/hosts or DNS resolves");
    }
    *problem += QStringLiteral("; nothing was written");
    return false;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qel31-settings"));

    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral(
            "Writes the 84-byte connection settings file that the QEL 31 client reads from Data/QEL beside "
            "its executable, or shows what one holds.\n"
            "\n"
            "Each value holds at most 20 characters of Windows-1251. A server name with its port seldom "
            "fits: give the server's IP address or a short name that /etc/hosts or DNS resolves.\n"
            "Without --password the password is read from standard input: asked for twice without echo on "
            "a terminal, otherwise the first line.\n"
            "%1\n"
            "The account given must be allowed to run GET_USER.")
            .arg(fileRightsHelp()));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("the settings file, e.g. /etc/qel31/QEL (installed) or build/bin/Data/QEL"));
    const QCommandLineOption show(
        QStringLiteral("show"),
        QStringLiteral("print the values of FILE (the password masked); write nothing"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("database user name"),
                                  QStringLiteral("U"));
    const QCommandLineOption password(
        QStringLiteral("password"),
        QStringLiteral("database password (it shows in the process list: leave it out to be asked)"),
        QStringLiteral("P"));
    const QCommandLineOption server(
        QStringLiteral("server"),
        QStringLiteral("server: host, host,port, host\\instance, tcp:host,port, (local) or ."),
        QStringLiteral("S"));
    const QCommandLineOption database(QStringLiteral("database"), QStringLiteral("database name"),
                                      QStringLiteral("D"));
    parser.addOptions({show, user, password, server, database});
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return fail(QStringLiteral("give exactly one FILE (see --help)"));
    const QString path = files.constFirst();

    if (parser.isSet(show)) {
        for (const auto &option : {user, password, server, database}) {
            if (parser.isSet(option))
                return fail(
                    QStringLiteral("--show writes nothing: leave out --%1").arg(option.names().constFirst()));
        }
        return showSettings(path);
    }

    for (const auto &option : {user, server, database}) {
        if (!parser.isSet(option))
            return fail(QStringLiteral("--%1 is missing (see --help)").arg(option.names().constFirst()));
    }

    TFirstConnectInfo info;
    info.User = parser.value(user);
    info.Password = parser.value(password);
    info.Server = parser.value(server);
    info.Database = parser.value(database);

    // The values given are checked before the password is asked for.
    QString problem;
    if (!encodable(info, &problem))
        return fail(problem);
    if (!parser.isSet(password)) {
        const std::optional<QString> given = passwordFromInput(&problem);
        if (!given)
            return fail(problem);
        info.Password = *given;
        if (!encodable(info, &problem))
            return fail(problem);
    }

    return writeSettings(path, EncodeFirstConnectInfo(info));
}
