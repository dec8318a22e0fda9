#include "securitysettings.h"

#include "error.h"

#include <QFile>
#include <QFileInfo>

namespace {

// What the login window's status line says of a setting it cannot take.
QString settingUnreadable(const QString &file, const QString &reason)
{
    return QStringLiteral("Не удалось прочесть настройку безопасности %1: %2.").arg(file, reason);
}
QString settingWordUnknown(const QString &file, const QString &word)
{
    return QStringLiteral("Настройка безопасности %1 содержит \"%2\", а допустимы только login, all и off.")
        .arg(file, word);
}
QString settingWithoutCertificate(const QString &file)
{
    return QStringLiteral("В настройке безопасности %1 нет сертификата в формате PEM.").arg(file);
}

// The file's first line, trimmed; empty for a file that does not exist.
QString firstLine(const QString &path, const QString &shownName)
{
    QFile file(path);
    if (!file.exists())
        return QString();
    if (!file.open(QIODevice::ReadOnly))
        throw Error(settingUnreadable(shownName, file.errorString()));
    return QString::fromUtf8(file.readLine(4096)).trimmed();
}

} // namespace

SecuritySettings ReadSecuritySettings(const QString &programFolder)
{
    SecuritySettings settings;
    const QString line = firstLine(programFolder + u'/' + kEncryptionSettingFile, kEncryptionSettingFile);
    const QString word = line.toLower();
    if (word == QLatin1String("all"))
        settings.encryption = EncryptionSetting::All;
    else if (word == QLatin1String("off"))
        settings.encryption = EncryptionSetting::Off;
    else if (!word.isEmpty() && word != QLatin1String("login"))
        throw Error(settingWordUnknown(kEncryptionSettingFile, line));

    const QString authority = programFolder + u'/' + kAuthoritySettingFile;
    const QFileInfo info(authority);
    if (info.exists()) {
        QFile file(authority);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(settingUnreadable(kAuthoritySettingFile, file.errorString()));
        if (!file.read(1 << 20).contains("-----BEGIN CERTIFICATE-----"))
            throw Error(settingWithoutCertificate(kAuthoritySettingFile));
        settings.authorityFile = info.absoluteFilePath();
    }
    return settings;
}
