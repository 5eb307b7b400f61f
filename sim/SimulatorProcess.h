#pragma once

#include <QProcess>
#include <QString>
#include <QStringList>

// The vx310sim program, started beside this one for --simulate and stopped with it.
class SimulatorProcess {
public:
    // The port number the programs give the simulator: free under the built-in rule.
    static constexpr unsigned kPortNumber = 255;

    SimulatorProcess() = default;
    ~SimulatorProcess();
    // Ends the simulator and waits for it, as pulling the adapter would.
    void stop();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts it and waits (a few seconds at most) for the device path it serves.
    bool start(const QStringList& arguments, QString& error);
    const QString& devicePath() const { return m_devicePath; }

    // $VX310SIM, or vx310sim next to this program.
    static QString programPath();

private:
    QProcess m_process;
    QString m_devicePath;
};
