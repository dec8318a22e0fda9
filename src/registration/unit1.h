#pragma once
// The main window: faculty, year and group lists, the group's students and its monitor. Created hidden
// at start-up; its creation handler runs the sign-in.

#include "app/form.h"

class TForm1 : public TForm {
    Q_OBJECT
public:
    explicit TForm1(QWidget *parent = nullptr);
    ~TForm1() override;

    // Runs the login window modally and requests termination unless the sign-in succeeded.
    void FormCreate() override;

    // Written by the sign-in.
    qint32 UserId = 0;
    QString UserLogin;
};

// The main window while it exists.
extern TForm1 *Form1;
