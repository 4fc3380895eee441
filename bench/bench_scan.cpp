// Scanning a 1920x1080 screenshot that holds one QR code, as Import's Scan
// screen does once the screen is grabbed (QR codes found in the 32-bit
// pixels, their texts read as URIs), beside ZXing-cpp's own ReadBarcodes on
// the same pixels with the same options.
#include "Figures.h"
#include "Screenshot.h"

#include "interop/Interchange.h"
#include "interop/QrImage.h"

#include <ZXing/ReadBarcode.h>

#include <benchmark/benchmark.h>

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

QImage* g_screen = nullptr;

void Project()
{
    const std::vector<CImportEntry> entries = ReadImportTexts(FindQrTexts(*g_screen));
    if (entries.size() != 1 || !entries.front().Token) {
        throw std::runtime_error("the scan did not find the account");
    }
    benchmark::DoNotOptimize(entries.data());
}

void Reference()
{
    const ZXing::ImageView view(g_screen->constBits(), g_screen->width(), g_screen->height(),
                                ZXing::ImageFormat::BGRX,
                                static_cast<int>(g_screen->bytesPerLine()));
    ZXing::DecodeHints hints;
    hints.setFormats(ZXing::BarcodeFormat::QRCode);
    hints.setTryHarder(true);
    hints.setTryRotate(true);
    hints.setMaxNumberOfSymbols(255);
    const ZXing::Results results = ZXing::ReadBarcodes(view, hints);
    if (results.size() != 1 || results.front().text() != ScreenshotUri) {
        throw std::runtime_error("ZXing did not find the QR code");
    }
    benchmark::DoNotOptimize(results.data());
}

void Scan(benchmark::State& state)
{
    InTurns(state, false, Project, Reference);
}
BENCHMARK(Scan);

} // namespace

int main(int argc, char** argv)
{
    try {
        QImage screen = MakeScreenshot();
        g_screen = &screen;
        return RunFigures(
            argc, argv,
            {{"Scan: 1920x1080 screenshot, one QR code vs ZXing ReadBarcodes alone", "Scan", 1.2}});
    } catch (const std::exception& error) {
        std::fprintf(stderr, "bench_scan: %s\n", error.what());
        return 1;
    }
}
