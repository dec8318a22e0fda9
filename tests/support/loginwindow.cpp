#include "loginwindow.h"

#include "db/dm.h"
#include "registration/unit1.h"
#include "signin/unit10.h"

#include <QTest>

bool showLoginWindow()
{
    new TDM_MB();
    Form1 = new TForm1();
    Form8 = new TForm8();
    Form8->FormCreate();
    Form8->show();
    return QTest::qWaitForWindowExposed(Form8);
}
