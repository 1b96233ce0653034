#include "framework/Application.h"

#include "framework/Ansi.h"
#include "framework/Dialogs.h"
#include "framework/Exceptions.h"
#include "platform/MessageWindow.h"

#include <QCoreApplication>
#include <QScopedValueRollback>
#include <cstdio>

namespace fw {

TApplication &Application()
{
    static TApplication app;
    return app;
}

void TApplication::Run()
{
    if (m_terminated)
        return;
    const QScopedValueRollback running(m_running, true);
    QCoreApplication::exec();
}

void TApplication::ProcessMessages()
{
    platform::ProcessMessages();
}

void TApplication::Terminate()
{
    if (m_terminated)
        return;
    m_terminated = true;
    Fire(OnTerminate, nullptr);
    if (auto *app = QCoreApplication::instance())
        app->exit(0);
}

void TApplication::ShowException(const std::exception &e)
{
    if (const auto *ours = dynamic_cast<const Exception *>(&e))
        ShowErrorReport(ours->Message());
    else
        ShowErrorReport(e.what());
}

void TApplication::HandleException(TObject *sender)
{
    // A program that has been told to end shows no more boxes: nobody is there to answer them,
    // and a box must not hold the end.
    if (m_terminated) {
        try {
            throw;
        } catch (const Exception &e) {
            std::fprintf(stderr, "drovanel: %s\n", OneLineText(e.Message()).c_str());
        } catch (const std::exception &e) {
            std::fprintf(stderr, "drovanel: %s\n", OneLineText(e.what()).c_str());
        } catch (...) {
        }
        return;
    }
    try {
        throw;
    } catch (const std::exception &e) {
        try {
            if (OnException)
                OnException(sender, e);
            else
                ShowException(e);
        } catch (...) {
            // The display of an error must never raise another one into the message loop.
        }
    } catch (...) {
        ShowErrorReport("Unknown exception");
    }
}

}  // namespace fw
