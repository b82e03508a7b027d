#pragma once

#include <QString>

class QImage;

namespace kq::print {

// Saves the picture as a Windows bitmap whatever extension the name has
// (chart.jpg still receives bitmap data). The file is replaced only when
// complete; on failure `error` says why and an existing file is untouched.
bool saveBitmap(const QImage& image, const QString& path, QString* error = nullptr);

} // namespace kq::print
