#include "securitysettings.h"

#include "error.h"

#include <QFile>
#include <QFileInfo>

namespace {

const QString kEncryptionFile = QStringLiteral("Data/encryption");
const QString kAuthorityFile = QStringLiteral("Data/ca.pem");

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

QString encryptionWord(EncryptionSetting setting)
{
    switch (setting) {
    case EncryptionSetting::All:
        return QStringLiteral("all");
    case EncryptionSetting::Off:
        return QStringLiteral("off");
    case EncryptionSetting::Login:
        break;
    }
    return QStringLiteral("login");
}

SecuritySettings ReadSecuritySettings(const QString &programFolder)
{
    SecuritySettings settings;
    const QString line = firstLine(programFolder + u'/' + kEncryptionFile, kEncryptionFile);
    const QString word = line.toLower();
    if (word == QLatin1String("all"))
        settings.encryption = EncryptionSetting::All;
    else if (word == QLatin1String("off"))
        settings.encryption = EncryptionSetting::Off;
    else if (!word.isEmpty() && word != QLatin1String("login"))
        throw Error(QStringLiteral("The security setting %1 holds \"%2\"; it may hold login, all or off.")
                        .arg(kEncryptionFile, line));

    const QString authority = programFolder + u'/' + kAuthorityFile;
    const QFileInfo info(authority);
    if (info.exists()) {
        QFile file(authority);
        if (!file.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("The security setting %1 cannot be read: %2.")
                            .arg(kAuthorityFile, file.errorString()));
        if (!file.read(1 << 20).contains("-----BEGIN CERTIFICATE-----"))
            throw Error(
                QStringLiteral("The security setting %1 holds no PEM certificate.").arg(kAuthorityFile));
        settings.authorityFile = info.absoluteFilePath();
    }
    return settings;
}
