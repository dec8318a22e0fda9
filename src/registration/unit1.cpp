#include "unit1.h"

#include "app/application.h"
#include "app/messagebox.h"
#include "common/error.h"
#include "db/dm.h"
#include "dblookupcombobox.h"
#include "dblookuplistbox.h"
#include "signin/unit10.h"

#include <QFrame>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QToolButton>
#include <QVBoxLayout>

TForm1 *Form1 = nullptr;

namespace {

const QColor kSilver(0xC0, 0xC0, 0xC0);
const QColor kNavy(0x00, 0x00, 0x80);

// A key as a statement writes it: its decimal digits, Null as nothing.
QString keyText(const Key &key)
{
    return key ? QString::number(*key) : QString();
}

QWidget *panel(QWidget *parent, const char *name)
{
    auto *widget = new QWidget(parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

QLabel *label(QWidget *parent, const char *name, const QString &text)
{
    auto *widget = new QLabel(text, parent);
    widget->setObjectName(QLatin1String(name));
    return widget;
}

void paintBackground(QWidget *widget, const QColor &colour)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, colour);
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void makeHeading(QLabel *label)
{
    QFont font = label->font();
    font.setPixelSize(13);
    font.setBold(true);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kNavy);
    label->setPalette(palette);
    label->adjustSize();
}

} // namespace

TForm1::TForm1(QWidget *parent) : TForm(parent)
{
    // The sign-in writes into the main window of the moment, whichever that is.
    setSignInReceiverLookup([]() -> SignInReceiver * { return Form1; });
    setObjectName(QStringLiteral("Form1"));
    CentreOnFirstShow = true;
    setWindowTitle(applicationTitle());
    // The title bar holds the system menu, minimise and close, and no maximise: the hints are taken
    // as given only together with CustomizeWindowHint, without which window managers add their own.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);
    QFont font(QStringLiteral("MS Sans Serif"));
    font.setPixelSize(11);
    setFont(font);
    setFixedWidth(655);
    resize(655, 623);

    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    buildHeader();
    layout->addWidget(Panel4);
    Bevel1 = new QFrame(this);
    Bevel1->setObjectName(QStringLiteral("Bevel1"));
    Bevel1->setFrameShape(QFrame::HLine);
    Bevel1->setFrameShadow(QFrame::Sunken);
    Bevel1->setFixedHeight(2);
    layout->addWidget(Bevel1);
    Bevel6 = panel(this, "Bevel6");
    Bevel6->setFixedHeight(4);
    layout->addWidget(Bevel6);
    buildBody();
    connectHandlers();

    // Assistive technology names each field by its label.
    const std::pair<QLabel *, QWidget *> labelled[] = {{Label1, DBLookupComboBox1},
                                                       {Label2, DBLookupComboBox2},
                                                       {Label4, DBLookupComboBox3},
                                                       {Label3, DBLookupListBox1},
                                                       {Label5, DBEdit1}};
    for (const auto &[label, field] : labelled) {
        label->setBuddy(field);
        field->setAccessibleName(label->text().trimmed());
    }
}

