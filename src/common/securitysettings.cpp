#include "securitysettings.h"

#include "error.h"

#include <QFile>
#include <QFileInfo>

namespace {

// The file's first line, trimmed; empty for a file that does not exist.
QString firstLine(const QString &path, const QString &shownName)
{
    QFile file(path);
    if (!file.exists())
        return QString();
    if (!file.open(QIODevice::ReadOnly))
        throw Error(
            QStringLiteral("The security setting %1 cannot be read: %2.").arg(shownName, file.errorString()));
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
        throw Error(QStringLiteral("The security setting %1 holds \"%2\"; it may hold login, all or off.")
                        .arg(kEncryptionSettingFile, line));

    const QString authority = programFolder + u'/' + kAuthoritySettingFile;
    const QFileInfo info(authority);
    if (info.exists()) {
        QFile file(authority);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("The security setting %1 cannot be read: %2.")
                            .arg(kAuthoritySettingFile, file.errorString()));
        if (!file.read(1 << 20).contains("-----BEGIN CERTIFICATE-----"))
            throw Error(QStringLiteral("The security setting %1 holds no PEM certificate.")
                            .arg(kAuthoritySettingFile));
        settings.authorityFile = info.absoluteFilePath();
    }
    return settings;
}
