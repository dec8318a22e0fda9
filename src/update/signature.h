#pragma once
// The signature of the new program file. The release manager signs each program file with the
// university's private key (Ed25519); the update server serves the signature beside the file, and a
// workstation that holds the public key installs nothing that does not verify against it.

#include <QByteArray>
#include <QString>

#include <optional>

// The public key that a program file must be signed with, as PEM text, and where it came from (for
// messages): Data/update-key.pem beside the settings file, or else the key built in at configure time.
struct UpdateKey {
    QByteArray pem;
    QString origin;
};

// The key in force for the program folder, or nothing when there is none (then updates are not
// signed). Throws Error when Data/update-key.pem exists but cannot be read: a key that cannot be read is
// never taken for no key.
std::optional<UpdateKey> UpdatePublicKey(const QString &programFolder);

// The key built in at configure time (-DQEL31_UPDATE_PUBLIC_KEY=FILE); empty when none was. Tests set
// their own; the previous one is returned.
QByteArray BuiltInUpdateKey();
QByteArray setBuiltInUpdateKey(const QByteArray &pem);

// Whether signature is an Ed25519 signature by the key of the file's exact bytes. Returns an empty text
// when it is, else why not, in words for the administrator. Reads the file into memory: Ed25519 signs
// the message whole.
QString VerifyFileSignature(const UpdateKey &key, const QString &file, const QByteArray &signature);
