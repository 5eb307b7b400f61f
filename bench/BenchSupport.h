#pragma once

#include <QProcess>
#include <QTemporaryDir>
#include <array>
#include <string>

#include "configfiles/ConfigFile.h"
#include "device/DeviceHost.h"
#include "platform/FileSaver.h"

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

// Two configuration files in dir that differ in Port 2's parity, loaded in turn so that every
// load changes the unit.
inline std::array<std::string, 2> parityFiles(const QTemporaryDir& dir, FileSaver& saver) {
    std::array<std::string, 2> files;
    for (unsigned i = 0; i < 2; ++i) {
        ConfigBlock block = demoBlock();
        block.setByte(Offset::p2Parity, 1u + i);
        files[i] = dir.filePath(QString("unit%1.vxc").arg(i)).toStdString();
        WriteConfigFile(files[i], block, "bench", saver);
    }
    return files;
}
