// OpenSSL opened at run time: its functions with their headers' types, and what a caller is told when
// one cannot be had.

#include "common/error.h"
#include "common/openssl.h"

#include <QTest>

#include <openssl/crypto.h>
#include <openssl/ssl.h>

class TestOpenSsl : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void functionsOfBothLibrariesWork();
    void aMissingFunctionIsNamed_data();
    void aMissingFunctionIsNamed();
};

void TestOpenSsl::functionsOfBothLibrariesWork()
{
    QVERIFY2(OpenSsl::unavailable(OpenSsl::Crypto).isEmpty(),
             qPrintable(OpenSsl::unavailable(OpenSsl::Crypto)));
    QVERIFY2(OpenSsl::unavailable(OpenSsl::Ssl).isEmpty(), qPrintable(OpenSsl::unavailable(OpenSsl::Ssl)));

    const auto versionNumber = OPENSSL_FUNCTION(OpenSsl::Crypto, OpenSSL_version_num);
    QVERIFY(versionNumber() >= 0x30000000UL);

    // libssl's own functions, and libcrypto's through it.
    const auto newContext = OPENSSL_FUNCTION(OpenSsl::Ssl, SSL_CTX_new);
    const auto freeContext = OPENSSL_FUNCTION(OpenSsl::Ssl, SSL_CTX_free);
    const auto clientMethod = OPENSSL_FUNCTION(OpenSsl::Ssl, TLS_client_method);
    SSL_CTX *context = newContext(clientMethod());
    QVERIFY(context);
    freeContext(context);
    QCOMPARE(OPENSSL_FUNCTION(OpenSsl::Ssl, OpenSSL_version_num)(), versionNumber());
}

void TestOpenSsl::aMissingFunctionIsNamed_data()
{
    QTest::addColumn<int>("library");
    QTest::addColumn<QString>("file");
    QTest::newRow("libcrypto") << int(OpenSsl::Crypto) << QStringLiteral("libcrypto.so.3");
    QTest::newRow("libssl") << int(OpenSsl::Ssl) << QStringLiteral("libssl.so.3");
}

void TestOpenSsl::aMissingFunctionIsNamed()
{
    QFETCH(int, library);
    QFETCH(QString, file);
    try {
        OpenSsl::function(OpenSsl::Library(library), "QEL31_no_such_function");
        QFAIL("no error for a function the library lacks");
    } catch (const Error &error) {
        QVERIFY2(error.message().contains(QLatin1String("QEL31_no_such_function")),
                 qPrintable(error.message()));
        QVERIFY2(error.message().contains(file), qPrintable(error.message()));
    }
    // A libssl function asked of libcrypto alone is missing there.
    if (library == OpenSsl::Crypto)
        QVERIFY_THROWS_EXCEPTION(Error, OpenSsl::function(OpenSsl::Crypto, "SSL_CTX_new"));
}

QTEST_GUILESS_MAIN(TestOpenSsl)
#include "tst_openssl.moc"
