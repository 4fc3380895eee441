#pragma once

#include "interop/QrCodecApi.h"

// The QR codec module's functions, loaded on the first call from the folder
// the programs install it in (relative to the running program, so a build
// tree finds its own). Throws CInterchangeError when it cannot be loaded.
struct CQrCodec
{
    FindQrCodesFunction FindQrCodes;
    EncodeQrCodeFunction EncodeQrCode;
};

const CQrCodec& QrCodec();
