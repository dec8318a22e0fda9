#include "sandbox/tds/event.h"

namespace sandbox {

QString Event::text() const
{
    if (kind != EventKind::Rpc)
        return statement;
    if (statement.isEmpty())
        return procedure;
    return procedure + u' ' + statement;
}

QString kindName(EventKind kind)
{
    switch (kind) {
    case EventKind::LoginOk:
        return QStringLiteral("LOGIN-OK");
    case EventKind::LoginFailed:
        return QStringLiteral("LOGIN-FAILED");
    case EventKind::Batch:
        return QStringLiteral("BATCH");
    case EventKind::Rpc:
        return QStringLiteral("RPC");
    case EventKind::Attention:
        return QStringLiteral("ATTENTION");
    }
    return {};
}

QString encryptionName(SessionEncryption encryption)
{
    switch (encryption) {
    case SessionEncryption::None:
        return QStringLiteral("none");
    case SessionEncryption::LoginOnly:
        return QStringLiteral("login");
    case SessionEncryption::All:
        return QStringLiteral("all");
    }
    return {};
}

QString escapeLogField(const QString &field)
{
    QString out;
    out.reserve(field.size());
    for (const QChar c : field) {
        switch (c.unicode()) {
        case u'\\':
            out += QLatin1String("\\\\");
            break;
        case u'\t':
            out += QLatin1String("\\t");
            break;
        case u'\r':
            out += QLatin1String("\\r");
            break;
        case u'\n':
            out += QLatin1String("\\n");
            break;
        default:
            out += c;
            break;
        }
    }
    return out;
}

QString logValue(const Value &value)
{
    if (isNull(value))
        return QStringLiteral("\\N");
    if (const auto *i = std::get_if<qint64>(&value))
        return QString::number(*i);
    if (const auto *d = std::get_if<double>(&value))
        return QString::number(*d, 'g', 17);
    if (const auto *b = std::get_if<QByteArray>(&value))
        return QStringLiteral("0x") + QString::fromLatin1(b->toHex().toUpper());
    return escapeLogField(std::get<QString>(value));
}

QString logLine(const Event &event)
{
    if (event.kind == EventKind::Attention)
        return escapeLogField(event.login) + u'\t' + kindName(event.kind);
    QStringList fields{escapeLogField(event.login), kindName(event.kind), escapeLogField(event.text())};
    for (const Value &v : event.params)
        fields << logValue(v);
    if (event.kind == EventKind::LoginOk || event.kind == EventKind::LoginFailed)
        fields << QStringLiteral("encryption=") + encryptionName(event.encryption);
    return fields.join(u'\t');
}

} // namespace sandbox
