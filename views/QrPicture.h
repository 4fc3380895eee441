#pragma once

#include <QImage>

#include <string>

// A QR code of `text` (error correction M) as a black and white picture with
// its quiet zone, whole pixels per module and at least `minimumSide` pixels
// wide; a null image when the text does not fit in a QR code. Throws
// CInterchangeError when the QR code module cannot be loaded.
QImage QrPicture(const std::string& text, int minimumSide);
