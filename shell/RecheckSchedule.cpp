#include "shell/RecheckSchedule.h"

#include "shell/Updates.h"

#include <QRandomGenerator>
#include <QString>
#include <algorithm>

namespace shell {

namespace {

constexpr qint64 kMsPerMinute = 60'000;
// 2^20 minutes is two years, past any interval a timer can wait: the doubling stops there.
constexpr int kMaxDoublings = 20;

}  // namespace

std::string LastCheckText(const QDateTime &when)
{
    return when.toUTC().toString(Qt::ISODate).toStdString();
}

std::optional<QDateTime> ParseLastCheck(std::string_view text)
{
    const QDateTime when =
        QDateTime::fromString(QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size())), Qt::ISODate);
    // Only what LastCheckText writes: a hand-edited or damaged value is no time at all.
    if (!when.isValid() || LastCheckText(when) != text)
        return std::nullopt;
    return when;
}

std::string LastCheckHint(const QDateTime &when)
{
    return std::string(kTrayTitle) +
           " - última comprobación: " + when.toLocalTime().toString(QStringLiteral("HH:mm")).toStdString();
}

std::string LastCheckStatusText(const QDateTime &when)
{
    return "Ultima comprobacion: " + when.toLocalTime().toString(QStringLiteral("HH:mm")).toStdString();
}

QDateTime TRecheckSchedule::SystemClock()
{
    return QDateTime::currentDateTimeUtc();
}

double TRecheckSchedule::SystemRandom()
{
    return QRandomGenerator::global()->generateDouble();
}

TRecheckSchedule::TRecheckSchedule(int intervalMinutes, Clock clock, Random random)
    : m_intervalMinutes(std::max(intervalMinutes, 0)), m_clock(std::move(clock)), m_random(std::move(random))
{
}

void TRecheckSchedule::Start(std::optional<QDateTime> lastSuccess)
{
    m_lastSuccess = std::move(lastSuccess);
    m_failures = 0;
    m_started = true;
    planFromLastSuccess();
}

void TRecheckSchedule::Succeeded()
{
    const QDateTime now = m_clock();
    m_started = true;
    m_lastSuccess = now;
    m_failures = 0;
    m_next.reset();
    if (m_intervalMinutes > 0)
        m_next = atInterval(now);
}

void TRecheckSchedule::Failed()
{
    const QDateTime now = m_clock();
    m_started = true;
    m_failures = std::min(m_failures + 1, kMaxDoublings + 1);
    m_next.reset();
    if (m_intervalMinutes == 0)
        return;
    const qint64 retryMinutes =
        std::min<qint64>(kFirstRetry.count() << (m_failures - 1), static_cast<qint64>(m_intervalMinutes));
    m_next = now.addMSecs(retryMinutes * kMsPerMinute);
}

void TRecheckSchedule::Deferred()
{
    if (m_next)
        m_next = m_clock().addMSecs(std::chrono::milliseconds(kBusyDelay).count());
}

bool TRecheckSchedule::Woken()
{
    if (!m_next)
        return false;
    const QDateTime now = m_clock();
    if (m_failures == 0 && !overdue(now))
        return false;
    const QDateTime soon = now.addMSecs(drawn(std::chrono::milliseconds(kSoonAfterWake).count()));
    if (soon >= *m_next)
        return false;
    m_next = soon;
    return true;
}

void TRecheckSchedule::SetInterval(int intervalMinutes)
{
    m_intervalMinutes = std::max(intervalMinutes, 0);
    if (!m_started)
        return;
    if (m_failures > 0 && m_next && m_intervalMinutes > 0) {
        // The retry keeps its time, but never waits past the new interval.
        m_next = std::min(*m_next, m_clock().addMSecs(m_intervalMinutes * kMsPerMinute));
        return;
    }
    planFromLastSuccess();
}

std::optional<QDateTime> TRecheckSchedule::NextDue() const
{
    return m_next;
}

qint64 TRecheckSchedule::MsecsUntilDue() const
{
    if (!m_next)
        return -1;
    return std::max<qint64>(m_clock().msecsTo(*m_next), 0);
}

void TRecheckSchedule::planFromLastSuccess()
{
    m_next.reset();
    if (m_intervalMinutes == 0)
        return;
    const QDateTime now = m_clock();
    m_next = overdue(now) ? now : atInterval(*m_lastSuccess);
}

qint64 TRecheckSchedule::drawn(qint64 span) const
{
    const double share = std::clamp(m_random(), 0.0, 1.0);
    return static_cast<qint64>(share * static_cast<double>(span));
}

QDateTime TRecheckSchedule::atInterval(const QDateTime &from) const
{
    const qint64 interval = m_intervalMinutes * kMsPerMinute;
    return from.addMSecs(interval + drawn(static_cast<qint64>(kSpread * static_cast<double>(interval))));
}

bool TRecheckSchedule::overdue(const QDateTime &now) const
{
    // A last success in the future means the clock was set back since: it proves nothing.
    return !m_lastSuccess || *m_lastSuccess > now || m_lastSuccess->addMSecs(m_intervalMinutes * kMsPerMinute) <= now;
}

}  // namespace shell
