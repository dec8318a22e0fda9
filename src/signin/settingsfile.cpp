#include "settingsfile.h"

#include "common/cp1251.h"
#include "common/error.h"
#include "common/programfolder.h"
#include "common/shiftedtext.h"
#include "common/systemfile.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>

namespace {

// Where each value lies in the file.
struct Field {
    int offset;
    int lengthAt;
};
constexpr Field kUser{0, 40};
constexpr Field kPassword{20, 41};
constexpr Field kServer{42, 82};
constexpr Field kDatabase{62, 83};

QString readValue(QByteArrayView bytes, Field f)
{
    const int length = qMin<int>(uchar(bytes[f.lengthAt]), kSettingsValueSize);
    return Cp1251::toUnicode(UnshiftText(bytes.sliced(f.offset, length)));
}

void writeValue(QByteArray &bytes, Field f, const QString &value, const char *what)
{
    if (!Cp1251::canEncode(value))
        throw Error(QStringLiteral("The %1 holds a character outside Windows-1251").arg(QLatin1String(what)));
    const QByteArray plain = Cp1251::fromUnicode(value);
    if (plain.size() > kSettingsValueSize)
        throw Error(QStringLiteral("The %1 is %2 bytes long; at most %3 fit")
                        .arg(QLatin1String(what))
                        .arg(plain.size())
                        .arg(kSettingsValueSize));
    for (qsizetype i = 0; i < plain.size(); ++i)
        bytes[f.offset + i] = char(uchar(plain[i]) - 1);
    bytes[f.lengthAt] = char(plain.size());
}

} // namespace

QString SettingsFilePath(const QString &programDir)
{
    return programDir + QDir::separator() + QStringLiteral("Data") + QDir::separator() +
           QStringLiteral("QEL");
}

TFirstConnectInfo ReadFirstConnectInfo()
{
    return ReadFirstConnectInfo(ProgramFolder());
}

TFirstConnectInfo ReadFirstConnectInfo(const QString &programDir)
{
    const QString path = SettingsFilePath(programDir);
    SystemFile file(path, SystemFile::Mode::Read);
    char buffer[kSettingsFileSize];
    int filled = 0;
    while (filled < kSettingsFileSize) {
        const qint64 n = file.read(buffer + filled, kSettingsFileSize - filled);
        if (n == 0)
            throw InOutError::fromCode(100); // the file ends before the 84th byte
        filled += int(n);
    }
    file.close();
    return DecodeFirstConnectInfo(QByteArrayView(buffer, kSettingsFileSize));
}

TFirstConnectInfo DecodeFirstConnectInfo(QByteArrayView bytes)
{
    QByteArray record = bytes.first(qMin<qsizetype>(bytes.size(), kSettingsFileSize)).toByteArray();
    record.resize(kSettingsFileSize, '\0');
    TFirstConnectInfo info;
    info.User = readValue(record, kUser);
    info.Password = readValue(record, kPassword);
    info.Database = readValue(record, kDatabase);
    info.Server = readValue(record, kServer);
    return info;
}

QByteArray EncodeFirstConnectInfo(const TFirstConnectInfo &info)
{
    QByteArray bytes(kSettingsFileSize, '\0');
    writeValue(bytes, kUser, info.User, "user name");
    writeValue(bytes, kPassword, info.Password, "password");
    writeValue(bytes, kServer, info.Server, "server");
    writeValue(bytes, kDatabase, info.Database, "database");
    return bytes;
}
