// The update's names: files beside the executable, the address on the update server, the scripts.

#include "update.h"

#include "common/error.h"
#include "common/programfolder.h"

#include <QFile>
#include <QRegularExpression>

#include <limits>

#ifndef QEL31_UPDATE_SERVER
#define QEL31_UPDATE_SERVER "qelupdate"
#endif
#ifndef QEL31_UPDATE_SIZE_LIMIT
#define QEL31_UPDATE_SIZE_LIMIT 268435456
#endif

UpdateFiles UpdateFilesIn(const QString &programFolder, UpdatePlatform platform)
{
    if (platform == UpdatePlatform::Windows)
        return {programFolder + QStringLiteral("\\tempQEL"),
                programFolder + QStringLiteral("\\tempQEL\\QEL 31.exe"),
                programFolder + QStringLiteral("\\QEL 31.bat"),
                programFolder + QStringLiteral("\\QEL 31.bat.part"),
                programFolder + QStringLiteral("\\tempQEL\\QEL 31.exe.sig")};
    return {programFolder + QStringLiteral("/tempQEL"), programFolder + QStringLiteral("/tempQEL/qel31"),
            programFolder + QStringLiteral("/qel31.sh"), programFolder + QStringLiteral("/qel31.sh.part"),
            programFolder + QStringLiteral("/tempQEL/qel31.sig")};
}

QString UpdatePath(UpdatePlatform platform)
{
    // The Windows file name holds a space, which HTTP carries encoded.
    return platform == UpdatePlatform::Windows ? QStringLiteral("/qelprogs/QEL%2031.exe")
                                               : QStringLiteral("/qelprogs/qel31");
}

QString UpdateAddressFor(const QString &server, UpdatePlatform platform)
{
    QString base = server.trimmed();
    if (!base.startsWith(QLatin1String("http://"), Qt::CaseInsensitive) &&
        !base.startsWith(QLatin1String("https://"), Qt::CaseInsensitive))
        base.prepend(QLatin1String("http://"));
    while (base.endsWith(QLatin1Char('/')))
        base.chop(1);
    return base + UpdatePath(platform);
}

QString DefaultUpdateServer()
{
    return QStringLiteral(QEL31_UPDATE_SERVER);
}

QString UpdateServer()
{
    QFile file(ProgramFolder() + QStringLiteral("/Data/update-server"));
    if (file.open(QIODevice::ReadOnly)) {
        const QString line = QString::fromUtf8(file.readLine()).trimmed();
        if (!line.isEmpty())
            return line;
    }
    return DefaultUpdateServer();
}

QString UpdateAddress()
{
    return UpdateAddressFor(UpdateServer());
}

QString SignatureAddressFor(const QString &updateAddress)
{
    return updateAddress + QStringLiteral(".sig");
}

qint64 DefaultUpdateSizeLimit()
{
    return qint64(QEL31_UPDATE_SIZE_LIMIT);
}

std::optional<qint64> parseSizeLimit(const QString &text)
{
    static const QRegularExpression form(QStringLiteral("^([0-9]{1,15})\\s*([KMG]?)$"),
                                         QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = form.match(text.trimmed());
    if (!match.hasMatch())
        return std::nullopt;
    const qint64 number = match.captured(1).toLongLong();
    const QString unit = match.captured(2).toUpper();
    const int shift = unit == QLatin1String("K")   ? 10
                      : unit == QLatin1String("M") ? 20
                      : unit == QLatin1String("G") ? 30
                                                   : 0;
    if (number <= 0 || number > (std::numeric_limits<qint64>::max() >> shift))
        return std::nullopt;
    return number << shift;
}

qint64 UpdateSizeLimit()
{
    const QString name = QStringLiteral("Data/update-size-limit");
    QFile file(ProgramFolder() + QLatin1Char('/') + name);
    if (!file.exists())
        return DefaultUpdateSizeLimit();
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("%1 cannot be read: %2").arg(name, file.errorString()));
    const QString line = QString::fromUtf8(file.readLine(256));
    const std::optional<qint64> limit = parseSizeLimit(line);
    if (!limit)
        throw Error(QStringLiteral("%1 must hold a number of bytes, optionally with K, M or G, not \"%2\"")
                        .arg(name, line.trimmed()));
    return *limit;
}

QByteArray ReplacementScript(UpdatePlatform platform)
{
    if (platform == UpdatePlatform::Windows) {
        // Deletes the old program file until it can (that is, until the program has ended), copies the
        // new one in, removes the download folder and starts the new version. Lines end in CR LF.
        return QByteArrayLiteral("@ECHO OFF\r\n"
                                 "SET QEL_PROG=QEL 31\r\n"
                                 "SET QEL_HOME=%CD%\r\n"
                                 "SET QEL_TEMP=%QEL_HOME%\\tempQEL\r\n"
                                 ":do_del\r\n"
                                 "DEL /Q \"%QEL_HOME%\\%QEL_PROG%.exe\"\r\n"
                                 "IF EXIST \"%QEL_HOME%\\%QEL_PROG%.exe\" GOTO do_del\r\n"
                                 "COPY \"%QEL_TEMP%\\%QEL_PROG%.exe\" \"%QEL_HOME%\\%QEL_PROG%.exe\"\r\n"
                                 "RD /S /Q \"%QEL_TEMP%\"\r\n"
                                 "\"%QEL_HOME%\\%QEL_PROG%.exe\"\r\n");
    }
    // A running program file can be replaced on Linux, so the script waits for the old process
    // itself: polling its id once a second, for ten minutes at most. The new file lies in the same
    // folder tree, so the move is a rename and the program file is never half written.
    return QByteArrayLiteral(
        "#!/bin/sh\n"
        "# Puts the downloaded version of the program in place once the old one (process id $1)\n"
        "# has ended, and starts it. The new version deletes this script.\n"
        "QEL_PROG=qel31\n"
        "QEL_HOME=$(cd \"$(dirname \"$0\")\" && pwd) || exit 1\n"
        "QEL_TEMP=\"$QEL_HOME/tempQEL\"\n"
        "tries=0\n"
        "while kill -0 \"$1\" 2>/dev/null; do\n"
        "    tries=$((tries + 1))\n"
        "    [ \"$tries\" -le 600 ] || exit 1\n"
        "    sleep 1\n"
        "done\n"
        "mv -f \"$QEL_TEMP/$QEL_PROG\" \"$QEL_HOME/$QEL_PROG\" || exit 1\n"
        "chmod +x \"$QEL_HOME/$QEL_PROG\"\n"
        "rm -rf \"$QEL_TEMP\"\n"
        "cd \"$QEL_HOME\" || exit 1\n"
        "nohup \"./$QEL_PROG\" </dev/null >/dev/null 2>&1 &\n");
}
