#pragma once
// The update check of the main form: the server's updates folder is listed and its greatest name
// becomes the published map; the greatest local map name for the device model becomes the local
// one; a published name greater than it is a new map, whose news is fetched into the download
// folder and shown in the program's own news window. While the program stays resident the check runs again at an
// interval, without dialogs.
#include "framework/Classes.h"

#include <QTimer>
#include <functional>
#include <string>

class TFPral;

namespace shell {

class UpdateCheck {
public:
    // Builds the re-check's timer; `form` owns the check and outlives it.
    explicit UpdateCheck(TFPral &form);

    // The check (the form's ComprobarAct1).
    void Run();

    // Starts the re-checks at the form's FIntervaloComprobacion minutes (0: none).
    void StartRechecks();
    QTimer *RecheckTimer() const { return m_recheckTimer; }
    // A tick: checks again when the start-up check is ticked, no FTP command runs and no dialog or
    // menu is open.
    void Recheck();
    bool Rechecking() const { return m_rechecking; }
    // A message of the check: a dialog, or a line of standard error during a re-check (a machine
    // left alone must not collect boxes).
    void Notice(const std::string &text) const;
    // The news of a new map has been placed in the download folder (the path) and shown in the
    // form's news window.
    std::function<void(const std::string &path)> OnNewsShown;

private:
    bool listPublishedMaps();
    void compareWithLocalMaps();
    void fetchNews();

    TFPral &m_form;
    QTimer *m_recheckTimer;
    bool m_rechecking = false;
};

}  // namespace shell
