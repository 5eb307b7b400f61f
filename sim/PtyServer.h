#pragma once

#include <csignal>
#include <cstdint>
#include <string>

#include "sim/Vx310Sim.h"

// Serves a simulated VX310 on a pseudo-terminal, so that real serial code can talk to it.
class PtyServer {
public:
    explicit PtyServer(Vx310Sim& device);
    ~PtyServer();
    PtyServer(const PtyServer&) = delete;
    PtyServer& operator=(const PtyServer&) = delete;

    // Creates the pseudo-terminal (raw mode) and, when linkPath is not empty, a symbolic link
    // to it there. False with a message in error when that fails.
    bool start(const std::string& linkPath, std::string& error);
    // The slave side's device path, e.g. /dev/pts/3.
    const std::string& devicePath() const { return m_devicePath; }
    // Moves bytes both ways for at most maxWaitMs of real time.
    void serveFor(int maxWaitMs);
    // Serves until stop becomes non-zero.
    void run(const volatile std::sig_atomic_t& stop);

private:
    std::uint64_t nowUs() const;

    Vx310Sim& m_device;
    int m_master = -1;
    int m_slaveKeeper = -1;  // keeps the slave side open so that reads never see a hang-up
    std::string m_devicePath;
    std::string m_linkPath;    // the symbolic link this server made, removed at the end
    std::string m_pendingOut;  // device output the client has not taken yet
    std::int64_t m_startNs = 0;
};
