#include "unit10.h"

#include "app/application.h"
#include "app/messagebox.h"
#include "common/busy.h"
#include "common/cp1251.h"
#include "common/error.h"
#include "common/md5.h"
#include "common/programversion.h"
#include "common/shiftedtext.h"
#include "common/workstation.h"
#include "connectwith.h"
#include "db/adoconnection.h"
#include "db/adoquery.h"
#include "db/dm.h"
#include "getuserrequest.h"
#include "loginpictures.h"
#include "loginwidgets.h"
#include "settingsfile.h"
#include "signinreceiver.h"
#include "update/update.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QWindow>

TForm8 *Form8 = nullptr;

namespace {

const QString kChangePassword = QStringLiteral(
    "Вы должны поменять пароль\rЭто делается для безопастности и сохранения данных от злоумышлеников");
const QString kWrongLogin = QStringLiteral("Неверно ввели логин или пароль.");
const QString kConfirmationMismatch =
    QStringLiteral("Новый пароль подтвержден не верно!!!\rПодтвердите пароль заново.");

constexpr int kWidth = 497;
constexpr int kCreatedHeight = 273;
constexpr int kPanelOpenHeight = 416;
constexpr int kPanelClosedHeight = 275;

// The provider's text with every occurrence of the settings' user name taken out.
QString withoutUserName(QString text, const QString &user)
{
    if (!user.isEmpty())
        text.remove(user, Qt::CaseSensitive);
    return text;
}

// A credential as GET_USER stores it, decoded.
QString unshifted(const QString &column)
{
    return Cp1251::toUnicode(UnshiftText(Cp1251::fromUnicode(column)));
}

bool isEnterKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter;
}

} // namespace

TForm8::TForm8(QWidget *parent) : TForm(parent)
{
    setObjectName(QStringLiteral("Form8"));
    CentreOnFirstShow = true;
    setWindowTitle(QStringLiteral("Аутентификация"));
    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    resize(kWidth, kCreatedHeight);

    // Created in drawing order: later ones lie over earlier ones, the edit fields over all.
    Image1 = new TImage(this);
    Image1->setObjectName(QStringLiteral("Image1"));
    Image1->setGeometry(0, 0, 497, 278);
    Image1->setPictureSource(&LoginPicture);

    SpeedButton2 = new TSpeedButton(this);
    SpeedButton2->setObjectName(QStringLiteral("SpeedButton2"));
    SpeedButton2->setGeometry(349, 200, 55, 20);

    SpeedButton3 = new TSpeedButton(this);
    SpeedButton3->setObjectName(QStringLiteral("SpeedButton3"));
    SpeedButton3->setGeometry(346, 236, 139, 22);

    Image2 = new TImage(this);
    Image2->setObjectName(QStringLiteral("Image2"));
    Image2->setGeometry(0, 277, 497, 139);
    Image2->setPictureSource(&PasswordPicture);

    SpeedButton1 = new TSpeedButton(this);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setGeometry(418, 199, 67, 22);

    RzLabel1 = new TRzLabel(this);
    RzLabel1->setObjectName(QStringLiteral("RzLabel1"));
    RzLabel1->setGeometry(60, 107, 329, 78);

    Label1 = new QLabel(this);
    Label1->setObjectName(QStringLiteral("Label1"));
    QFont labelFont(QStringLiteral("MS Sans Serif"));
    labelFont.setPixelSize(13);
    labelFont.setBold(true);
    Label1->setFont(labelFont);
    Label1->move(6, 5);

    auto makeEdit = [this](const char *name, QRect geometry, bool autoSelect, bool password) {
        auto *edit = new TEdit(this);
        edit->setObjectName(QLatin1String(name));
        edit->setGeometry(geometry);
        edit->setFixedHeight(geometry.height());
        edit->AutoSelect = autoSelect;
        edit->setPasswordChar(password);
        edit->installEventFilter(this);
        return edit;
    };
    Login_Edit = makeEdit("Login_Edit", QRect(146, 202, 187, 21), false, false);
    Password_Edit = makeEdit("Password_Edit", QRect(146, 238, 187, 21), true, true);
    Edit1 = makeEdit("Edit1", QRect(148, 309, 186, 21), false, true);
    Edit2 = makeEdit("Edit2", QRect(148, 345, 186, 21), true, true);
    // What the new-password fields refuse when typed does not arrive by pasting or dropping either.
    // Backspace passes the key handler as the key that deletes; as a character of the text it is
    // none of the password's.
    for (TEdit *edit : {Edit1, Edit2})
        edit->setCharacterFilter([this, edit](QChar c) {
            if (c == QChar(8))
                return false;
            Edit1KeyPress(edit, c);
            return !c.isNull();
        });
    setTabOrder(Login_Edit, Password_Edit);
    setTabOrder(Password_Edit, Edit1);
    setTabOrder(Edit1, Edit2);

    IdIPWatch1 = new TIdIPWatch(this);
    IdIPWatch1->setObjectName(QStringLiteral("IdIPWatch1"));

    Timer1 = new QTimer(this);
    Timer1->setObjectName(QStringLiteral("Timer1"));
    Timer1->setInterval(2000);

    for (QWidget *dragArea :
         {static_cast<QWidget *>(Image1), static_cast<QWidget *>(Image2), static_cast<QWidget *>(RzLabel1)})
        dragArea->installEventFilter(this);

    // The pictures draw the fields' captions and the buttons' faces; assistive technology reads them
    // as the names of the fields and buttons.
    Login_Edit->setAccessibleName(QStringLiteral("Пользователь"));
    Password_Edit->setAccessibleName(QStringLiteral("Пароль"));
    Edit1->setAccessibleName(QStringLiteral("Новый пароль"));
    Edit2->setAccessibleName(QStringLiteral("Подтверждение"));
    SpeedButton2->setAccessibleName(QStringLiteral("Вход"));
    SpeedButton1->setAccessibleName(QStringLiteral("Отмена"));
    SpeedButton3->setAccessibleName(QStringLiteral("Дополнительно"));
    Image2->setAccessibleName(QStringLiteral("Замена пароля"));

    connect(SpeedButton2, &QAbstractButton::clicked, this,
            [this] { HandleErrors([this] { SpeedButton2Click(); }); });
    connect(SpeedButton1, &QAbstractButton::clicked, this,
            [this] { HandleErrors([this] { SpeedButton1Click(); }); });
    connect(SpeedButton3, &QAbstractButton::clicked, this,
            [this] { HandleErrors([this] { SpeedButton3Click(); }); });
    connect(Timer1, &QTimer::timeout, this, [this] { HandleErrors([this] { Timer1Timer(); }); });

    Login_Edit->setFocus();
}