void TForm1::buildHeader()
{
    Panel4 = panel(this, "Panel4");
    Panel4->setFixedHeight(62);
    paintBackground(Panel4, kSilver);
    // The inner panel is one pixel taller than the outer one, which clips it.
    Panel5 = panel(Panel4, "Panel5");
    Panel5->setGeometry(0, 0, 655, 63);
    paintBackground(Panel5, kSilver);

    Label1 = label(Panel5, "Label1", QStringLiteral("Факультет:"));
    Label1->move(22, 10);
    makeHeading(Label1);
    Label2 = label(Panel5, "Label2", QStringLiteral("Учебный год:"));
    Label2->move(7, 39);
    makeHeading(Label2);
    Label4 = label(Panel5, "Label4", QStringLiteral("Группа:"));
    Label4->move(220, 38);
    makeHeading(Label4);

    auto lookup = [this](const char *name, QRect geometry, TDataSource *source, const char *keyField,
                         const char *listField) {
        auto *list = new TDBLookupComboBox(Panel5);
        list->setObjectName(QLatin1String(name));
        list->setGeometry(geometry);
        list->setListSource(source);
        list->setKeyField(QLatin1String(keyField));
        list->setListField(QLatin1String(listField));
        list->setDropDownRows(20);
        return list;
    };
    DBLookupComboBox1 =
        lookup("DBLookupComboBox1", QRect(110, 7, 526, 21), &DM_MB->DS_Faculty, "id_faculty", "p23-1");
    DBLookupComboBox2 =
        lookup("DBLookupComboBox2", QRect(110, 37, 103, 21), &DM_MB->DS_Year, "id_a_year", "p32");
    DBLookupComboBox3 =
        lookup("DBLookupComboBox3", QRect(282, 36, 354, 21), &DM_MB->DS_group, "id_group", "p20");
    DBLookupComboBox2->setEnabled(false);
    DBLookupComboBox3->setEnabled(false);
    QPalette white = DBLookupComboBox2->palette();
    white.setColor(QPalette::Button, Qt::white);
    DBLookupComboBox2->setPalette(white);
    // Tab order inside the header: group, faculty, year.
    setTabOrder(DBLookupComboBox3, DBLookupComboBox1);
    setTabOrder(DBLookupComboBox1, DBLookupComboBox2);
}

void TForm1::buildBody()
{
    auto *body = new QHBoxLayout;
    body->setContentsMargins(0, 0, 0, 0);
    body->setSpacing(0);
    static_cast<QVBoxLayout *>(layout())->addLayout(body, 1);

    Panel1 = panel(this, "Panel1");
    Panel1->setFixedWidth(313);
    auto *studentColumn = new QVBoxLayout(Panel1);
    studentColumn->setContentsMargins(0, 0, 0, 0);
    studentColumn->setSpacing(0);
    Label3 = label(Panel1, "Label3", QStringLiteral(" Студенты:"));
    Label3->setFixedHeight(16);
    Label3->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    QFont bold = Label3->font();
    bold.setBold(true);
    Label3->setFont(bold);
    studentColumn->addWidget(Label3);
    DBLookupListBox1 = new TDBLookupListBox(Panel1);
    DBLookupListBox1->setObjectName(QStringLiteral("DBLookupListBox1"));
    DBLookupListBox1->setListSource(&DM_MB->DS_Students);
    DBLookupListBox1->setKeyField(QStringLiteral("id_student"));
    DBLookupListBox1->setListField(QStringLiteral("s_fio"));
    studentColumn->addWidget(DBLookupListBox1, 1);
    body->addWidget(Panel1);

    Panel3 = panel(this, "Panel3");
    Panel3->setFixedWidth(33);
    SpeedButton1 = new QToolButton(Panel3);
    SpeedButton1->setObjectName(QStringLiteral("SpeedButton1"));
    SpeedButton1->setText(QStringLiteral(">>"));
    SpeedButton1->setFont(bold);
    SpeedButton1->setFocusPolicy(Qt::NoFocus);
    SpeedButton1->setGeometry(5, 16, 23, 22);
    SpeedButton1->setEnabled(false);
    body->addWidget(Panel3);

    Panel2 = panel(this, "Panel2");
    Label5 = label(Panel2, "Label5", QStringLiteral("Стараста:"));
    Label5->setFont(bold);
    Label5->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    Label5->setGeometry(0, 0, 309, 16);
    DBEdit1 = new QLineEdit(Panel2);
    DBEdit1->setObjectName(QStringLiteral("DBEdit1"));
    DBEdit1->setGeometry(1, 18, 284, 21);
    body->addWidget(Panel2, 1);

    // Across the window: the header, the students, the monitor, the button.
    setTabOrder(DBLookupComboBox2, DBLookupListBox1);
    setTabOrder(DBLookupListBox1, DBEdit1);
}

