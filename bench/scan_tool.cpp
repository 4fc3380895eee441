// The scan's whole-process figure, run by scripts/run-bench.py beside zbarimg:
//   scan_tool screenshot FILE   writes the benchmark's screenshot as a PNG
//   scan_tool scan FILE         prints the URI of every QR code in the picture,
//                               found as the import dialog finds them
#include "Screenshot.h"

#include "interop/QrImage.h"

#include <QImage>

#include <cstdio>
#include <cstring>
#include <exception>
#include <string>

int main(int argc, char** argv)
{
    if (argc != 3 ||
        (std::strcmp(argv[1], "screenshot") != 0 && std::strcmp(argv[1], "scan") != 0)) {
        std::fprintf(stderr, "usage: scan_tool screenshot FILE | scan FILE\n");
        return 2;
    }
    try {
        if (std::strcmp(argv[1], "screenshot") == 0) {
            return MakeScreenshot().save(QString::fromLocal8Bit(argv[2]), "PNG") ? 0 : 1;
        }
        const QImage picture(QString::fromLocal8Bit(argv[2]));
        for (const std::string& text : FindQrTexts(picture)) {
            std::printf("%s\n", text.c_str());
        }
        return 0;
    } catch (const std::exception& error) {
        std::fprintf(stderr, "scan_tool: %s\n", error.what());
        return 1;
    }
}
