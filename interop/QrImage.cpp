#include "interop/QrImage.h"

#include "interop/Interchange.h"
#include "interop/QrCodecModule.h"

#include <QBuffer>
#include <QByteArray>
#include <QImage>
#include <QImageReader>
#include <QSysInfo>

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
    // Screenshots come as 32-bit pixels, which the decoder reads as they
    // are; a conversion would cost a pass over every pixel.
    QImage gray;
    int format = QrGray;
    const QImage* pixels = &image;
    if (image.format() == QImage::Format_RGB32 || image.format() == QImage::Format_ARGB32 ||
        image.format() == QImage::Format_ARGB32_Premultiplied) {
        format = QSysInfo::ByteOrder == QSysInfo::LittleEndian ? QrBgrx : QrXrgb;
    } else if (image.format() != QImage::Format_Grayscale8) {
        gray = image.convertToFormat(QImage::Format_Grayscale8);
        pixels = &gray;
    }
    const CQrPixels view{pixels->constBits(), pixels->width(), pixels->height(),
                         static_cast<int>(pixels->bytesPerLine()), format};
    std::vector<std::string> texts;
    const QrTextSink collect = [](void* context, const char* text, std::size_t length) {
        auto& found = *static_cast<std::vector<std::string>*>(context);
        std::string one(text, length);
        if (std::find(found.begin(), found.end(), one) == found.end()) {
            found.push_back(std::move(one));
        }
    };
    if (QrCodec().FindQrCodes(&view, collect, &texts) != 0) {
        throw CInterchangeError("the QR code decoder failed on the image");
    }
    return texts;
}

std::vector<unsigned char> QrCodeModules(const std::string& text, int& width)
{
    struct Modules
    {
        std::vector<unsigned char> bytes;
        int width = 0;
    } modules;
    const QrModuleSink take = [](void* context, const unsigned char* data, int side) {
        auto& into = *static_cast<Modules*>(context);
        into.width = side;
        into.bytes.assign(data,
                          data + static_cast<std::size_t>(side) * static_cast<std::size_t>(side));
    };
    if (QrCodec().EncodeQrCode(text.c_str(), take, &modules) != 0) {
        modules.bytes.clear();
        modules.width = 0;
    }
    width = modules.width;
    return std::move(modules.bytes);
}
