#include "shell/CommandRunner.h"

#include "framework/Ansi.h"
#include "framework/Application.h"
#include "framework/Exceptions.h"
#include "net/msWinsock.h"

#include <utility>

namespace shell {

CommandRunner::CommandRunner(net::TmsFTPClient &client, std::function<std::string()> folderText,
                             std::function<void()> closeLater)
    : m_client(client), m_folderText(std::move(folderText)), m_closeLater(std::move(closeLater))
{
}

CommandRunner::Work::Work(CommandRunner &runner) : m_runner(runner)
{
    // The outermost command takes the download folder once, for all that it and the check it runs
    // read and write: a folder changed on the page "Config" meanwhile counts from the next one.
    if (m_runner.m_busy++ == 0)
        m_runner.m_commandFolder = m_runner.m_folderText();
}

CommandRunner::Work::~Work()
{
    if (--m_runner.m_busy > 0 || !m_runner.m_closePending)
        return;
    m_runner.m_closePending = false;
    // Later, not now: the command unwinds first, and the close then runs from the message loop like
    // the user's own (QUIT, then the settings are saved).
    m_runner.m_closeLater();
}

void CommandRunner::Run(const std::function<void()> &command) const
{
    try {
        command();
    } catch (const net::EmsCanceledError &) {
        if (!Ending())
            throw;
    } catch (const net::EWinsockError &e) {
        // A name that the resolver does not know, or did not answer for within the time-out, is
        // the user's business (a typing error in the proxy, no network): said in their words.
        const std::string_view text = e.what();
        if (text.starts_with("[11001]") || text.starts_with("[11002]"))
            throw fw::Exception(LookupFailedText(text));
        throw;
    }
}

std::string CommandRunner::LookupFailedText(std::string_view socketText)
{
    return fw::AnsiText("No se ha podido encontrar la dirección del servidor: ") + std::string(socketText);
}

bool CommandRunner::Ending() const
{
    return m_cancelled || fw::Application().Terminated();
}

void CommandRunner::CancelForEnding()
{
    if (!Busy())
        return;
    m_cancelled = true;
    m_client.Cancel();
}

void CommandRunner::CloseQuery(bool connected, bool &CanClose)
{
    // QUIT now would land in the middle of the running command: the close waits for its end, and
    // a wait for the server is cancelled rather than waited out.
    if (Busy()) {
        m_closePending = true;
        CanClose = false;
        CancelForEnding();
        return;
    }
    if (!connected)
        return;
    // After a cancel the server is owed a reply; a QUIT would only wait for it.
    if (m_cancelled)
        m_client.Disconnect();
    else
        m_client.Logout();
}

}  // namespace shell