TForm8::~TForm8()
{
    // The new-password fields' filters call this window's key handler; the fields outlive this
    // destructor (they go with the base widget, and may still check their text as they lose focus).
    Edit1->setCharacterFilter(nullptr);
    Edit2->setCharacterFilter(nullptr);
    if (Form8 == this)
        Form8 = nullptr;
}

void TForm8::FormCreate()
{
    RemoveLeftoverScript();
    Label1->setText(QStringLiteral("V.") + QString::number(ProgramVersion()));
    Label1->adjustSize();
    AttemptCount = 0;
    ChangePasswordMode = false;
    // Painting is double-buffered by the toolkit itself.
}

bool TForm8::SignIn(TADOConnection &connection, const QString &newPassword)
{
    TFirstConnectInfo info = ReadFirstConnectInfo();
    try {
        ConnectWith(connection, info);
    } catch (const Error &error) {
        // The attempt ends here: nothing more can be done without a connection.
        RzLabel1->setCaption(withoutUserName(error.message(), info.User));
        return false;
    }

    TADOQuery query(&connection);
    GetUserArguments arguments;
    arguments.computerName = WorkstationName();
    arguments.newPassword = newPassword;
    arguments.login = Login_Edit->text();
    arguments.passwordDigest = Md5Hex(Password_Edit->text());
    // A failing address lookup is not the exchange's error: it reaches the default error display
    // and leaves the connection open.
    arguments.ipAddress = IdIPWatch1->LocalIP(connection);
    query.setSQL({GetUserRequest(arguments)});

    try {
        query.Open();
        const QString message = query.fieldAsString(4);
        if (query.fieldAsInteger(5) >= 2) {
            UpdateProgram(this);
            return false;
        }
        if (!message.isEmpty()) {
            RzLabel1->setCaption(message);
            return false;
        }
        const qint32 passwordCheck = query.fieldAsInteger(3);
        if (passwordCheck < 0) {
            connection.Close();
            RzLabel1->setCaption(kChangePassword);
            SpeedButton3Click();
            SpeedButton3->setEnabled(false);
            return false;
        }
        if (AttemptCount == 1 && !query.fieldAsString(0).isEmpty() && passwordCheck < 20) {
            connection.Close();
            RzLabel1->setCaption(kChangePassword);
            SpeedButton3Click();
            return false;
        }
        info.User = unshifted(query.fieldAsString(0));
        info.Password = unshifted(query.fieldAsString(1));
        const qint32 userId = query.fieldAsInteger(2);
        if (SignInReceiver *receiver = signInReceiver())
            receiver->setUserId(userId);
        query.Close();

        try {
            ConnectWith(connection, info);
            Application->ShowMainWindow = true;
            if (SignInReceiver *receiver = signInReceiver())
                receiver->setUserLogin(Login_Edit->text());
            DM_MB->LoadUserFaculties(userId);
        } catch (const Error &error) {
            // The user's own connection failed (or the faculties could not be read on it): its
            // reason is shown as the first connection's is, without the database account's name.
            RzLabel1->setCaption(withoutUserName(error.message(), info.User));
            connection.Close();
            return false;
        }
        return true;
    } catch (const Error &error) {
        MessageBox(error.message(), Application->Title(), MessageBoxFlag::Ok, this);
        RzLabel1->setCaption(kWrongLogin);
        query.Close();
        connection.Close();
        return false;
    }
}

