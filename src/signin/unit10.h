#pragma once
// The login window: user name and password over a picture, a lower panel for a new password, the
// status label, and the sign-in behind its enter button.

#include "app/form.h"

#include <QLabel>
#include <QPoint>
#include <QTimer>

class QKeyEvent;
class TADOConnection;
class TEdit;
class TIdIPWatch;
class TImage;
class TRzLabel;
class TSpeedButton;

class TForm8 : public TForm {
    Q_OBJECT
public:
    explicit TForm8(QWidget *parent = nullptr);
    ~TForm8() override;

    // Removes a leftover update script and prepares the window.
    void FormCreate() override;

    // One sign-in attempt; true when the user is signed in. newPassword "NULL" means none.
    bool SignIn(TADOConnection &connection, const QString &newPassword);

    // Handlers.
    void SpeedButton2Click(); // enter
    void SpeedButton1Click(); // cancel
    void SpeedButton3Click(); // password-change panel
    void Timer1Timer();

    TImage *Image1;
    TEdit *Login_Edit;
    TEdit *Password_Edit;
    TSpeedButton *SpeedButton2;
    TSpeedButton *SpeedButton3;
    TImage *Image2;
    TEdit *Edit1;
    TEdit *Edit2;
    TSpeedButton *SpeedButton1;
    TRzLabel *RzLabel1;
    TIdIPWatch *IdIPWatch1;
    QLabel *Label1;
    QTimer *Timer1;

    quint8 AttemptCount = 0;
    bool ChangePasswordMode = false;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    // Key handlers: true when the key was consumed; the key-press ones clear the character they drop.
    bool EditAllKeyDown(QObject *sender, QKeyEvent *event);
    void Edit_serverKeyPress(QObject *sender, QChar &key);
    void EditAllNoBeep(QObject *sender, QChar &key);
    void Edit1KeyPress(QObject *sender, QChar &key);
    bool filterTypedText(QObject *sender, QKeyEvent *event);
    void Image1MouseDown(QObject *sender, Qt::MouseButton button, QPoint globalPosition);

    bool m_dragging = false;
    QPoint m_dragOffset;
};

// The login window while it exists.
extern TForm8 *Form8;

// The update in the login window: the notice in Label1, Timer1 started once the script runs.
void UpdateProgram(TForm8 *form);
