// qel31-settings: writes the client's connection settings file (Data/QEL beside the client).
// The client only reads that file; administrators, the demo and the tests make it with this command.

#include "common/error.h"
#include "signin/settingsfile.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QSaveFile>

#include <cstdio>

namespace {

int fail(const QString &message)
{
    std::fprintf(stderr, "qel31-settings: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("qel31-settings"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Writes the 84-byte connection settings file that the QEL 31 client reads from Data/QEL beside "
        "its executable. The account given must be allowed to run GET_USER. Each value holds at most "
        "20 characters of Windows-1251."));
    parser.addHelpOption();
    parser.addPositionalArgument(
        QStringLiteral("FILE"),
        QStringLiteral("the settings file to write, e.g. /etc/qel31/QEL (installed) or build/bin/Data/QEL"));
    const QCommandLineOption user(QStringLiteral("user"), QStringLiteral("database user name"),
                                  QStringLiteral("U"));
    const QCommandLineOption password(QStringLiteral("password"), QStringLiteral("database password"),
                                      QStringLiteral("P"));
    const QCommandLineOption server(
        QStringLiteral("server"),
        QStringLiteral("server: host, host,port, host\\instance, tcp:host,port, (local) or ."),
        QStringLiteral("S"));
    const QCommandLineOption database(QStringLiteral("database"), QStringLiteral("database name"),
                                      QStringLiteral("D"));
    parser.addOptions({user, password, server, database});
    parser.process(app);

    const QStringList files = parser.positionalArguments();
    if (files.size() != 1)
        return fail(QStringLiteral("give exactly one FILE (see --help)"));
    for (const auto &option : {user, password, server, database}) {
        if (!parser.isSet(option))
            return fail(QStringLiteral("--%1 is missing (see --help)").arg(option.names().constFirst()));
    }

    TFirstConnectInfo info;
    info.User = parser.value(user);
    info.Password = parser.value(password);
    info.Server = parser.value(server);
    info.Database = parser.value(database);

    QByteArray bytes;
    try {
        bytes = EncodeFirstConnectInfo(info);
    } catch (const Error &e) {
        return fail(e.message() + QStringLiteral("; nothing was written"));
    }

    const QString path = files.constFirst();
    QDir().mkpath(QFileInfo(path).absolutePath());
    // The file is replaced as a whole or not at all.
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit())
        return fail(QStringLiteral("cannot write %1: %2").arg(path, file.errorString()));
    return 0;
}
