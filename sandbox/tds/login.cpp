#include "sandbox/tds/login.h"

#include "sandbox/tds/bytes.h"

namespace sandbox::tds {

namespace {
enum PreLoginOption : quint8 {
    Version = 0x00,
    Encryption = 0x01,
    InstOpt = 0x02,
    ThreadId = 0x03,
    Mars = 0x04,
    Terminator = 0xFF,
};
} // namespace

PreLoginRequest parsePreLogin(const QByteArray &payload)
{
    PreLoginRequest request;
    ByteReader r(payload);
    for (int guard = 0; guard < 64; ++guard) {
        const quint8 option = r.u8();
        if (option == Terminator)
            return request;
        const quint16 offset = r.u16be();
        const quint16 length = r.u16be();
        if (qsizetype(offset) + length > payload.size())
            throw ProtocolError("PRELOGIN option outside the message");
        if (option == Encryption && length >= 1) {
            request.hasEncryption = true;
            request.encryption = quint8(payload[offset]);
        }
    }
    throw ProtocolError("PRELOGIN without terminator");
}

quint8 encryptionAnswer(EncryptionMode mode, const PreLoginRequest &request)
{
    const quint8 client = request.hasEncryption ? request.encryption : encrypt::NotSupported;
    switch (mode) {
    case EncryptionMode::None:
        return encrypt::NotSupported;
    case EncryptionMode::Supported:
        if (client == encrypt::Off || client == encrypt::NotSupported)
            return client;
        return encrypt::On;
    case EncryptionMode::Forced:
        return client == encrypt::On ? encrypt::On : encrypt::Required;
    }
    return encrypt::NotSupported;
}

QByteArray preLoginAnswer(quint8 encryption)
{
    struct Option {
        quint8 token;
        QByteArray data;
    };
    const Option options[] = {
        {Version, QByteArray("\x10\x00\x03\xe8\x00\x00", 6)}, // 16.0.1000, sub-build 0
        {Encryption, QByteArray(1, char(encryption))},
        {InstOpt, QByteArray(1, '\0')},
        {ThreadId, QByteArray()},
        {Mars, QByteArray(1, '\0')},
    };
    const int count = int(std::size(options));
    ByteWriter w;
    quint16 offset = quint16(count * 5 + 1);
    for (const Option &o : options) {
        w.u8(o.token);
        w.u16be(offset);
        w.u16be(quint16(o.data.size()));
        offset += quint16(o.data.size());
    }
    w.u8(Terminator);
    for (const Option &o : options)
        w.bytes(o.data);
    return w.data();
}

QString descramblePassword(const QByteArray &scrambled)
{
    QByteArray plain(scrambled.size(), Qt::Uninitialized);
    for (qsizetype i = 0; i < scrambled.size(); ++i) {
        const quint8 b = quint8(scrambled[i]) ^ 0xA5;
        plain[i] = char(quint8((b << 4) | (b >> 4)));
    }
    return fromUcs2(plain);
}

Login7 parseLogin7(const QByteArray &payload)
{
    ByteReader r(payload);
    const quint32 length = r.u32();
    if (length < 72 || length > quint32(payload.size()))
        throw ProtocolError("LOGIN7 length does not fit the message");
    ByteReader rec(payload, 0, length);
    rec.skip(4);
    Login7 login;
    login.tdsVersion = rec.u32();
    login.packetSize = rec.u32();
    rec.skip(4 + 4 + 4); // client program version, process id, connection id
    rec.skip(1);         // option flags 1
    login.odbc = (rec.u8() & 0x02) != 0;
    rec.skip(2);     // type flags, option flags 3
    rec.skip(4 + 4); // time zone, LCID

    // Reads one (offset, length in characters) pair and the text it points to.
    auto text = [&](QByteArray *raw = nullptr) {
        const quint16 offset = rec.u16();
        const quint16 chars = rec.u16();
        if (chars == 0)
            return QString();
        if (qsizetype(offset) + qsizetype(chars) * 2 > qsizetype(length))
            throw ProtocolError("LOGIN7 field outside the record");
        const QByteArray bytes = payload.mid(offset, qsizetype(chars) * 2);
        if (raw) {
            *raw = bytes;
            return QString();
        }
        return fromUcs2(bytes);
    };
    login.hostName = text();
    login.userName = text();
    QByteArray scrambled;
    text(&scrambled);
    login.password = descramblePassword(scrambled);
    login.appName = text();
    login.serverName = text();
    rec.skip(4); // FeatureExt offset and length (or unused): the extension block is skipped
    login.libraryName = text();
    login.language = text();
    login.database = text();
    // The client id, SSPI, attach-file and change-password fields are not used.
    return login;
}

} // namespace sandbox::tds
