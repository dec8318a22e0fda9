#include <QTest>
class TestSandbox_server : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void placeholder() {}
};
QTEST_GUILESS_MAIN(TestSandbox_server)
#include "tst_sandbox_server.moc"
