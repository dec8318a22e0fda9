#pragma once
// What an administrator sets about the security of the workstation's connections, in small files
// beside the settings file:
//
//   Data/encryption  its first line: "login" (the default without the file), "all" or "off"
//   Data/ca.pem      the organisation's certificate authority (one or more PEM certificates)
//
// "login": the login travels inside TLS whenever the server can encrypt, everything does when the
// server requires it, the data otherwise in clear. "all": everything inside TLS; a server that cannot
// encrypt is refused. "off": nothing is encrypted; a server that requires encryption refuses the
// workstation. With Data/ca.pem the database server's certificate must be issued by that authority
// and carry the server's name as the settings write it, and an https:// update server's certificate
// must be issued by it too.

#include <QString>

enum class EncryptionSetting { Login, All, Off };

struct SecuritySettings {
    EncryptionSetting encryption = EncryptionSetting::Login;
    QString authorityFile; // empty: no authority of the organisation; certificates are not checked

    friend bool operator==(const SecuritySettings &, const SecuritySettings &) = default;
};

// The settings of the program folder. Throws Error, with the file's name and what it may hold, for a
// Data/encryption whose first line is none of the three words, and for files that exist but cannot
// be read: a setting that cannot be read is never taken for the weaker default.
SecuritySettings ReadSecuritySettings(const QString &programFolder);

// The two files, as the program folder holds them and as messages name them.
inline const QString kEncryptionSettingFile = QStringLiteral("Data/encryption");
inline const QString kAuthoritySettingFile = QStringLiteral("Data/ca.pem");
// The public key that the update's program files must be signed with (PEM, Ed25519).
inline const QString kUpdateKeySettingFile = QStringLiteral("Data/update-key.pem");
