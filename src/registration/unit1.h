#pragma once
// The main window: faculty, year and group lists that narrow each other, the group's students and its
// monitor, and ">>" that makes the chosen student the monitor. Created hidden at start-up; its
// creation handler runs the sign-in. Every handler works the data module's queries directly and
// catches nothing: a database failure ends the handler where it happens and reaches the default
// error display.

#include "app/form.h"
#include "signin/signinreceiver.h"

#include <QString>

class QFrame;
class QLabel;
class QLineEdit;
class QKeyEvent;
class QToolButton;
class QWidget;
class TDBLookupComboBox;
class TDBLookupListBox;

class TForm1 : public TForm, public SignInReceiver {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // Runs the login window modally and requests termination unless the sign-in succeeded.
    void FormCreate() override;

    // Handlers.
    void DBLookupComboBox1Click(); // faculty chosen
    void DBLookupComboBox2Click(); // year chosen
    void DBLookupComboBox3Click(); // group chosen
    void DBLookupComboBox1Exit(TDBLookupComboBox *sender);
    void DBLookupListBox1Click();
    void DBLookupListBox1KeyDown(QKeyEvent *event);
    void DBLookupListBox1DblClick();
    void SpeedButton1Click(); // ">>"

    // Written by the sign-in.
    qint32 UserId = 0;
    QString UserLogin;
    void setUserId(qint32 userId) override { UserId = userId; }
    void setUserLogin(const QString &login) override { UserLogin = login; }

    QWidget *Panel4;
    QWidget *Panel5;
    QLabel *Label1;
    TDBLookupComboBox *DBLookupComboBox1;
    QLabel *Label2;
    TDBLookupComboBox *DBLookupComboBox2;
    QLabel *Label4;
    TDBLookupComboBox *DBLookupComboBox3;
    QFrame *Bevel1;
    QWidget *Bevel6;
    QWidget *Panel1;
    QLabel *Label3;
    TDBLookupListBox *DBLookupListBox1;
    QWidget *Panel3;
    QToolButton *SpeedButton1;
    QWidget *Panel2;
    QLabel *Label5;
    QLineEdit *DBEdit1;

protected:
    void changeEvent(QEvent *event) override;

private:
    void buildHeader();
    void buildBody();
    void connectHandlers();
    // ">>" follows the student list's key: enabled exactly while it is the key of a row the list
    // holds (never for Null, never for a monitor who is not among the students).
    void updateAssignButton();
    // The monitor field shows s_fio of the monitor query's row, empty without one.
    void showMonitor();
    // The monitor of the chosen group, read afresh: the field is empty until the answer arrives.
    void reopenMonitor();
    // The monitor of the same group read again after an assignment: the field keeps what it showed
    // until the server's answer replaces it, and keeps it when the answer cannot be had.
    void rereadMonitor();
};

// The main window while it exists.
extern TForm1 *Form1;
