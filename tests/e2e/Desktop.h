#pragma once
// The world around the real program in the black-box tests: a virtual X display with a tray host,
// a sound server with a null sink, the sample update server, a throwaway profile, a recording
// "xdg-open", and xdotool to drive the program. Nothing here links the program's code.
#include <QDeadlineTimer>
#include <QDir>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTimer>
#include <functional>
#include <memory>
#include <string>

namespace e2e {

// Ends a helper process it started: SIGTERM, then SIGKILL if it lingers.
inline void Stop(QProcess &process)
{
    if (process.state() == QProcess::NotRunning)
        return;
    process.terminate();
    if (!process.waitForFinished(5000)) {
        process.kill();
        process.waitForFinished(5000);
    }
}

// Waits until `done` holds, looking again every 50 ms while the event loop runs (the program is
// watched from outside, through the X server and the files, so there is no event to await).
inline bool WaitUntil(const std::function<bool()> &done, int timeoutMs)
{
    const QDeadlineTimer deadline(timeoutMs);
    while (!done()) {
        if (deadline.hasExpired())
            return false;
        QEventLoop loop;
        QTimer::singleShot(50, &loop, &QEventLoop::quit);
        loop.exec();
    }
    return true;
}

inline QByteArray ReadAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline bool WriteAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly | QIODevice::Truncate) && file.write(bytes) == bytes.size();
}

