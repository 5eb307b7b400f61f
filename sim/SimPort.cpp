#include "SimPort.h"

namespace {

const char kDeviceName[] = "simulated VX310";

class SimChannel : public SerialChannel {
public:
    SimChannel(SimPortDriver& driver, unsigned n, Vx310Sim& device)
        : m_driver(driver), m_port(n), m_unplugs(driver.unplugs(n)), m_device(device) {
        ++m_driver.openChannels;
    }
    ~SimChannel() override { --m_driver.openChannels; }
    SimChannel(const SimChannel&) = delete;
    SimChannel& operator=(const SimChannel&) = delete;

    bool write(const std::uint8_t* data, std::size_t count, int /*timeoutMs*/) override {
        if (m_driver.failWrites || hungUp()) {
            return false;
        }
        const std::uint64_t now = m_driver.clock().nowUs;
        m_driver.writeLog.emplace_back(now,
                                       std::string(reinterpret_cast<const char*>(data), count));
        m_device.hostWrite(data, count, now);
        return true;
    }

    long read(std::uint8_t* buffer, std::size_t capacity) override {
        if (hungUp()) {
            return -1;
        }
        return static_cast<long>(m_device.hostRead(m_driver.clock().nowUs, buffer, capacity));
    }

    void drain() override {
        // Waiting for the output to leave the port takes time on the wire.
        SimClock& clock = m_driver.clock();
        if (m_device.inputDrainedAtUs() > clock.nowUs) {
            clock.nowUs = m_device.inputDrainedAtUs();
        }
        m_device.advanceTo(clock.nowUs);
    }

    bool hungUp() const override { return m_driver.unplugs(m_port) != m_unplugs; }

private:
    SimPortDriver& m_driver;
    unsigned m_port;
    unsigned m_unplugs;
    Vx310Sim& m_device;
};

}  // namespace

SimPortDriver::SimPortDriver(SimClock& clock) : m_clock(clock) {}

void SimPortDriver::attach(unsigned n, Vx310Sim& device) {
    m_devices[n] = &device;
}

void SimPortDriver::setBusy(unsigned n) {
    m_busy.insert(n);
}

void SimPortDriver::unplug(unsigned n) {
    m_devices.erase(n);
    ++m_unplugs[n];
}

unsigned SimPortDriver::unplugs(unsigned n) const {
    const auto it = m_unplugs.find(n);
    return it == m_unplugs.end() ? 0 : it->second;
}

bool SimPortDriver::probe(unsigned n) {
    ++probes;
    return m_devices.count(n) != 0 && m_busy.count(n) == 0 && m_unopenable.count(n) == 0;
}

std::unique_ptr<SerialChannel> SimPortDriver::open(unsigned n) {
    ++opens;
    const auto it = m_devices.find(n);
    if (it == m_devices.end() || m_busy.count(n) != 0 || m_unopenable.count(n) != 0) {
        return nullptr;
    }
    return std::make_unique<SimChannel>(*this, n, *it->second);
}

void SimPortDriver::setUnopenable(unsigned n, const std::string& path, const PortStatus& status) {
    m_unopenable[n] = {path, status};
}

std::string SimPortDriver::deviceName(unsigned n) const {
    if (const auto it = m_unopenable.find(n); it != m_unopenable.end()) {
        return it->second.first;
    }
    return m_devices.count(n) != 0 ? kDeviceName : std::string();
}

PortStatus SimPortDriver::status(unsigned n) const {
    if (const auto it = m_unopenable.find(n); it != m_unopenable.end()) {
        return it->second.second;
    }
    PortStatus status;
    if (m_busy.count(n) != 0) {
        status.fault = PortFault::Busy;
    } else if (m_devices.count(n) == 0) {
        status.fault = PortFault::Missing;
    }
    return status;
}
