#pragma once

#include <string>
#include <vector>

class QImage;

// QR codes in images.

// Longest image file read (a screenshot of several screens stays well below).
constexpr std::size_t MaxImageFileLength = 64 << 20;

// True when Qt reads the bytes as an image of a format it knows (PNG, JPEG,
// GIF, BMP and the others its plugins add).
bool IsImage(const std::string& bytes);

// The texts of every QR code in the image, in the order found, each once.
// Throws CInterchangeError when the bytes are no image Qt reads or the image
// holds no QR code.
std::vector<std::string> ReadQrTexts(const std::string& bytes);

// The texts of every QR code in an image already in memory (a screenshot), in
// the order found, each once; empty when there is none. Throws
// CInterchangeError when the QR code module cannot be loaded.
std::vector<std::string> FindQrTexts(const QImage& image);

// The modules of a QR code of `text` (error correction M), width x width
// bytes row by row, the lowest bit set for a dark one; empty when the text
// does not fit in a QR code. Throws as FindQrTexts. The bytes are the text's
// secret as much as the text: wipe them after use.
std::vector<unsigned char> QrCodeModules(const std::string& text, int& width);
