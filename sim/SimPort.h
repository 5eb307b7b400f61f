#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "platform/SerialPort.h"
#include "sim/Vx310Sim.h"

// The simulated clock that in-process tests move by hand.
struct SimClock {
    std::uint64_t nowUs = 0;
    void advanceMs(std::uint64_t ms) { nowUs += ms * 1000; }
};

// In-memory serial ports wired to simulated devices, for tests and benchmarks.
class SimPortDriver : public SerialPortDriver {
public:
    explicit SimPortDriver(SimClock& clock);

    // Port n leads to device.
    void attach(unsigned n, Vx310Sim& device);
    // Port n exists but another program holds it.
    void setBusy(unsigned n);
    // Port n's device goes away, as a pulled adapter: its open channels hang up, and it no
    // longer opens.
    void unplug(unsigned n);
    // How often port n has been unplugged: a channel opened before the last time is dead.
    unsigned unplugs(unsigned n) const;
    // Port n is the node at path, and does not open for the reason given.
    void setUnopenable(unsigned n, const std::string& path, const PortStatus& status);

    bool failWrites = false;  // every write fails, as one that timed out
    // Every write with the simulated time it was made at.
    std::vector<std::pair<std::uint64_t, std::string>> writeLog;
    int probes = 0;
    int opens = 0;
    int openChannels = 0;

    bool probe(unsigned n) override;
    std::unique_ptr<SerialChannel> open(unsigned n) override;
    std::string deviceName(unsigned n) const override;
    PortStatus status(unsigned n) const override;

    SimClock& clock() { return m_clock; }

private:
    SimClock& m_clock;
    std::map<unsigned, Vx310Sim*> m_devices;
    std::set<unsigned> m_busy;
    std::map<unsigned, unsigned> m_unplugs;
    std::map<unsigned, std::pair<std::string, PortStatus>> m_unopenable;
};
