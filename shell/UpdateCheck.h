#pragma once
// The update check of the main form: the server's updates folder is listed and its greatest name
// becomes the published map; the greatest local map name for the device model becomes the local
// one; a published name greater than it is a new map, whose news is fetched into the download
// folder and shown in the program's own news window. While the program stays resident the check
// runs again on a schedule (shell/RecheckSchedule.h) that the machine's sleep and network wake
// (shell/RecheckDriver.h), without dialogs; the time of the last successful check is stored and
// shown.
#include "framework/Classes.h"
#include "shell/RecheckSchedule.h"

#include <QDateTime>
#include <functional>
#include <memory>
#include <optional>
#include <string>

class QTimer;
class TFPral;

namespace shell {

class TMachineWatch;
class TRecheckDriver;

// Puts `clock` (and `random`) in the place of the system's for the re-checks of the forms built from
// now on (tests move time on); empty ones restore them.
void SetRecheckClock(TRecheckSchedule::Clock clock, TRecheckSchedule::Random random = {});

class UpdateCheck {
public:
    // Builds the re-checks' schedule, the watch on the machine (on the machine's bus) and the timer
    // that drives them; `form` owns the check and outlives it.
    explicit UpdateCheck(TFPral &form);
    ~UpdateCheck();
    UpdateCheck(const UpdateCheck &) = delete;
    UpdateCheck &operator=(const UpdateCheck &) = delete;

    // The check (the form's ComprobarAct1). A check that reaches the server counts as a success
    // (stored and shown, the next re-check planned from it); one that fails says so on the status
    // bar and has the re-check retried soon.
    void Run();

    // Starts the re-checks at the form's FIntervaloComprobacion minutes (0: none), from the last
    // success stored (FUltimaComprobacion).
    void StartRechecks();
    // The start-up check. A program that starts into the tray (`resident`) reports a failure as a
    // re-check does; one that shows its window, with the check's dialogs.
    void StartupCheck(bool resident);
    // "Comprobar ahora": the check at once, with its dialogs; held back while a command or a dialog
    // runs, until the program is free.
    void CheckNow();
    bool CheckNowPending() const { return m_checkNowPending; }

    // The re-checks' timer: armed for the next check due (or for a look at the clock within an
    // hour); inactive while re-checks are off.
    QTimer *RecheckTimer() const;
    const TRecheckSchedule &Schedule() const { return *m_schedule; }
    // A check that is due: runs when the start-up check is ticked, no FTP command runs and no dialog
    // or menu is open; else it comes a minute later.
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
    // The check without dialogs; a failure is one line of standard error.
    void runResident();
    // A command, a dialog or a menu holds the program.
    bool busy() const;
    void succeeded();
    void failed();
    void tryCheckNow();

    TFPral &m_form;
    std::unique_ptr<TRecheckSchedule> m_schedule;
    TMachineWatch *m_watch;
    // Owned here, not by the form: it must go before the schedule it drives.
    std::unique_ptr<TRecheckDriver> m_driver;
    QTimer *m_checkNowLater;
    bool m_rechecking = false;
    bool m_checkNowPending = false;
};

}  // namespace shell