void TForm1::connectHandlers()
{
    connect(DBLookupComboBox1, &TDBLookupComboBox::Click, this,
            [this] { HandleErrors([this] { DBLookupComboBox1Click(); }); });
    connect(DBLookupComboBox2, &TDBLookupComboBox::Click, this,
            [this] { HandleErrors([this] { DBLookupComboBox2Click(); }); });
    connect(DBLookupComboBox3, &TDBLookupComboBox::Click, this,
            [this] { HandleErrors([this] { DBLookupComboBox3Click(); }); });
    for (TDBLookupComboBox *list : {DBLookupComboBox1, DBLookupComboBox2, DBLookupComboBox3})
        connect(list, &TDBLookupComboBox::Exit, this,
                [this, list] { HandleErrors([this, list] { DBLookupComboBox1Exit(list); }); });
    connect(DBLookupListBox1, &TDBLookupListBox::Click, this,
            [this] { HandleErrors([this] { DBLookupListBox1Click(); }); });
    connect(DBLookupListBox1, &TDBLookupListBox::KeyDown, this,
            [this](QKeyEvent *event) { HandleErrors([this, event] { DBLookupListBox1KeyDown(event); }); });
    connect(DBLookupListBox1, &TDBLookupListBox::DblClick, this,
            [this] { HandleErrors([this] { DBLookupListBox1DblClick(); }); });
    // Whoever changes the student list's key or its rows, ">>" follows: it is enabled only while the
    // key is a student of the list, so that the question names the student whose id is sent. A
    // monitor who is not among the group's students (or a group without students) leaves it off.
    connect(DBLookupListBox1, &TDBLookupListBox::keyRowChanged, this, &TForm1::updateAssignButton);
    connect(SpeedButton1, &QToolButton::clicked, this,
            [this] { HandleErrors([this] { SpeedButton1Click(); }); });
    // The monitor field follows its query: the stored name whenever it opens, empty when it closes.
    connect(&DM_MB->ADOQ_Starasta, &TADOQuery::opened, this, &TForm1::showMonitor);
    connect(&DM_MB->ADOQ_Starasta, &TADOQuery::closed, this, &TForm1::showMonitor);
}

TForm1::~TForm1()
{
    if (Form1 == this)
        Form1 = nullptr;
}

void TForm1::changeEvent(QEvent *event)
{
    TForm::changeEvent(event);
    // A window manager that maximises whatever the hints say (a double click on the title bar, a
    // key of its own) gets the window back at its size: the window cannot be maximised.
    if (event->type() == QEvent::WindowStateChange && (windowState() & Qt::WindowMaximized))
        QMetaObject::invokeMethod(
            this, [this] { setWindowState(windowState() & ~Qt::WindowMaximized); }, Qt::QueuedConnection);
}

void TForm1::FormCreate()
{
    try {
        Form8 = new TForm8();
        HandleErrors([] { Form8->FormCreate(); });
        if (Form8->ShowModal() == ModalResultValue::Cancel)
            Application->RequestTermination();
    } catch (...) {
        // Without a login window there is no way to sign in: show why and end.
        Application->ShowException(currentErrorText());
        Application->RequestTermination();
    }
    delete Form8;
    Form8 = nullptr;
}

void TForm1::DBLookupComboBox1Click()
{
    DBLookupListBox1->setKeyValue(Key());
    DM_MB->ADOQ_Students.Close();
    DBLookupComboBox3->setEnabled(false);
    DBLookupComboBox3->setKeyValue(Key());
    DBLookupComboBox2->setKeyValue(Key());
    if (DBLookupComboBox1->KeyValue()) {
        DBLookupComboBox2->setEnabled(true);
        DBLookupComboBox2->DropDown();
    }
}

