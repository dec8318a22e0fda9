#include <QTest>
class TestSandbox_engine : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void placeholder() {}
};
QTEST_GUILESS_MAIN(TestSandbox_engine)
#include "tst_sandbox_engine.moc"
