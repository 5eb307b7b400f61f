#pragma once

#include <QProcess>
#include <string>

#include "device/DeviceHost.h"

// The simulated device's port number in the benchmarks.
constexpr unsigned kSimPort = 200;

class QuietNotifier : public Notifier {
public:
    NoticeAnswer show(const Notice&) override {
        ++count;
        return NoticeAnswer::Ok;
    }
    int count = 0;
};

class Host : public DeviceHost {
public:
    explicit Host(SerialPortDriver& driver) : m_link(driver, notes) {}
    SerialLink& link() override { return m_link; }
    ConfigBlock& block() override { return m_block; }
    bool& validProgram() override { return m_valid; }
    int pcPort() const override { return port; }
    void selectPort(int n, bool) override { port = n; }
    Notifier& notifier() override { return notes; }

    QuietNotifier notes;
    int port = kSimPort;

private:
    SerialLink m_link;
    ConfigBlock m_block;
    bool m_valid = false;
};

// Starts vx310sim with arguments; the device path it serves, or "" when it did not start.
inline std::string startSimulator(QProcess& sim, const QStringList& arguments) {
    sim.start(VX310SIM_PATH, arguments);
    if (!sim.waitForStarted(5000) || !sim.waitForReadyRead(5000)) {
        return {};
    }
    return QString::fromLocal8Bit(sim.readLine()).trimmed().toStdString();
}
