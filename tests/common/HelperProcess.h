#pragma once
// A test's helper program, built beside the test executables, run in a process of its own with
// its HOME and configuration folder set; killed at the end if it is still running. The helpers
// speak in lines on their standard output ("ready", "saved", ...).
#include <QCoreApplication>
#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <string>

namespace testutil {

class HelperProcess {
public:
    HelperProcess(const QString &program, const std::string &home, const std::string &configHome,
                  const QStringList &arguments, const QProcessEnvironment &extra = {})
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("HOME", QString::fromStdString(home));
        env.insert("XDG_CONFIG_HOME", QString::fromStdString(configHome));
        for (const QString &key : extra.keys())
            env.insert(key, extra.value(key));
        m_process.setProcessEnvironment(env);
        m_process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
        QString bin = QString::fromLocal8Bit(qgetenv("DROVANEL_BIN_DIR"));
        if (bin.isEmpty())
            bin = QCoreApplication::applicationDirPath();
        m_process.start(bin + "/" + program, arguments);
        m_process.waitForStarted(30000);
    }
    ~HelperProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }
    HelperProcess(const HelperProcess &) = delete;
    HelperProcess &operator=(const HelperProcess &) = delete;

    // Waits for the helper to print this line; false when it ends or stays silent too long.
    bool WaitForLine(const QByteArray &line)
    {
        while (!m_process.canReadLine()) {
            if (!m_process.waitForReadyRead(30000))
                return false;
        }
        return m_process.readLine().trimmed() == line;
    }
    qint64 Pid() const { return m_process.processId(); }
    QProcess &Process() { return m_process; }

private:
    QProcess m_process;
};

}  // namespace testutil
