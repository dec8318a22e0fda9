#pragma once
// A window of the program: created through the application, with a creation handler, a modal run and a
// modal result.

#include <QWidget>

class QEventLoop;

class TForm : public QWidget {
    Q_OBJECT
public:
    explicit TForm(QWidget *parent = nullptr);
    ~TForm() override;

    // The creation handler, run once the window is built.
    virtual void FormCreate() {}

    // 0 while a modal run goes on; any other value ends the run.
    int ModalResult() const { return m_modalResult; }
    void setModalResult(int result);

    // Shows the window modally and takes events until the modal result is not 0; termination and a
    // close request from the window system make it 2. Hides the window and returns the result.
    int ShowModal();
    bool Modal() const { return m_loop != nullptr; }
    // The window whose modal run is going on (the innermost one), or null.
    static TForm *ModalForm();

protected:
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

    // Placed in the middle of the desktop when first shown.
    bool CentreOnFirstShow = false;

private:
    int m_modalResult = 0;
    bool m_shownOnce = false;
    QEventLoop *m_loop = nullptr;
};

namespace ModalResultValue {
constexpr int None = 0;
constexpr int Ok = 1;
constexpr int Cancel = 2;
} // namespace ModalResultValue
