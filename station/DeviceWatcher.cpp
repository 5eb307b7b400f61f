#include "DeviceWatcher.h"

#include <QDir>
#include <QFileInfo>

namespace {

// How often a pending device is looked at again; a bounce shorter than this between two
// looks is seen by the folder's change notice instead.
constexpr int kLookMs = 100;

}  // namespace

void DeviceWatcher::watch(const QStringList& folders, const QStringList& patterns) {
    m_folders = folders;
    m_patterns = patterns;
    m_clock.start();
    m_watcher = std::make_unique<QFileSystemWatcher>();
    connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, this, &DeviceWatcher::scan);
    for (const QString& folder : m_folders) {
        if (QFileInfo(folder).isDir()) {
            m_watcher->addPath(folder);
        }
    }
    const QHash<QString, QString> now = present();
    for (auto it = now.begin(); it != now.end(); ++it) {
        m_known.insert(it.key());
    }
    m_settle.setInterval(kLookMs);
    connect(&m_settle, &QTimer::timeout, this, &DeviceWatcher::settle);
}

void DeviceWatcher::stop() {
    m_watcher.reset();
    m_settle.stop();
    m_pending.clear();
}

QHash<QString, QString> DeviceWatcher::present() const {
    QHash<QString, QString> devices;
    for (const QString& folder : m_folders) {
        const QFileInfoList entries = QDir(folder).entryInfoList(
            m_patterns, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
        for (const QFileInfo& entry : entries) {
            const QString device = entry.canonicalFilePath();
            // The first folder's name wins: the by-id link before the node it points to.
            if (!device.isEmpty() && !devices.contains(device)) {
                devices.insert(device, entry.absoluteFilePath());
            }
        }
    }
    return devices;
}

void DeviceWatcher::scan() {
    if (!m_watcher) {
        return;
    }
    // A folder made after the watch began (the first USB adapter's by-id) is watched from
    // then on.
    for (const QString& folder : m_folders) {
        if (QFileInfo(folder).isDir() && !m_watcher->directories().contains(folder)) {
            m_watcher->addPath(folder);
        }
    }
    const QHash<QString, QString> now = present();
    // Gone: forgotten, so that coming back is a new plug-in; a pending one starts over.
    for (auto it = m_known.begin(); it != m_known.end();) {
        it = now.contains(*it) ? std::next(it) : m_known.erase(it);
    }
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        it = now.contains(it.key()) ? std::next(it) : m_pending.erase(it);
    }
    for (auto it = now.begin(); it != now.end(); ++it) {
        if (!m_known.contains(it.key()) && !m_pending.contains(it.key())) {
            m_pending.insert(it.key(), m_clock.elapsed());
        }
    }
    if (!m_pending.isEmpty() && !m_settle.isActive()) {
        m_settle.start();
    }
}

void DeviceWatcher::settle() {
    if (!m_watcher) {
        return;
    }
    // Looked at afresh: a device that went and came back within a look starts over too.
    const QHash<QString, QString> now = present();
    const qint64 time = m_clock.elapsed();
    for (auto it = m_pending.begin(); it != m_pending.end();) {
        if (!now.contains(it.key())) {
            it = m_pending.erase(it);
        } else if (time - it.value() >= kSettleMs) {
            const QString device = it.key();
            it = m_pending.erase(it);
            m_known.insert(device);
            emit appeared(now.value(device), device);
        } else {
            ++it;
        }
    }
    if (m_pending.isEmpty()) {
        m_settle.stop();
    }
}
