#include "unit1.h"

#include "app/application.h"
#include "signin/unit10.h"

TForm1 *Form1 = nullptr;

TForm1::TForm1(QWidget *parent) : TForm(parent)
{
    setObjectName(QStringLiteral("Form1"));
    setWindowTitle(applicationTitle());
    resize(655, 623);
}

TForm1::~TForm1()
{
    if (Form1 == this)
        Form1 = nullptr;
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
