#include "views/QrPicture.h"

#include "interop/QrImage.h"

#include <QColor>

#include <openssl/crypto.h>

#include <algorithm>
#include <vector>

namespace {

// The light border a reader needs around the code, in modules.
constexpr int QuietZone = 4;

} // namespace

QImage QrPicture(const std::string& text, int minimumSide)
{
    int side = 0;
    std::vector<unsigned char> code = QrCodeModules(text, side);
    if (code.empty()) {
        return QImage();
    }
    const int modules = side + 2 * QuietZone;
    const int scale = std::max(1, (minimumSide + modules - 1) / modules);
    QImage picture(modules * scale, modules * scale, QImage::Format_Grayscale8);
    picture.fill(Qt::white);
    const auto width = static_cast<std::size_t>(side);
    for (std::size_t y = 0; y < width; ++y) {
        for (std::size_t x = 0; x < width; ++x) {
            if ((code[y * width + x] & 1) != 0) {
                for (int row = 0; row < scale; ++row) {
                    uchar* line = picture.scanLine((static_cast<int>(y) + QuietZone) * scale + row);
                    std::fill_n(
                        line + static_cast<std::size_t>((static_cast<int>(x) + QuietZone) * scale),
                        scale, uchar(0));
                }
            }
        }
    }
    OPENSSL_cleanse(code.data(), code.size());
    return picture;
}
