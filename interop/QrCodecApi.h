#pragma once

#include <cstddef>

// The interface of the QR codec module (libvelmora-qr.so), which holds the
// QR decoder (ZXing) and encoder (libqrencode). The programs load it on first
// use, so that a start that reads and draws no QR code never loads them.
extern "C" {

// Pixels of a picture: 8-bit grey, or 32-bit with the blue byte first
// (BGRX) or last (XRGB) in memory.
enum QrPixelFormat { QrGray = 0, QrBgrx = 1, QrXrgb = 2 };

struct CQrPixels
{
    const unsigned char* Data;
    int Width;
    int Height;
    int BytesPerLine;
    int Format; // QrPixelFormat
};

// Receives one text or one QR code's modules.
typedef void (*QrTextSink)(void* context, const char* text, std::size_t length);
typedef void (*QrModuleSink)(void* context, const unsigned char* modules, int width);

// Hands every QR code's text in the picture to `sink`, in the order found;
// 0, or -1 when the decoder failed.
typedef int (*FindQrCodesFunction)(const CQrPixels* pixels, QrTextSink sink, void* context);
// Hands `sink` the modules of a QR code of the text (error correction M),
// width x width bytes row by row, the lowest bit set for a dark module; 0,
// or -1 when the text does not fit in a QR code.
typedef int (*EncodeQrCodeFunction)(const char* text, QrModuleSink sink, void* context);

#define VELMORA_FIND_QR_CODES "VelmoraFindQrCodes"
#define VELMORA_ENCODE_QR_CODE "VelmoraEncodeQrCode"
}
