#pragma once
// skarvel-service as a child process on a free port of 127.0.0.1, its
// standard error kept in a file of the test's own.
#include "tests/support/test_support.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QStringList>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <csignal>
#include <memory>

namespace skarvel::test {

class ServiceProcess {
public:
    explicit ServiceProcess(const QStringList& arguments = {}, const QProcessEnvironment& environment = {}) {
        m_process.setProgram(QStringLiteral(SKARVEL_SERVICE_EXE));
        m_process.setArguments(QStringList{QStringLiteral("--port"), QStringLiteral("0")} + arguments);
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert(environment);
        m_process.setProcessEnvironment(env);
        m_process.setStandardErrorFile(m_dir.filePath(QStringLiteral("stderr.txt")));
        m_process.start();
        if (!m_process.waitForStarted(kWaitMs) || !m_process.waitForReadyRead(kWaitMs)) {
            ADD_FAILURE() << "skarvel-service did not start";
            return;
        }
        m_port = m_process.readLine().trimmed().toInt();
        EXPECT_GT(m_port, 0);
    }
    ~ServiceProcess() {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(5000);
        }
    }
    ServiceProcess(const ServiceProcess&) = delete;
    ServiceProcess& operator=(const ServiceProcess&) = delete;

    int port() const { return m_port; }
#ifndef _WIN32
    void signal(int number) {
        ::kill(pid_t(m_process.processId()), number);
    }
#endif
    // The exit code, or -1 when it did not exit normally within timeoutMs.
    int waitForExit(int timeoutMs) {
        if (!m_process.waitForFinished(timeoutMs) || m_process.exitStatus() != QProcess::NormalExit)
            return -1;
        return m_process.exitCode();
    }
    QStringList stderrLines() const {
        QFile file(m_dir.filePath(QStringLiteral("stderr.txt")));
        if (!file.open(QIODevice::ReadOnly))
            return {};
        return QString::fromUtf8(file.readAll()).split(u'\n', Qt::SkipEmptyParts);
    }

private:
    QTemporaryDir m_dir;
    QProcess m_process;
    int m_port = 0;
};

} // namespace skarvel::test
