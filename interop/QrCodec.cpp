// The QR codec module: ZXing and libqrencode behind the plain interface of
// QrCodecApi.h. Nothing may leave it as an exception.
#include "interop/QrCodecApi.h"

#include <ZXing/ReadBarcode.h>

#include <qrencode.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#define VELMORA_QR_EXPORT __attribute__((visibility("default")))

namespace {

ZXing::ImageFormat FormatOf(int format)
{
    switch (format) {
    case QrBgrx:
        return ZXing::ImageFormat::BGRX;
    case QrXrgb:
        return ZXing::ImageFormat::XRGB;
    default:
        return ZXing::ImageFormat::Lum;
    }
}

struct QrFree
{
    void operator()(QRcode* code) const { QRcode_free(code); }
};

} // namespace

extern "C" VELMORA_QR_EXPORT int VelmoraFindQrCodes(const CQrPixels* pixels, QrTextSink sink,
                                                    void* context)
{
    try {
        const ZXing::ImageView view(pixels->Data, pixels->Width, pixels->Height,
                                    FormatOf(pixels->Format), pixels->BytesPerLine);
        ZXing::DecodeHints hints;
        hints.setFormats(ZXing::BarcodeFormat::QRCode);
        hints.setTryHarder(true);
        hints.setTryRotate(true);
        hints.setMaxNumberOfSymbols(255);
        for (const ZXing::Result& result : ZXing::ReadBarcodes(view, hints)) {
            if (result.isValid()) {
                const std::string text = result.text();
                sink(context, text.data(), text.size());
            }
        }
        return 0;
    } catch (...) {
        return -1;
    }
}

extern "C" VELMORA_QR_EXPORT int VelmoraEncodeQrCode(const char* text, QrModuleSink sink,
                                                     void* context)
{
    const std::unique_ptr<QRcode, QrFree> code(QRcode_encodeString8bit(text, 0, QR_ECLEVEL_M));
    if (!code) {
        return -1;
    }
    sink(context, code->data, code->width);
    // The modules held the secret too.
    std::memset(code->data, 0,
                static_cast<std::size_t>(code->width) * static_cast<std::size_t>(code->width));
    return 0;
}
