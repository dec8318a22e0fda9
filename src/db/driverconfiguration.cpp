#include "driverconfiguration.h"

#include "connectionproperties.h"
#include "databaseerror.h"
#include "texts.h"

#include <QDir>
#include <QFile>
#include <QSaveFile>
#include <QTemporaryDir>

#include <cstdlib>
#include <memory>

namespace {

struct DriverFolder {
    std::unique_ptr<QTemporaryDir> folder;
    QByteArray environmentConfiguration; // the text of the file FREETDSCONF named before, if any
    QString error;                       // why there is no folder
};

DriverFolder &driverFolder()
{
    static DriverFolder state;
    return state;
}

// Whether the driver's configuration reader takes a path inside folder: one line of at most 256
// bytes, blanks not folded, no comment signs.
bool carriesPath(const QString &folder)
{
    const QString sample = folder + QStringLiteral("/ca.pem");
    return !sample.contains(QLatin1Char('#')) && !sample.contains(QLatin1Char(';')) &&
           !sample.contains(QLatin1String("  ")) && !sample.contains(QLatin1Char('\n')) &&
           sample == sample.trimmed() && sample.toUtf8().size() <= kLongestDriverPath;
}

QString fileError(const QString &path, const QString &reason)
{
    return dbtext::driverConfigurationUnwritable(path, reason);
}

} // namespace

void prepareDatabaseDriver()
{
    DriverFolder &state = driverFolder();
    if (state.folder || !state.error.isEmpty())
        return;
    // The folder for temporary files first; where its path cannot be written into the driver's file
    // (a long or odd TMPDIR), the system's own.
    for (const QString &base : {QDir::tempPath(), QStringLiteral("/tmp")}) {
        auto folder = std::make_unique<QTemporaryDir>(base + QStringLiteral("/qel31-driver-XXXXXX"));
        if (!folder->isValid()) {
            state.error = folder->errorString();
            continue;
        }
        if (!carriesPath(folder->path())) {
            state.error = dbtext::folderUnreadableForDriver(folder->path());
            continue;
        }
        state.folder = std::move(folder);
        state.error.clear();
        break;
    }
    if (!state.folder)
        return;
    const QString path = state.folder->filePath(QStringLiteral("freetds.conf"));
    // An administrator's own configuration goes on being read: it opens the client's file. Without
    // one the client's file is written only when a connection needs it; until then the driver reads
    // the user's and the system's files, as it would without the client.
    if (const char *named = std::getenv("FREETDSCONF"); named && *named) {
        QFile own(QFile::decodeName(named));
        if (own.open(QIODevice::ReadOnly))
            state.environmentConfiguration = own.readAll() + '\n';
        QSaveFile file(path);
        if (!file.open(QIODevice::WriteOnly) ||
            file.write(state.environmentConfiguration) != state.environmentConfiguration.size() ||
            !file.commit()) {
            state.error = fileError(path, file.errorString());
            state.folder.reset();
            return;
        }
    }
    setenv("FREETDSCONF", QFile::encodeName(path).constData(), 1);
}

void writeDriverConfiguration(const ConnectionProperties &properties)
{
    DriverFolder &state = driverFolder();
    if (!state.folder)
        throw DatabaseError(dbtext::driverConfigurationUnwritable(
            state.error.isEmpty() ? dbtext::driverFolderNotPrepared() : state.error));
    const QString copy = state.folder->filePath(QStringLiteral("ca.pem"));
    QFile authority(properties.authorityFile);
    if (!authority.open(QIODevice::ReadOnly))
        throw DatabaseError(dbtext::authorityUnreadable(properties.authorityFile, authority.errorString()));
    const QByteArray certificates = authority.readAll();
    QSaveFile copied(copy);
    if (!copied.open(QIODevice::WriteOnly) || copied.write(certificates) != certificates.size() ||
        !copied.commit())
        throw DatabaseError(fileError(copy, copied.errorString()));
    const QByteArray text = state.environmentConfiguration + driverConfiguration(properties, copy);
    const QString path = state.folder->filePath(QStringLiteral("freetds.conf"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(text) != text.size() || !file.commit())
        throw DatabaseError(fileError(path, file.errorString()));
}