void TForm1::DBLookupComboBox2Click()
{
    DBLookupListBox1->setKeyValue(Key());
    DM_MB->ADOQ_Students.Close();
    DBLookupComboBox3->setEnabled(true);
    DBLookupComboBox3->setKeyValue(Key());
    if (!DBLookupComboBox2->KeyValue())
        return;
    TADOQuery &groups = DM_MB->ADOQ_group;
    groups.Close();
    groups.setParameter(QStringLiteral("id_a_year"), DBLookupComboBox2->KeyValue());
    groups.setParameter(QStringLiteral("id_faculty"), DBLookupComboBox1->KeyValue());
    groups.Open();
    DBLookupComboBox3->setEnabled(groups.RecordCount() > 0);
    if (DBLookupComboBox3->isEnabled())
        DBLookupComboBox3->DropDown();
}

void TForm1::DBLookupComboBox3Click()
{
    const Key group = DBLookupComboBox3->KeyValue();
    if (!group)
        return;
    TADOQuery &students = DM_MB->ADOQ_Students;
    students.Close();
    students.setParameter(QStringLiteral("id_group"), group);
    students.Open();
    reopenMonitor();
    const QVariant monitor = DM_MB->ADOQ_Starasta.FieldByName(QStringLiteral("id_student"));
    DBLookupListBox1->setKeyValue(monitor.isNull() ? Key() : Key(monitor.toInt()));
}

void TForm1::DBLookupComboBox1Exit(TDBLookupComboBox *sender)
{
    if (sender->ListVisible())
        sender->CloseUp(false);
}

void TForm1::DBLookupListBox1Click()
{
    updateAssignButton();
}

void TForm1::DBLookupListBox1KeyDown(QKeyEvent *)
{
    updateAssignButton();
}

void TForm1::DBLookupListBox1DblClick()
{
    SpeedButton1Click();
}

void TForm1::SpeedButton1Click()
{
    if (!SpeedButton1->isEnabled())
        return;
    const QString question = QStringLiteral("Вы действительно хотите поставить студента \"") +
                             DBLookupListBox1->currentEntryText() + QStringLiteral("\" старастой группы \"") +
                             DBLookupComboBox3->Text() + QStringLiteral("\"-?");
    if (MessageBox(question, QStringLiteral("Уведомление"),
                   MessageBoxFlag::YesNo | MessageBoxFlag::IconQuestion, this) != MessageBoxAnswer::Yes)
        return;
    const QString statement = QStringLiteral("EXEC CreateStarasta ") +
                              keyText(DBLookupComboBox3->KeyValue()) + QStringLiteral(", ") +
                              keyText(DBLookupListBox1->KeyValue());
    DM_MB->ADOQ_Exec.setSQL({statement});
    try {
        DM_MB->ADOQ_Exec.ExecSQL();
    } catch (const Error &) {
        // The procedure may have stored the monitor before (or after) it failed: the field shows
        // what the server holds, and the user reads the procedure's error. When even that cannot
        // be read, the field keeps the monitor it showed and the procedure's error is the one shown.
        try {
            rereadMonitor();
        } catch (const Error &) {
        }
        throw;
    }
    rereadMonitor();
}

void TForm1::reopenMonitor()
{
    TADOQuery &monitor = DM_MB->ADOQ_Starasta;
    monitor.Close();
    monitor.setParameter(QStringLiteral("id_group"), DBLookupComboBox3->KeyValue());
    monitor.Open();
}

void TForm1::rereadMonitor()
{
    TADOQuery &monitor = DM_MB->ADOQ_Starasta;
    monitor.setParameter(QStringLiteral("id_group"), DBLookupComboBox3->KeyValue());
    monitor.Refresh();
}

void TForm1::updateAssignButton()
{
    SpeedButton1->setEnabled(DBLookupListBox1->KeyInRows());
}

void TForm1::showMonitor()
{
    const TADOQuery &monitor = DM_MB->ADOQ_Starasta;
    DBEdit1->setText(monitor.Active() ? monitor.FieldByName(QStringLiteral("s_fio")).toString() : QString());
    DBEdit1->setCursorPosition(0);
}