void UpdateProgram(TForm8 *form)
{
    UpdateProgram(UpdateWindow{form, form->Label1, form->Timer1});
}

void TForm8::SpeedButton2Click()
{
    ++AttemptCount;
    if (ChangePasswordMode && Edit1->text() != Edit2->text()) {
        Edit1->clear();
        Edit2->clear();
        RzLabel1->setCaption(kConfirmationMismatch);
        return;
    }
    // The sign-in waits on the server, on the workstation's address, and on an update's download;
    // a message box on the way lifts the busy pointer while it waits on the user (app/messagebox.h).
    const Busy busy;
    if (!SignIn(DM_MB->ADOCon, ChangePasswordMode ? Edit1->text() : QStringLiteral("NULL")))
        return;
    {
        TADOQuery dateFormat(&DM_MB->ADOCon);
        dateFormat.setSQL({QStringLiteral("SET DATEFORMAT dmy")});
        dateFormat.ExecSQL();
    }
    setModalResult(ModalResultValue::Ok);
}

void TForm8::SpeedButton1Click()
{
    Application->RequestTermination();
}

void TForm8::SpeedButton3Click()
{
    ChangePasswordMode = !ChangePasswordMode;
    resize(kWidth, ChangePasswordMode ? kPanelOpenHeight : kPanelClosedHeight);
}

void TForm8::Timer1Timer()
{
    if (Timer1->interval() == 2000)
        Timer1->setInterval(100);
    Application->RequestTermination();
}

bool TForm8::EditAllKeyDown(QObject *, QKeyEvent *event)
{
    if (!isEnterKey(event->key()))
        return false;
    SpeedButton2Click();
    return true;
}

void TForm8::Edit_serverKeyPress(QObject *, QChar &key)
{
    if (key == QChar(13))
        key = QChar();
}

void TForm8::EditAllNoBeep(QObject *sender, QChar &key)
{
    if (key == QChar(13) && sender == focusWidget())
        key = QChar();
}

void TForm8::Edit1KeyPress(QObject *, QChar &key)
{
    const char16_t c = key.unicode();
    const bool allowed = c == 8 || (c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'Z') || c == u'_' ||
                         (c >= u'a' && c <= u'z');
    if (!allowed)
        key = QChar();
}

// Runs the character handler of the field over the typed text; true when a character was dropped.
// Only typed characters are the handler's: the text of an editing key (Backspace, Delete, which
// carries U+007F under X11 and Wayland, Escape, Ctrl with a letter) is a control character, and the
// field acts on the key itself.
bool TForm8::filterTypedText(QObject *sender, QKeyEvent *event)
{
    const QString text = event->text();
    if (text.isEmpty() || event->key() == Qt::Key_Tab || event->key() == Qt::Key_Backtab)
        return false;
    for (QChar key : text) {
        if (key.category() == QChar::Other_Control)
            return false;
    }
    for (QChar key : text) {
        if (sender == Login_Edit)
            Edit_serverKeyPress(sender, key);
        else if (sender == Password_Edit)
            EditAllNoBeep(sender, key);
        else
            Edit1KeyPress(sender, key);
        if (key.isNull())
            return true;
    }
    return false;
}

void TForm8::Image1MouseDown(QObject *, Qt::MouseButton button, QPoint globalPosition)
{
    if (button != Qt::LeftButton)
        return;
    // The window system moves the window until the button is released; where it refuses (a bare X
    // server, the offscreen platform) the window follows the mouse by hand.
    if (windowHandle() && windowHandle()->startSystemMove())
        return;
    m_dragging = true;
    m_dragOffset = globalPosition - pos();
}

bool TForm8::eventFilter(QObject *watched, QEvent *event)
{
    bool consumed = false;
    HandleErrors([&] {
        const bool isEdit =
            watched == Login_Edit || watched == Password_Edit || watched == Edit1 || watched == Edit2;
        switch (event->type()) {
        case QEvent::KeyPress:
            if (isEdit) {
                auto *key = static_cast<QKeyEvent *>(event);
                consumed = EditAllKeyDown(watched, key) || filterTypedText(watched, key);
            }
            break;
        case QEvent::ShortcutOverride:
            // Enter belongs to the enter action, never to a default button or a shortcut.
            if (isEdit && isEnterKey(static_cast<QKeyEvent *>(event)->key()))
                event->accept();
            break;
        case QEvent::MouseButtonPress:
            if (!isEdit) {
                auto *mouse = static_cast<QMouseEvent *>(event);
                Image1MouseDown(watched, mouse->button(), mouse->globalPosition().toPoint());
            }
            break;
        case QEvent::MouseMove:
            if (!isEdit && m_dragging)
                move(static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - m_dragOffset);
            break;
        case QEvent::MouseButtonRelease:
            if (!isEdit && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton)
                m_dragging = false;
            break;
        default:
            break;
        }
    });
    return consumed || TForm::eventFilter(watched, event);
}
