#include "connectionproperties.h"

#include "databaseerror.h"
#include "texts.h"

#include <QRegularExpression>

namespace {

constexpr int kDefaultPort = 1433;

bool isTrue(const QString &value)
{
    const QString v = value.trimmed();
    return v.compare(QLatin1String("true"), Qt::CaseInsensitive) == 0 ||
           v.compare(QLatin1String("yes"), Qt::CaseInsensitive) == 0 || v == QLatin1String("1");
}

} // namespace

ConnectionProperties parseConnectionString(const QString &text)
{
    ConnectionProperties p;
    qsizetype i = 0;
    const qsizetype n = text.size();
    while (i < n) {
        // key
        const qsizetype eq = text.indexOf(QLatin1Char('='), i);
        const qsizetype semi = text.indexOf(QLatin1Char(';'), i);
        if (eq < 0 || (semi >= 0 && semi < eq)) {
            const QString rest = text.mid(i, semi < 0 ? -1 : semi - i).trimmed();
            if (!rest.isEmpty())
                throw DatabaseError(dbtext::malformedConnectionString(i));
            i = semi < 0 ? n : semi + 1;
            continue;
        }
        const QString key = text.mid(i, eq - i).trimmed().toLower();
        i = eq + 1;
        // value
        QString value;
        while (i < n && text[i] == QLatin1Char(' '))
            ++i;
        if (i < n && (text[i] == QLatin1Char('"') || text[i] == QLatin1Char('\''))) {
            const QChar quote = text[i++];
            bool closed = false;
            while (i < n) {
                if (text[i] == quote) {
                    if (i + 1 < n && text[i + 1] == quote) {
                        value.append(quote);
                        i += 2;
                        continue;
                    }
                    ++i;
                    closed = true;
                    break;
                }
                value.append(text[i++]);
            }
            if (!closed)
                throw DatabaseError(dbtext::malformedConnectionString(eq + 1));
            const qsizetype next = text.indexOf(QLatin1Char(';'), i);
            i = next < 0 ? n : next + 1;
        } else {
            const qsizetype next = text.indexOf(QLatin1Char(';'), i);
            value = text.mid(i, next < 0 ? -1 : next - i);
            i = next < 0 ? n : next + 1;
        }

        if (key == QLatin1String("provider"))
            p.provider = value.trimmed();
        else if (key == QLatin1String("user id") || key == QLatin1String("uid"))
            p.user = value;
        else if (key == QLatin1String("password") || key == QLatin1String("pwd"))
            p.password = value;
        else if (key == QLatin1String("initial catalog") || key == QLatin1String("database"))
            p.database = value;
        else if (key == QLatin1String("data source") || key == QLatin1String("server") ||
                 key == QLatin1String("address"))
            p.dataSource = value;
        else if (key == QLatin1String("packet size"))
            p.packetSize = value.trimmed().toInt();
        else if (key == QLatin1String("use encryption for data"))
            p.encrypt = isTrue(value);
        else if (key == QLatin1String("auto translate"))
            p.autoTranslate = isTrue(value);
    }
    return p;
}

ServerAddress parseDataSource(const QString &dataSource)
{
    QString s = dataSource.trimmed();
    if (s.startsWith(QLatin1String("tcp:"), Qt::CaseInsensitive))
        s = s.mid(4).trimmed();
    ServerAddress a;
    const qsizetype comma = s.lastIndexOf(QLatin1Char(','));
    if (comma >= 0) {
        // Only a number a TCP port can have is a port; anything else after the comma stays part of
        // the name, which then does not resolve, rather than sending the driver to a port of no one.
        bool ok = false;
        const int port = s.mid(comma + 1).trimmed().toInt(&ok);
        if (ok && port >= 1 && port <= 65535) {
            a.port = port;
            s = s.left(comma).trimmed();
        }
    }
    const qsizetype slash = s.indexOf(QLatin1Char('\\'));
    if (slash >= 0) {
        a.instance = s.mid(slash + 1);
        s = s.left(slash);
    }
    if (s.isEmpty() || s == QLatin1String(".") ||
        s.compare(QLatin1String("(local)"), Qt::CaseInsensitive) == 0 ||
        s.compare(QLatin1String("(localdb)"), Qt::CaseInsensitive) == 0)
        s = QStringLiteral("127.0.0.1");
    a.host = s;
    return a;
}

QString odbcValue(const QString &value)
{
    static const QRegularExpression special(QStringLiteral(R"([;{}=\[\]()',"?*!@ ])"));
    if (!value.contains(special))
        return value;
    // FreeTDS ends a braced value at the first "};" (or at the string's end, a closing brace then
    // included), so a '}' inside needs no doubling (a doubled one would reach the server doubled).
    // odbcConnectionString() ends every pair with ';' and refuses a value holding "};".
    return QLatin1Char('{') + value + QLatin1Char('}');
}

QString driverEncryption(const ConnectionProperties &p)
{
    if (p.encrypt || p.encryption == EncryptionSetting::All)
        return QStringLiteral("require");
    if (p.encryption == EncryptionSetting::Off)
        return QStringLiteral("off");
    return QStringLiteral("request");
}

