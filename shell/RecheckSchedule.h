#pragma once
// When a resident program checks the server again: at the interval plus a random tenth of it (so
// that clients started together, a whole office switched on at nine, spread out over the server's
// day), after a failure sooner, 1, 2, 4, 8... minutes later up to the interval, back to the interval
// after a success, and soon after the machine wakes or its network comes up when a check is
// overdue or a retry waits. The clock and the random source are the caller's, so the rules can be
// run through days in a test. The caller arms its timer for NextDue() after every call here and
// runs the check when it fires; nothing here runs a check or waits.
#include <QDateTime>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace shell {

// The time of the last successful check, stored as "UltimaComprobacion" of the main form's key:
// UTC, to the second, as ISO 8601 ("2026-12-11T10:33:14Z").
inline constexpr const char *kLastCheckName = "UltimaComprobacion";
std::string LastCheckText(const QDateTime &when);
// The stored text back; nothing for a text that is not such a time.
std::optional<QDateTime> ParseLastCheck(std::string_view text);
// What the tray's tooltip says while no new map waits: the local time of the last successful
// check, "Drovanel - última comprobación: HH:MM".
std::string LastCheckHint(const QDateTime &when);
// The same on the main page's status bar: "Ultima comprobacion: HH:MM".
std::string LastCheckStatusText(const QDateTime &when);

class TRecheckSchedule {
public:
    using Clock = std::function<QDateTime()>;
    // A number drawn evenly from [0, 1).
    using Random = std::function<double()>;

    // The system's clock (UTC) and random source.
    static QDateTime SystemClock();
    static double SystemRandom();

    // The longest wait after a failure is the interval; the first is this.
    static constexpr std::chrono::minutes kFirstRetry{1};
    // The share of the interval drawn at random on top of it.
    static constexpr double kSpread = 0.10;
    // After a wake-up, the check comes within this (drawn at random: machines resumed together
    // spread out too).
    static constexpr std::chrono::seconds kSoonAfterWake{60};
    // A check that was due while the program was busy (a command, a dialog) comes this much later.
    static constexpr std::chrono::minutes kBusyDelay{1};

    // Re-checks every `intervalMinutes` (RecheckMinutes of the stored value; 0 turns them off).
    explicit TRecheckSchedule(int intervalMinutes, Clock clock = SystemClock, Random random = SystemRandom);

    // The program starts with the last success it stored (none on a first run): the first check is
    // due now when none succeeded within the interval, else when the interval from it is over.
    void Start(std::optional<QDateTime> lastSuccess);
    // A check succeeded or failed now.
    void Succeeded();
    void Failed();
    // The check that was due could not run now (a command or a dialog): a minute later.
    void Deferred();
    // The machine resumed from sleep or its network came up: when the last success is older than
    // the interval (or there is none) or a retry waits, the check comes within kSoonAfterWake.
    // True when it brought the check forward.
    bool Woken();
    // A new interval, from now on: the next check is planned again from the last success (or,
    // while retries run, keeps its retry).
    void SetInterval(int intervalMinutes);

    // When the next check is due (it may be past: then now); nothing while re-checks are off or
    // before Start.
    std::optional<QDateTime> NextDue() const;
    // Milliseconds from now until NextDue, at least 0; -1 when nothing is due.
    qint64 MsecsUntilDue() const;
    std::optional<QDateTime> LastSuccess() const { return m_lastSuccess; }
    bool RetryPending() const { return m_failures > 0; }
    int IntervalMinutes() const { return m_intervalMinutes; }

private:
    void planFromLastSuccess();
    // A share of `span` milliseconds drawn from the random source.
    qint64 drawn(qint64 span) const;
    QDateTime atInterval(const QDateTime &from) const;
    bool overdue(const QDateTime &now) const;

    int m_intervalMinutes;
    Clock m_clock;
    Random m_random;
    std::optional<QDateTime> m_lastSuccess;
    std::optional<QDateTime> m_next;
    int m_failures = 0;
    bool m_started = false;
};

}  // namespace shell
