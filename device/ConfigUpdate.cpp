#include "ConfigUpdate.h"

namespace {
const std::uint8_t kStoreCommand[] = {0x05, 'L'};
}

ConfigUpdate::ConfigUpdate(DeviceHost& host, DialogControl& control)
    : m_host(host), m_control(control) {}

void ConfigUpdate::start() {
    m_state = NotSent;
    m_control.startTimer(kFirstTickMs);
}

void ConfigUpdate::tick() {
    m_control.stopTimer();
    SerialLink& link = m_host.link();
    link.poll();
    if (m_state == Sent) {
        m_control.finish(0);
        return;
    }
    if (m_host.pcPort() != 0) {
        link.purge();
        if (!link.write(kStoreCommand, sizeof kStoreCommand)) {
            link.reportWriteFailure();
            // Nothing more will happen here, so the dialog gives way to the read-back.
            m_control.finish(0);
            return;
        }
        if (!link.writeTx(kConfigTextLength)) {
            m_control.finish(0);
            return;
        }
    }
    m_state = Sent;
    m_control.startTimer(kCloseDelayMs);
}
