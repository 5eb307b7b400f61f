#include "QtFileSaver.h"

#include <unistd.h>

#include <QSaveFile>

bool QtFileSaver::save(const std::string& path, const std::string& bytes) {
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
