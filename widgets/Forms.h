#pragma once
// Forms: top-level windows built from their controls, with the creation, show, close-query and
// destroy events that their owners and components hook into.
#include "framework/Classes.h"

#include <QWidget>
#include <functional>
#include <memory>
#include <string_view>

class QMenuBar;

namespace fw {

class TForm : public QWidget {
    Q_OBJECT
    Q_PROPERTY(QString Caption READ caption WRITE setCaption)
public:
    explicit TForm(std::string_view name, QWidget *parent = nullptr);
    ~TForm() override;
    TForm(const TForm &) = delete;
    TForm &operator=(const TForm &) = delete;

    std::string Caption() const;
    void SetCaption(std::string_view caption);
    QString caption() const { return windowTitle(); }
    void setCaption(const QString &caption) { setWindowTitle(caption); }

    // The client area: everything below the menu bar. The window keeps the size that the client
    // area and the menu bar need; the user cannot resize it.
    QWidget *Client() const { return m_client; }
    void SetClientSize(int width, int height);
    void SetMenu(QMenuBar *menu);

    // A title bar without system menu and without minimise, maximise and close buttons.
    void SetBareTitleBar();

    bool Visible() const { return isVisible(); }
    void SetVisible(bool visible) { setVisible(visible); }
    void Show() { show(); }
    void Hide() { hide(); }
    // Neither minimised nor maximised.
    void SetWindowStateNormal();
    // Asks to close: OnCloseQuery decides; a closing main form ends the application.
    bool Close() { return close(); }

    // Runs OnCreate, as the framework does once the form has been built. An exception that
    // leaves it ends the creation handler there and goes to the standard error report; the form
    // exists all the same.
    void DoCreate();

    TNotifyEvent OnCreate;
    TNotifyEvent OnShow;
    TNotifyEvent OnDestroy;
    std::function<void(TObject *Sender, bool &CanClose)> OnCloseQuery;
    // Closing this form terminates the application.
    bool MainForm = false;

protected:
    void showEvent(QShowEvent *e) override;
    void closeEvent(QCloseEvent *e) override;

private:
    QWidget *m_client;
    QMenuBar *m_menu = nullptr;
};

// Builds a form and runs its creation handler, as the application does for its forms.
template <typename Form, typename... Args> std::unique_ptr<Form> CreateForm(Args &&...args)
{
    auto form = std::make_unique<Form>(std::forward<Args>(args)...);
    form->DoCreate();
    return form;
}

}  // namespace fw
