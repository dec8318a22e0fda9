#pragma once
// The main of a test executable that shows windows: the program's own Qt application (whose event
// dispatch catches handlers' errors) instead of QTEST_MAIN's.

#include "app/application.h"
#include "threads.h"

#include <QTest>

#define QEL31_TEST_MAIN(TestObject)                                                                          \
    int main(int argc, char *argv[])                                                                         \
    {                                                                                                        \
        int failed = 0;                                                                                      \
        {                                                                                                    \
            GuiApplication app(argc, argv);                                                                  \
            app.setAttribute(Qt::AA_Use96Dpi, true);                                                         \
            TestObject test;                                                                                 \
            QTEST_SET_MAIN_SOURCE_PATH                                                                       \
            failed = QTest::qExec(&test, argc, argv);                                                        \
        }                                                                                                    \
        waitForOtherThreadsToEnd();                                                                          \
        return failed;                                                                                       \
    }
