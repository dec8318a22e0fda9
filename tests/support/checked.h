#pragma once
// A failed check (QVERIFY, QCOMPARE) inside a helper function returns from the helper only, and the
// test would go on as if it had passed. QEL31_CHECKED(helper(...)) runs the helper and ends the test
// function (or the calling helper) there when a check in it failed.

#include <QTest>

#define QEL31_CHECKED(call)                                                                                  \
    do {                                                                                                     \
        call;                                                                                                \
        if (QTest::currentTestFailed())                                                                      \
            return;                                                                                          \
    } while (false)
