// The client with a group shown, for the memory benchmark: the client's own start-up, the login
// "demo" typed and entered in the login window, then the group chosen in the main window. Once the
// students are drawn it says its peak memory and ends; on any failure it says "failed TEXT".
//
// Arguments: the program folder (whose Data/QEL points at the server) and the group's id.

#include "app/application.h"
#include "app/messagebox.h"
#include "common/programfolder.h"
#include "probe.h"
#include "program/startup.h"
#include "registration/dblookupcombobox.h"
#include "registration/unit1.h"
#include "signin/loginwidgets.h"
#include "signin/unit10.h"

namespace {

void fail(const QString &text)
{
    tellBenchmark("failed " + text.toUtf8().replace('\n', ' ').replace('\r', ' '));
    if (Application)
        Application->RequestTermination();
}

} // namespace

int main(int argc, char *argv[])
{
    GuiApplication app(argc, argv);
    GuiApplication::setApplicationName(QStringLiteral("qel31"));
    if (argc != 3) {
        tellBenchmark("failed usage: bench_memory_client PROGRAM_FOLDER GROUP_ID");
        return 2;
    }
    setProgramFolder(QString::fromLocal8Bit(argv[1]));
    const qint32 group = QByteArray(argv[2]).toInt();
    setMessageBoxHandler([](const MessageBoxRequest &box) {
        fail(box.text);
        return MessageBoxAnswer::Ok;
    });

    const FirstPaint login(QStringLiteral("Form8"), [] {
        Form8->Login_Edit->setText(QStringLiteral("demo"));
        Form8->Password_Edit->setText(QStringLiteral("demo"));
        Form8->SpeedButton2Click();
        if (Form8->ModalResult() == ModalResultValue::None)
            fail(QStringLiteral("sign-in: ") + Form8->RzLabel1->Caption());
    });
    const FirstPaint mainWindow(QStringLiteral("Form1"), [group] {
        HandleErrors([group] {
            Form1->DBLookupComboBox3->setKeyValue(group);
            Form1->DBLookupComboBox3Click();
        });
        Application->ProcessMessages();
        tellBenchmark("peak-kb " + QByteArray::number(peakResidentKb()));
        Application->RequestTermination();
    });
    return RunProgram();
}
