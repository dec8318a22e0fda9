#include "tempprogramfolder.h"

#include "signin/settingsfile.h"

#include <QDir>
#include <QFile>
#include <QTest>

TempProgramFolder::TempProgramFolder()
{
    if (!m_dir.isValid())
        qFatal("cannot make a temporary program folder: %s", qPrintable(m_dir.errorString()));
}

QString TempProgramFolder::settingsPath() const
{
    return SettingsFilePath(path());
}

void TempProgramFolder::makeDataFolder() const
{
    if (!QDir(path()).mkpath(QStringLiteral("Data")))
        qFatal("cannot make %s/Data", qPrintable(path()));
}

void TempProgramFolder::writeSettings(const QByteArray &bytes) const
{
    makeDataFolder();
    QFile file(settingsPath());
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) || file.write(bytes) != bytes.size())
        qFatal("cannot write %s", qPrintable(settingsPath()));
}

QByteArray settingsBytes(const QByteArray &user, quint8 userLength, const QByteArray &password,
                         quint8 passwordLength, const QByteArray &server, quint8 serverLength,
                         const QByteArray &database, quint8 databaseLength)
{
    QByteArray bytes(kSettingsFileSize, '\0');
    const auto put = [&bytes](int offset, const QByteArray &area) {
        for (int i = 0; i < qMin<int>(area.size(), kSettingsValueSize); ++i)
            bytes[offset + i] = area[i];
    };
    put(0, user);
    put(20, password);
    bytes[40] = char(userLength);
    bytes[41] = char(passwordLength);
    put(42, server);
    put(62, database);
    bytes[82] = char(serverLength);
    bytes[83] = char(databaseLength);
    return bytes;
}
