#include "form.h"

#include "application.h"

#include <QCloseEvent>
#include <QEventLoop>
#include <QGuiApplication>
#include <QScreen>

namespace {
// The windows whose modal runs are going on, the innermost last.
QList<TForm *> &modalForms()
{
    static QList<TForm *> forms;
    return forms;
}
} // namespace

TForm::TForm(QWidget *parent) : QWidget(parent) {}

TForm::~TForm()
{
    modalForms().removeAll(this);
    if (m_loop)
        m_loop->quit();
}

TForm *TForm::ModalForm()
{
    return modalForms().isEmpty() ? nullptr : modalForms().last();
}

void TForm::setModalResult(int result)
{
    m_modalResult = result;
    if (m_loop && result != ModalResultValue::None)
        m_loop->quit();
}

int TForm::ShowModal()
{
    QEventLoop loop;
    m_loop = &loop;
    m_modalResult = ModalResultValue::None;
    const auto connection = connect(Application, &TApplication::terminationTaken, this,
                                    [this] { setModalResult(ModalResultValue::Cancel); });
    setWindowModality(Qt::ApplicationModal);
    show();
    activateWindow();
    if (Application->Terminated())
        m_modalResult = ModalResultValue::Cancel;
    modalForms().append(this);
    if (m_modalResult == ModalResultValue::None)
        loop.exec();
    modalForms().removeAll(this);
    disconnect(connection);
    m_loop = nullptr;
    hide();
    setWindowModality(Qt::NonModal);
    return m_modalResult;
}

void TForm::closeEvent(QCloseEvent *event)
{
    if (m_loop) {
        // A close request to a modal window is its cancellation.
        event->ignore();
        setModalResult(ModalResultValue::Cancel);
        return;
    }
    event->accept();
    if (Application && Application->MainForm() == this)
        Application->RequestTermination();
}

void TForm::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    if (m_shownOnce)
        return;
    m_shownOnce = true;
    if (!CentreOnFirstShow)
        return;
    if (const QScreen *screen = this->screen() ? this->screen() : QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - QPoint(width() / 2, height() / 2));
}
