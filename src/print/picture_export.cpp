#include "print/picture_export.h"

#include "files/atomic_file.h"

#include <QBuffer>
#include <QByteArray>
#include <QFile>
#include <QImage>

namespace kq::print {

bool saveBitmap(const QImage& image, const QString& path, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot save the picture to \"%1\": %2").arg(path, why);
        return false;
    };
    if (image.isNull())
        return fail(QStringLiteral("there is no picture"));
    // The picture is made whole in memory first (a few MiB at most), then
    // goes through the same careful replacement as a log file.
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    if (!image.save(&buffer, "BMP"))
        return fail(QStringLiteral("the picture cannot be encoded"));
    files::AtomicFile file(QFile::encodeName(path).toStdString());
    if (!file.open() || !file.write(bytes.constData(), static_cast<std::size_t>(bytes.size())) ||
        !file.commit()) {
        if (error)
            *error = QString::fromLocal8Bit(file.error().c_str());
        return false;
    }
    return true;
}

} // namespace kq::print
