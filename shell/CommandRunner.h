#pragma once
// The main form's FTP commands, one at a time: the update check, the download and the close's QUIT
// share one FTP client, which must never be entered a second time from a handler that runs inside
// one of its waits. The runner counts the command in progress (a download runs the check inside
// it), gives it the download folder it took when it started, cancels its wait when the program
// ends, and holds a close asked for meanwhile until the command is over.
#include "net/msFTP.h"

#include <functional>
#include <string>
#include <string_view>

namespace shell {

class CommandRunner {
public:
    // `folderText` gives the download folder as the page "Config" shows it, made absolute;
    // `closeLater` has the window closed from the message loop once the command is over.
    CommandRunner(net::TmsFTPClient &client, std::function<std::string()> folderText, std::function<void()> closeLater);

    // Marks a command as running for its lifetime; the outermost mark takes the command's folder.
    class Work {
    public:
        explicit Work(CommandRunner &runner);
        ~Work();
        Work(const Work &) = delete;
        Work &operator=(const Work &) = delete;

    private:
        CommandRunner &m_runner;
    };

    // Runs `command`; a cancel caused by the program ending is no error to report, and a host name
    // that cannot be looked up is said in Spanish (LookupFailedText).
    void Run(const std::function<void()> &command) const;
    static std::string LookupFailedText(std::string_view socketText);
    // True while a command waits on the FTP client.
    bool Busy() const { return m_busy > 0; }
    // True once the program is ending (told to terminate, or a close waits for a command): the
    // running command's waits are cancelled and it starts nothing more on the network.
    bool Ending() const;
    // Ends the program's part in a running command: its wait is cancelled.
    void CancelForEnding();
    // The download folder: while a command runs, the one it took when it started.
    std::string Folder() const { return Busy() ? m_commandFolder : m_folderText(); }
    // The window's close: while a command runs the close waits for its end (CanClose false) and the
    // command's wait is cancelled; otherwise an open connection is ended, with QUIT unless a
    // cancel left the server owed a reply. `connected`: the control connection is open.
    void CloseQuery(bool connected, bool &CanClose);

private:
    net::TmsFTPClient &m_client;
    std::function<std::string()> m_folderText;
    std::function<void()> m_closeLater;
    int m_busy = 0;
    bool m_closePending = false;
    bool m_cancelled = false;
    std::string m_commandFolder;
};

}  // namespace shell
