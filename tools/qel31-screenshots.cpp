// qel31-screenshots: pictures of the client's windows, made by the client's own code without a
// display, for the README (kept in docs/screenshots):
//
//     QT_QPA_PLATFORM=offscreen qel31-screenshots docs/screenshots
//
// The demo university is served by the sandbox server inside this process on 127.0.0.1, a temporary
// program folder holds the settings file for it, and the windows are created and driven as start-up
// and a user do: typed into, clicked, chosen from. Writes into the folder given:
//   login.png          the login window as it opens
//   login-expired.png  the login window after signing in as "expired": the panel for the new
//                      password open, the status text telling why
//   main.png           the main window of "demo" with a group chosen: its students, the monitor
//                      highlighted among them and named in the monitor field
//   main-dropdown.png  the same with the group list dropped down over the window
// Every message box counts as a failure: none belongs on these paths.

#include "app/application.h"
#include "app/messagebox.h"
#include "common/programfolder.h"
#include "common/workstation.h"
#include "db/dm.h"
#include "registration/dblookupcombobox.h"
#include "registration/unit1.h"
#include "sandbox/tds/sandboxserver.h"
#include "signin/loginwidgets.h"
#include "signin/settingsfile.h"
#include "signin/unit10.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLineEdit>
#include <QListView>
#include <QPainter>
#include <QPixmap>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTest>

#include <cstdio>

