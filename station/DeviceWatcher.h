#pragma once

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <memory>

// A station's eyes: watches folders for serial devices and says when one appears. What is
// there when watching begins is not new.
class DeviceWatcher : public QObject {
    Q_OBJECT
public:
    // patterns: the names that count ("ttyUSB*"), every entry when empty.
    void watch(const QStringList& folders, const QStringList& patterns);
    void stop();
    bool watching() const { return m_watcher != nullptr; }

signals:
    // name: the device's entry in the first watched folder that has one (a by-id link,
    // which stays the same whichever socket the adapter is in); device: its real path.
    void appeared(const QString& name, const QString& device);

private:
    void scan();
    QString nameOf(const QString& device) const;

    std::unique_ptr<QFileSystemWatcher> m_watcher;
    QStringList m_folders;
    QStringList m_patterns;
    QSet<QString> m_present;  // real paths of the devices there now
};
