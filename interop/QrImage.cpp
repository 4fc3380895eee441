#include "interop/QrImage.h"

#include "interop/Interchange.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QSysInfo>

#include <ZXing/ReadBarcode.h>

#include <algorithm>

namespace {

QByteArray Wrap(const std::string& bytes)
{
    // No copy: the array only borrows the bytes while they are read.
    return QByteArray::fromRawData(bytes.data(), static_cast<qsizetype>(bytes.size()));
}

} // namespace

bool IsImage(const std::string& bytes)
{
    QByteArray data = Wrap(bytes);
    QBuffer buffer(&data);
    buffer.open(QIODevice::ReadOnly);
    return !QImageReader::imageFormat(&buffer).isEmpty();
}

std::vector<std::string> ReadQrTexts(const std::string& bytes)
{
    if (bytes.size() > MaxImageFileLength) {
        throw CInterchangeError("the image is larger than " +
                                std::to_string(MaxImageFileLength >> 20) + " MiB");
    }
    QImage image;
    if (!image.loadFromData(Wrap(bytes))) {
        throw CInterchangeError("the image cannot be read");
    }
    std::vector<std::string> texts = FindQrTexts(image);
    if (texts.empty()) {
        throw CInterchangeError("the image holds no QR code that can be read");
    }
    return texts;
}

std::vector<std::string> FindQrTexts(const QImage& image)
{
    // Screenshots come as 32-bit pixels, which ZXing reads as they are; a
    // conversion would cost a pass over every pixel.
    QImage gray;
    ZXing::ImageFormat format = ZXing::ImageFormat::Lum;
    const QImage* pixels = &image;
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32 ||
        image.format() == QImage::Format_ARGB32_Premultiplied) {
        format = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? ZXing::ImageFormat::BGRX
                                                               : ZXing::ImageFormat::XRGB;
    } else if (image.format() != QImage::Format_Grayscale8) {
        gray = image.convertToFormat(QImage::Format_Grayscale8);
        pixels = &gray;
    }
    const ZXing::ImageView view(pixels->constBits(), pixels->width(), pixels->height(), format,
                                static_cast<int>(pixels->bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    hints.setMaxNumberOfSymbols(255);
    std::vector<std::string> texts;
    for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
        if (!result.isValid()) {
            continue;
        }
        std::string text = result.text();
        if (std::find(texts.begin(), texts.end(), text) == texts.end()) {
            texts.push_back(std::move(text));
        }
    }
    return texts;
}
