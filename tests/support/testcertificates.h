#pragma once
// Certificates for tests of TLS: a test certificate authority, a server certificate it signed, a
// self-signed server certificate and a certificate it signed for another name, written as PEM
// files (keys unencrypted) into a folder. Keys are EC P-256, so making them is quick.

#include <QString>
#include <QStringList>

struct TestCertificate {
    QString certificate; // path of the PEM certificate
    QString key;         // path of its PEM private key
};

struct TestCertificates {
    TestCertificate authority;  // the test certificate authority (CA:TRUE)
    TestCertificate server;     // signed by the authority for the names given
    TestCertificate selfSigned; // for the same names, signed by itself
    TestCertificate other;      // signed by the authority for the other name only
};

// Makes the four certificates in folder (ca.pem/ca-key.pem, server.pem/server-key.pem,
// self-signed.pem/self-signed-key.pem, other.pem/other-key.pem). Each name is a DNS name or an IP
// address and becomes a subjectAltName of its kind; the first one is also the common name. A test
// that cannot make them ends at once.
TestCertificates makeTestCertificates(const QString &folder,
                                      const QStringList &names = {QStringLiteral("localhost"),
                                                                  QStringLiteral("127.0.0.1")},
                                      const QString &otherName = QStringLiteral("other.test"));
