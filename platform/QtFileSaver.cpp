#include "QtFileSaver.h"

#include <unistd.h>

#include <QSaveFile>

#include "platform/FileWrite.h"

bool QtFileSaver::save(const std::string& path, const std::string& bytes) {
    // QSaveFile would put a regular file in the place of a FIFO or a device node (through a
    // link too), and as root even in the place of /dev/null.
    m_refusal = unwritableReason(path);
    if (!m_refusal.empty()) {
        return false;
    }
    QSaveFile file(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
    // Unbuffered, so that a disk that fills up fails the write itself: a buffered write
    // that failed only when flushed at commit was seen to replace the file with an empty one.
    if (!file.open(QIODevice::WriteOnly | QIODevice::Unbuffered)) {
        return false;
    }
    const auto size = static_cast<qint64>(bytes.size());
    // fsync too: some file systems only find out at that point that the disk is full.
    if (file.write(bytes.data(), size) != size || !file.flush() || ::fsync(file.handle()) != 0) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
