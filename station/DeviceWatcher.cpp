#include "DeviceWatcher.h"

#include <QDir>
#include <QFileInfo>
#include <QTimer>

namespace {

// A device needs a moment after it appears before it may be opened: its permissions and
// links are set up just after the node itself.
constexpr int kSettleMs = 300;

QFileInfoList entriesOf(const QString& folder, const QStringList& patterns) {
    return QDir(folder).entryInfoList(
        patterns, QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot, QDir::Name);
}

}  // namespace

void DeviceWatcher::watch(const QStringList& folders, const QStringList& patterns) {
    m_folders = folders;
    m_patterns = patterns;
    m_watcher = std::make_unique<QFileSystemWatcher>();
    connect(m_watcher.get(), &QFileSystemWatcher::directoryChanged, this, &DeviceWatcher::scan);
    for (const QString& folder : m_folders) {
        if (QFileInfo(folder).isDir()) {
            m_watcher->addPath(folder);
        }
        for (const QFileInfo& entry : entriesOf(folder, m_patterns)) {
            const QString device = entry.canonicalFilePath();
            if (!device.isEmpty()) {
                m_present.insert(device);
            }
        }
    }
}

void DeviceWatcher::stop() {
    m_watcher.reset();
}

void DeviceWatcher::scan() {
    if (!m_watcher) {
        return;
    }
    QSet<QString> now;
    for (const QString& folder : m_folders) {
        // A folder made after the watch began (the first USB adapter's by-id) is watched
        // from then on.
        if (QFileInfo(folder).isDir() && !m_watcher->directories().contains(folder)) {
            m_watcher->addPath(folder);
        }
        for (const QFileInfo& entry : entriesOf(folder, m_patterns)) {
            const QString device = entry.canonicalFilePath();
            if (device.isEmpty() || now.contains(device)) {
                continue;
            }
            now.insert(device);
            if (m_present.contains(device)) {
                continue;
            }
            // A new device, once per plug-in.
            QTimer::singleShot(kSettleMs, this, [this, device] {
                if (m_watcher) {
                    emit appeared(nameOf(device), device);
                }
            });
        }
    }
    m_present = now;
}

QString DeviceWatcher::nameOf(const QString& device) const {
    for (const QString& folder : m_folders) {
        for (const QFileInfo& entry : entriesOf(folder, m_patterns)) {
            if (entry.canonicalFilePath() == device) {
                return entry.absoluteFilePath();
            }
        }
    }
    return device;
}
