#include "print/picture_export.h"

#include <QImage>
#include <QSaveFile>

namespace kq::print {

bool saveBitmap(const QImage& image, const QString& path, QString* error) {
    auto fail = [&](const QString& why) {
        if (error)
            *error = QStringLiteral("Cannot save the picture to \"%1\": %2").arg(path, why);
        return false;
    };
    if (image.isNull())
        return fail(QStringLiteral("there is no picture"));
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly))
        return fail(file.errorString());
    if (!image.save(&file, "BMP")) {
        const QString why = file.error() != QFileDevice::NoError ? file.errorString()
                                                                 : QStringLiteral("write error");
        file.cancelWriting();
        file.commit();
        return fail(why);
    }
    if (!file.commit())
        return fail(file.errorString());
    return true;
}

} // namespace kq::print
