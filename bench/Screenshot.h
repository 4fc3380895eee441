#pragma once

#include <QImage>

#include <string>

// The Key URI the screenshot's QR code holds.
extern const char* const ScreenshotUri;

// A 1920x1080 screenshot as the X server hands it over (32-bit pixels): a
// desktop of a few windows, one of them a web page with the QR code of
// ScreenshotUri at 4 pixels per module.
QImage MakeScreenshot();
