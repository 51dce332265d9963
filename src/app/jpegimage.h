#pragma once
// JPEG pictures decoded through libjpeg.

#include <QByteArray>
#include <QImage>

// Decodes a JPEG file image held in memory into an RGB picture. Data that is
// no JPEG, a picture that libjpeg finds damaged or cut off, or one of more
// than maxPixels pixels gives a null image; nothing is thrown and libjpeg's
// messages are not printed.
QImage DecodeJpeg(const QByteArray &data, qint64 maxPixels = 16 * 1024 * 1024);