QByteArray driverConfiguration(const ConnectionProperties &p, const QString &authorityPath)
{
    // The file's values end at a comment sign or the line's end; a value holding one would be cut
    // short and mean something else.
    static const QRegularExpression cut(QStringLiteral("[#;\\r\\n]"));
    const ServerAddress address = parseDataSource(p.dataSource);
    if (address.host.contains(cut) || address.instance.contains(cut))
        throw DatabaseError(dbtext::serverNameUncheckable(p.dataSource));
    // The file's reader takes 256 bytes a line and folds runs of blanks into one.
    const QByteArray path = authorityPath.toUtf8();
    if (authorityPath.contains(cut) || authorityPath.contains(QLatin1String("  ")) ||
        authorityPath != authorityPath.trimmed() || path.size() > kLongestDriverPath)
        throw DatabaseError(dbtext::authorityPathUnwritable(authorityPath, kLongestDriverPath));
    QByteArray text = QByteArray("[") + kDriverServerEntry + "]\n";
    text += "\thost = " + address.host.toUtf8() + '\n';
    if (!address.instance.isEmpty() && address.port == 0)
        text += "\tinstance = " + address.instance.toUtf8() + '\n';
    else
        text += "\tport = " + QByteArray::number(address.port != 0 ? address.port : kDefaultPort) + '\n';
    text += "\ttds version = 7.4\n";
    text += "\tencryption = " + driverEncryption(p).toUtf8() + '\n';
    text += "\tca file = " + path + '\n';
    text += "\tcheck certificate hostname = yes\n";
    return text;
}

QString odbcConnectionString(const ConnectionProperties &p, int commandTimeout)
{
    const QString provider = p.provider.trimmed();
    if (provider.compare(QLatin1String("SQLOLEDB.1"), Qt::CaseInsensitive) != 0 &&
        provider.compare(QLatin1String("SQLOLEDB"), Qt::CaseInsensitive) != 0)
        throw DatabaseError(dbtext::providerMissing());

    // A value is carried in braces up to the first "};": one that holds those two characters would
    // reach the driver cut short, and the rest taken for further keys.
    const auto carried = [](const QString &value, const QString &what) {
        if (value.contains(QLatin1String("};")))
            throw DatabaseError(dbtext::valueCannotBeCarried(what));
        return odbcValue(value);
    };
    QStringList parts;
    parts << QStringLiteral("DRIVER={FreeTDS}");
    if (p.authorityFile.isEmpty()) {
        const ServerAddress address = parseDataSource(p.dataSource);
        QString server = address.host;
        if (!address.instance.isEmpty() && address.port == 0)
            server +=
                QLatin1Char('\\') + address.instance; // the driver asks the server's browser for the port
        parts << QStringLiteral("SERVER=") + carried(server, dbtext::serverName());
        if (address.instance.isEmpty() || address.port != 0)
            parts << QStringLiteral("PORT=%1").arg(address.port != 0 ? address.port : kDefaultPort);
    } else {
        parts << QStringLiteral("SERVERNAME=") + QLatin1String(kDriverServerEntry);
    }
    parts << QStringLiteral("DATABASE=") + carried(p.database, dbtext::databaseName())
          << QStringLiteral("UID=") + carried(p.user, dbtext::accountName())
          << QStringLiteral("PWD=") + carried(p.password, dbtext::password())
          << QStringLiteral("TDS_Version=7.4") << QStringLiteral("Encryption=") + driverEncryption(p)
          << QStringLiteral("ClientCharset=UTF-8")
          << QStringLiteral("PacketSize=%1").arg(p.packetSize > 0 ? p.packetSize : 4096)
          << QStringLiteral("APP=") + odbcValue(QStringLiteral("QEL 31"));
    // The driver's own limit for every command on the connection (0: none).
    if (commandTimeout > 0)
        parts << QStringLiteral("Timeout=%1").arg(commandTimeout);
    // Every pair ends with ';': a braced value at the string's very end would gain its closing brace.
    return parts.join(QLatin1Char(';')) + QLatin1Char(';');
}

QString withoutDriverPrefixes(const QString &message)
{
    // Qt joins the diagnostic records with blanks, each behind its "[vendor][component]" prefixes.
    // The server's messages are kept, one per line; the driver's own remark that the connection
    // failed adds nothing to the server's reason and goes.
    static const QRegularExpression prefixed(QStringLiteral(R"((?:^|\s+)((?:\[[^\]\s]*(?: [^\]\s]+)*\])+))"));
    QStringList messages;
    qsizetype textStart = 0;
    QRegularExpressionMatchIterator it = prefixed.globalMatch(message);
    const auto take = [&](qsizetype end) {
        const QString text = message.mid(textStart, end - textStart).trimmed();
        if (!text.isEmpty() && text != QLatin1String("Unable to connect to data source") &&
            !messages.contains(text))
            messages.append(text);
    };
    while (it.hasNext()) {
        const QRegularExpressionMatch m = it.next();
        if (m.capturedStart() > 0 || textStart > 0)
            take(m.capturedStart());
        textStart = m.capturedEnd();
    }
    take(message.size());
    return messages.join(QLatin1Char('\n'));
}
