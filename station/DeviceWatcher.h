#pragma once

#include <QElapsedTimer>
#include <QFileSystemWatcher>
#include <QHash>
#include <QObject>
#include <QSet>
#include <QStringList>
#include <QTimer>
#include <memory>

// A station's eyes: watches folders for serial devices and says when one has appeared and
// stayed. A device must be there, without a break, for the settle time before it counts: a
// contact that bounces, or a link that comes and goes within it, starts nothing, and the
// system has had time to set the device's permissions and links. What is there when
// watching begins is not new.
class DeviceWatcher : public QObject {
    Q_OBJECT
public:
    static constexpr int kSettleMs = 500;

    // patterns: the names that count ("ttyUSB*"), every entry when empty.
    void watch(const QStringList& folders, const QStringList& patterns);
    void stop();
    bool watching() const { return m_watcher != nullptr; }

signals:
    // name: the device's entry in the first watched folder that has one (a by-id link,
    // which stays the same whichever socket the adapter is in); device: its real path.
    void appeared(const QString& name, const QString& device);

private:
    // The devices there now: real path to the name it goes by.
    QHash<QString, QString> present() const;
    void scan();
    void settle();

    std::unique_ptr<QFileSystemWatcher> m_watcher;
    QStringList m_folders;
    QStringList m_patterns;
    QSet<QString> m_known;             // there now, and reported or there from the start
    QHash<QString, qint64> m_pending;  // appeared, not yet settled: since when
    QElapsedTimer m_clock;
    QTimer m_settle;
};
