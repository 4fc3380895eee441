#include "views/QrPicture.h"

#include <QColor>

#include <qrencode.h>

#include <algorithm>
#include <memory>

namespace {

// The light border a reader needs around the code, in modules.
constexpr int QuietZone = 4;

struct QrFree
{
    void operator()(QRcode* code) const { QRcode_free(code); }
};

} // namespace

QImage QrPicture(const std::string& text, int minimumSide)
{
    const std::unique_ptr<QRcode, QrFree> code(
        QRcode_encodeString8bit(text.c_str(), 0, QR_ECLEVEL_M));
    if (!code) {
        return QImage();
    }
    const int modules = code->width + 2 * QuietZone;
    const int scale = std::max(1, (minimumSide + modules - 1) / modules);
    QImage picture(modules * scale, modules * scale, QImage::Format_Grayscale8);
    picture.fill(Qt::white);
    const std::size_t width = static_cast<std::size_t>(code->width);
    for (std::size_t y = 0; y < width; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            // The lowest bit of each byte says whether the module is dark.
            if ((code->data[y * width + x] & 1) != 0) {
                for (int row = 0; row < scale; ++row) {
                    uchar* line = picture.scanLine((static_cast<int>(y) + QuietZone) * scale + row);
                    std::fill_n(
                        line + static_cast<std::size_t>((static_cast<int>(x) + QuietZone) * scale),
                        scale, uchar(0));
                }
            }
        }
    }
    // The module bytes held the secret too.
    std::fill_n(code->data, width * width, static_cast<unsigned char>(0));
    return picture;
}