// Xvfb on a display number it picks itself, a tray host on it, and PulseAudio with a null sink in a
// private runtime folder.
class Desktop {
public:
    Desktop()
    {
        m_xvfb.setProgram("Xvfb");
        m_xvfb.setArguments({"-displayfd", "1", "-screen", "0", "1024x768x24", "-nolisten", "tcp", "-br"});
        m_xvfb.start();
        if (!m_xvfb.waitForStarted(10'000)) {
            m_error = "Xvfb did not start";
            return;
        }
        // Xvfb writes its display number once it accepts clients.
        if (!WaitUntil([this] { return m_xvfb.canReadLine() || m_xvfb.state() != QProcess::Running; }, 20'000) ||
            !m_xvfb.canReadLine()) {
            m_error = "Xvfb gave no display number";
            return;
        }
        m_display = ":" + QString::fromLatin1(m_xvfb.readLine().trimmed());

        // The tray host, in the top left corner, one icon wide.
        m_trayer.setProcessEnvironment(Env());
        m_trayer.setProgram("trayer");
        m_trayer.setArguments({"--edge", "top", "--align", "left", "--widthtype", "request", "--height", "32",
                               "--SetDockType", "true", "--expand", "true"});
        // trayer now and then ends at once on a fresh display before it has mapped its window:
        // started again then, a few times.
        bool docked = false;
        for (int attempt = 0; attempt < 3 && !docked; ++attempt) {
            m_trayer.start();
            docked = m_trayer.waitForStarted(10'000) &&
                     WaitUntil(
                         [this] {
                             return m_trayer.state() == QProcess::NotRunning ||
                                    !Xdo({"search", "--classname", "trayer"}).isEmpty();
                         },
                         20'000) &&
                     m_trayer.state() != QProcess::NotRunning;
            if (!docked)
                Stop(m_trayer);
        }
        if (!docked) {
            m_error = "trayer did not start: " + QString::fromUtf8(m_trayer.readAllStandardError());
            return;
        }

        // The sound server, as this user, with a null sink whose monitor the tests record.
        QDir().mkpath(m_pulseRuntime.path());
        QProcessEnvironment pulseEnv = Env();
        pulseEnv.insert("XDG_RUNTIME_DIR", m_pulseRuntime.path());
        pulseEnv.insert("HOME", m_pulseRuntime.path());
        m_pulse.setProcessEnvironment(pulseEnv);
        m_pulse.setProgram("pulseaudio");
        m_pulse.setArguments({"-n", "--daemonize=no", "--exit-idle-time=-1", "--disallow-exit", "--disable-shm", "-L",
                              "module-null-sink sink_name=" + QString(kSink), "-L",
                              "module-native-protocol-unix auth-anonymous=1 socket=" + PulseSocket(), "-L",
                              "module-always-sink"});
        m_pulse.setProcessChannelMode(QProcess::MergedChannels);
        m_pulse.start();
        if (!m_pulse.waitForStarted(10'000) ||
            !WaitUntil([this] { return QFileInfo::exists(PulseSocket()); }, 20'000)) {
            m_error = "pulseaudio did not start: " + QString::fromUtf8(m_pulse.readAll());
            return;
        }
        m_ok = true;
    }
    ~Desktop()
    {
        Stop(m_pulse);
        Stop(m_trayer);
        Stop(m_xvfb);
    }
    Desktop(const Desktop &) = delete;
    Desktop &operator=(const Desktop &) = delete;

    static constexpr const char *kSink = "drovanel_e2e";

    bool Ok() const { return m_ok; }
    const QString &Error() const { return m_error; }
    QString Display() const { return m_display; }
    QString PulseSocket() const { return m_pulseRuntime.path() + "/native"; }

    // The environment of a desktop program on this display with this sound server.
    QProcessEnvironment Env() const
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", m_display);
        env.remove("WAYLAND_DISPLAY");
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("PULSE_SERVER", "unix:" + PulseSocket());
        return env;
    }

    // Runs xdotool with the arguments; its standard output, trimmed (empty when it failed).
    QString Xdo(const QStringList &arguments) const
    {
        QProcess xdo;
        xdo.setProcessEnvironment(Env());
        xdo.start("xdotool", arguments);
        if (!xdo.waitForFinished(10'000) || xdo.exitCode() != 0)
            return {};
        return QString::fromUtf8(xdo.readAllStandardOutput()).trimmed();
    }

    // The visible top-level windows whose title matches the regular expression.
    QStringList Windows(const QString &title) const
    {
        return Xdo({"search", "--onlyvisible", "--name", title}).split('\n', Qt::SkipEmptyParts);
    }

    QString WaitWindow(const QString &title, int timeoutMs) const
    {
        QString found;
        WaitUntil(
            [&] {
                const QStringList windows = Windows(title);
                found = windows.isEmpty() ? QString() : windows.front();
                return !found.isEmpty();
            },
            timeoutMs);
        return found;
    }

    // Keys to a window, as a user with that window focused would type them.
    void Keys(const QString &window, const QStringList &keys) const
    {
        Xdo({"windowfocus", "--sync", window});
        Xdo(QStringList{"key", "--clearmodifiers"} + keys);
    }

    // A click at a point of a window, in the window's own coordinates.
    void Click(const QString &window, int x, int y, int button = 1) const
    {
        Xdo({"mousemove", "--window", window, QString::number(x), QString::number(y), "click",
             QString::number(button)});
    }

    // The whole screen into a PNG file.
    bool Screenshot(const QString &path) const
    {
        QProcess import;
        import.setProcessEnvironment(Env());
        import.start("import", {"-display", m_display, "-window", "root", path});
        return import.waitForFinished(20'000) && import.exitCode() == 0;
    }

private:
    QProcess m_xvfb, m_trayer, m_pulse;
    QTemporaryDir m_pulseRuntime;
    QString m_display, m_error;
    bool m_ok = false;
};

// The sample update server (scripts/sample-server) on a loopback port, logging every command.
class SampleServer {
public:
    SampleServer(const QString &root, const QString &makeMap, const QString &log, const QStringList &extra = {})
    {
        m_process.setProgram("/usr/bin/python3");
        m_process.setArguments(
            QStringList{DROVANEL_SCRIPTS_DIR "/sample-server", root, "--make-map", makeMap, "--log", log} + extra);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        m_process.start();
        if (!m_process.waitForStarted(10'000))
            return;
        WaitUntil([this] { return m_process.canReadLine() || m_process.state() != QProcess::Running; }, 60'000);
        m_port = m_process.readLine().trimmed().toUShort();
    }
    ~SampleServer() { Stop(m_process); }
    SampleServer(const SampleServer &) = delete;
    SampleServer &operator=(const SampleServer &) = delete;

    quint16 Port() const { return m_port; }
    // Gone without a word, as a server that crashed or lost its line.
    void Kill()
    {
        m_process.kill();
        m_process.waitForFinished(5000);
    }

private:
    QProcess m_process;
    quint16 m_port = 0;
};

}  // namespace e2e
