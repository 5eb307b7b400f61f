#include "QtFileSaver.h"

#include <QSaveFile>

bool QtFileSaver::save(const std::string& path, const std::string& bytes) {
    QSaveFile file(QString::fromUtf8(path.data(), static_cast<qsizetype>(path.size())));
    if (!file.open(QIODevice::WriteOnly)) {
        return false;
    }
    const auto size = static_cast<qint64>(bytes.size());
    if (file.write(bytes.data(), size) != size) {
        file.cancelWriting();
        return false;
    }
    return file.commit();
}
