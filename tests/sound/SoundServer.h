#pragma once
// A private PulseAudio server for one test: started as the test's own user with no configuration
// of its own, one null sink at 48 kHz mono as the default output, its socket in a temporary
// folder; ended with the test. Clients reach it through PULSE_SERVER.
#include "common/Pump.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <csignal>
#include <string>

namespace soundtest {

inline const char *kSinkName = "drovanel_test";

class SoundServer {
public:
    ~SoundServer() { Stop(); }

    // Starts the server; returns why it could not, or an empty text once it accepts clients.
    std::string Start()
    {
        const QString program = QStandardPaths::findExecutable("pulseaudio");
        if (program.isEmpty())
            return "pulseaudio is not installed";
        if (!m_dir.isValid())
            return "no temporary folder";
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", m_dir.path());
        env.insert("XDG_RUNTIME_DIR", m_dir.path());
        env.insert("XDG_CONFIG_HOME", m_dir.path() + "/config");
        env.insert("XDG_STATE_HOME", m_dir.path() + "/state");
        // No desktop session: keep it from looking for a session bus or an X display.
        env.remove("DISPLAY");
        env.remove("DBUS_SESSION_BUS_ADDRESS");
        env.remove("PULSE_SERVER");
        m_server.setProcessEnvironment(env);
        m_server.setProcessChannelMode(QProcess::SeparateChannels);
        // Run as root (as in CI) the server only warns, as long as it is not asked for system mode.
        m_server.start(program, {"-n", "--daemonize=no", "--system=false", "--exit-idle-time=-1", "--use-pid-file=no",
                                 "--log-target=stderr", "--log-level=info", "-L",
                                 "module-native-protocol-unix auth-anonymous=1 socket=" + m_dir.path() + "/native",
                                 "-L", QString("module-null-sink sink_name=%1 rate=48000 channels=1").arg(kSinkName)});
        const bool ready = testutil::PumpUntil(
            [this] {
                m_log += m_server.readAllStandardError();
                return m_log.contains("Daemon startup complete") || m_server.state() == QProcess::NotRunning;
            },
            10'000);
        if (!ready || m_server.state() != QProcess::Running)
            return "pulseaudio did not start: " + m_log.right(600).toStdString();
        return {};
    }

    void Stop()
    {
        if (m_server.state() == QProcess::NotRunning)
            return;
        Resume();
        m_server.terminate();
        if (!m_server.waitForFinished(5000)) {
            m_server.kill();
            m_server.waitForFinished(5000);
        }
    }
    void Pause() { ::kill(static_cast<pid_t>(m_server.processId()), SIGSTOP); }
    void Resume() { ::kill(static_cast<pid_t>(m_server.processId()), SIGCONT); }
    void Kill()
    {
        Resume();
        m_server.kill();
        m_server.waitForFinished(5000);
    }

    QString Address() const { return "unix:" + m_dir.path() + "/native"; }
    QString Folder() const { return m_dir.path(); }

private:
    QTemporaryDir m_dir;
    QProcess m_server;
    QByteArray m_log;
};

}  // namespace soundtest