namespace {

// Thrown when a step does not leave the windows as the picture needs them.
struct Failure {
    QString what;
};

void require(bool condition, const QString &what)
{
    if (!condition)
        throw Failure{what};
}

void save(const QPixmap &picture, const QDir &folder, const QString &name)
{
    const QString path = folder.filePath(name);
    require(picture.save(path, "PNG"), QStringLiteral("cannot write %1").arg(path));
    std::printf("%s\n", qPrintable(path));
}

void waitUntilShown(QWidget *window)
{
    window->show();
    require(QTest::qWaitForWindowExposed(window), window->objectName() + QStringLiteral(" was not shown"));
    // Layouts and pending paints are done before the picture is taken.
    QCoreApplication::processEvents();
}

void signIn(const QString &login, const QString &password)
{
    Form8->Login_Edit->clear();
    QTest::keyClicks(Form8->Login_Edit, login);
    QTest::keyClicks(Form8->Password_Edit, password);
    QTest::mouseClick(Form8->SpeedButton2, Qt::LeftButton);
}

// A fresh login window, as the main window's creation makes one.
void openLoginWindow()
{
    delete Form8;
    Form8 = new TForm8();
    Form8->FormCreate();
    waitUntilShown(Form8);
}

QListView *dropDownList(TDBLookupComboBox *box)
{
    auto *view = box->findChild<QListView *>(QStringLiteral("dropDownList"));
    require(view, box->objectName() + QStringLiteral(" has no drop-down list"));
    return view;
}

// Chooses the entry of the row with the mouse in the open list, as a user does.
void chooseRow(TDBLookupComboBox *box, int row)
{
    if (!box->ListVisible())
        QTest::mousePress(box, Qt::LeftButton);
    require(box->ListVisible(), box->objectName() + QStringLiteral(" did not drop down"));
    QListView *view = dropDownList(box);
    const QModelIndex index = view->model()->index(row, view->modelColumn());
    view->scrollTo(index);
    const QPoint at = view->visualRect(index).center();
    QTest::mousePress(view->viewport(), Qt::LeftButton, {}, at);
    QTest::mouseRelease(view->viewport(), Qt::LeftButton, {}, at);
}

int rowCount(TDBLookupComboBox *box)
{
    if (!box->ListVisible())
        QTest::mousePress(box, Qt::LeftButton);
    return dropDownList(box)->model()->rowCount();
}

// The window with its open drop-down painted where the window system shows it.
QPixmap withDropDown(QWidget *window, TDBLookupComboBox *box)
{
    QPixmap picture = window->grab();
    QWidget *dropDown = dropDownList(box)->window();
    QPainter painter(&picture);
    painter.drawPixmap(dropDown->mapToGlobal(QPoint(0, 0)) - window->mapToGlobal(QPoint(0, 0)),
                       dropDown->grab());
    return picture;
}

void makeScreenshots(const QDir &folder)
{
    // The windows as start-up creates them: the data module, the hidden main window, the login window.
    TApplication application;
    DM_MB = new TDM_MB();
    Form1 = new TForm1();
    const auto release = qScopeGuard([] {
        delete Form8;
        delete Form1;
        delete DM_MB;
    });

    openLoginWindow();
    save(Form8->grab(), folder, QStringLiteral("login.png"));

    signIn(QStringLiteral("expired"), QStringLiteral("demo"));
    require(Form8->ChangePasswordMode, QStringLiteral("signing in as expired did not open the panel"));
    save(Form8->grab(), folder, QStringLiteral("login-expired.png"));

    openLoginWindow();
    signIn(QStringLiteral("demo"), QStringLiteral("demo"));
    require(Form8->ModalResult() == ModalResultValue::Ok, QStringLiteral("demo could not sign in"));
    delete Form8;
    waitUntilShown(Form1);

    // The first faculty, the latest year, and the first of its groups that has a monitor.
    chooseRow(Form1->DBLookupComboBox1, 0);
    chooseRow(Form1->DBLookupComboBox2, rowCount(Form1->DBLookupComboBox2) - 1);
    const int groups = rowCount(Form1->DBLookupComboBox3);
    for (int row = 0; row < groups && Form1->DBEdit1->text().isEmpty(); ++row)
        chooseRow(Form1->DBLookupComboBox3, row);
    require(!Form1->DBEdit1->text().isEmpty(), QStringLiteral("no group of the latest year has a monitor"));
    QCoreApplication::processEvents();
    save(Form1->grab(), folder, QStringLiteral("main.png"));

    QTest::mousePress(Form1->DBLookupComboBox3, Qt::LeftButton);
    require(Form1->DBLookupComboBox3->ListVisible(), QStringLiteral("the group list did not drop down"));
    save(withDropDown(Form1, Form1->DBLookupComboBox3), folder, QStringLiteral("main-dropdown.png"));
    Form1->DBLookupComboBox3->CloseUp(false);
}

// The offscreen platform reports for every window what it cannot do; that is no concern of the pictures.
QtMessageHandler g_defaultMessages = nullptr;

void dropPlatformNotes(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (!message.startsWith(QLatin1String("This plugin does not support")))
        g_defaultMessages(type, context, message);
}

int fail(const QString &message)
{
    std::fprintf(stderr, "qel31-screenshots: %s\n", qPrintable(message));
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    g_defaultMessages = qInstallMessageHandler(dropPlatformNotes);
    GuiApplication app(argc, argv);
    GuiApplication::setApplicationName(QStringLiteral("qel31"));
    if (argc != 2) {
        std::fprintf(stderr, "usage: QT_QPA_PLATFORM=offscreen qel31-screenshots FOLDER\n"
                             "writes pictures of the client's windows into FOLDER\n");
        return 2;
    }
    const QDir folder(QString::fromLocal8Bit(argv[1]));
    if (!QDir().mkpath(folder.path()))
        return fail(QStringLiteral("cannot make %1").arg(folder.path()));

    sandbox::SandboxServer server(QString(), true);
    QString error;
    if (!server.start(QStringLiteral("127.0.0.1"), 0, &error))
        return fail(error);

    QTemporaryDir programFolder;
    if (!programFolder.isValid())
        return fail(QStringLiteral("cannot make a temporary program folder"));
    setProgramFolder(programFolder.path());
    const QString settingsPath = SettingsFilePath(programFolder.path());
    QDir().mkpath(QFileInfo(settingsPath).path());
    QFile settings(settingsPath);
    const QByteArray bytes =
        EncodeFirstConnectInfo({QStringLiteral("qel_gate"), QStringLiteral("gate"), QStringLiteral("qel"),
                                QStringLiteral("127.0.0.1,%1").arg(server.port())});
    if (!settings.open(QIODevice::WriteOnly) || settings.write(bytes) != bytes.size())
        return fail(QStringLiteral("cannot write %1").arg(settingsPath));
    settings.close();

    // The workstation's address is what the sign-in reports; the host's own name need not resolve.
    setAddressLookup([](const QByteArray &) { return AddressLookupResult{{0x7f000001}, 0}; });
    QStringList boxes;
    setMessageBoxHandler([&boxes](const MessageBoxRequest &request) {
        boxes << displayText(request.text);
        return MessageBoxAnswer::Ok;
    });

    try {
        makeScreenshots(folder);
    } catch (const Failure &failure) {
        return fail(failure.what);
    } catch (...) {
        return fail(currentErrorText());
    }
    if (!boxes.isEmpty())
        return fail(QStringLiteral("a message box was shown: ") + boxes.join(QStringLiteral(" | ")));
    return 0;
}
