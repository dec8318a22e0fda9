#pragma once
// Why a connection failed, where the cause lies in its encryption. The driver reports a failed
// handshake or a refused encryption with one text for every cause ("Adaptive Server connection
// failed"); after such a failure the client meets the server once more, alone: it sends the same
// pre-login, reads the server's answer on encryption and, where TLS follows, completes a handshake
// and checks the certificate as the connection would. Nothing else is sent: no login, no password.

#include "common/securitysettings.h"

#include <QString>

struct EncryptionProbe {
    QString host; // the server's name as the settings write it
    int port = 1433;
    EncryptionSetting encryption = EncryptionSetting::Login;
    QString authorityFile; // empty: the certificate is not checked
    int timeoutSeconds = 15;
};

// The cause in words an administrator can act on, or an empty text when the server cannot be
// reached at all or its encryption is not the cause.
QString explainEncryptionFailure(const EncryptionProbe &probe);
