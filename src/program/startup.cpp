#include "program/startup.h"

#include "app/application.h"
#include "db/dm.h"
#include "registration/unit1.h"

int RunProgram()
{
    TApplication application;
    DM_MB = new TDM_MB();
    application.CreateForm(Form1);
    application.Run();
    delete Form1;
    delete DM_MB;
    return 0;
}
