#include "interop/QrCodecModule.h"

#include "interop/Interchange.h"

#include <dlfcn.h>

#include <filesystem>
#include <mutex>
#include <string>
#include <system_error>

namespace {

// The module beside the program's install: <prefix>/bin/program loads
// <prefix>/<libdir>/velmora/libvelmora-qr.so; a build tree keeps the same layout.
std::string ModulePath()
{
    std::error_code error;
    const std::filesystem::path program = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) {
        return std::string();
    }
    return (program.parent_path() / ".." / VELMORA_QR_MODULE).lexically_normal().string();
}

CQrCodec Load(std::string& failure)
{
    CQrCodec codec{nullptr, nullptr};
    const std::string path = ModulePath();
    // Never unloaded: the functions stay valid for the rest of the run.
    void* module = path.empty() ? nullptr : dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (module == nullptr) {
        const char* why = dlerror();
        failure = "the QR code module cannot be loaded: " +
                  std::string(why != nullptr ? why : "the program's folder is unknown");
        return codec;
    }
    codec.FindQrCodes = reinterpret_cast<FindQrCodesFunction>(dlsym(module, VELMORA_FIND_QR_CODES));
    codec.EncodeQrCode =
        reinterpret_cast<EncodeQrCodeFunction>(dlsym(module, VELMORA_ENCODE_QR_CODE));
    if (codec.FindQrCodes == nullptr || codec.EncodeQrCode == nullptr) {
        failure = "the QR code module " + path + " lacks its functions";
    }
    return codec;
}

} // namespace

const CQrCodec& QrCodec()
{
    static std::once_flag once;
    static CQrCodec codec{nullptr, nullptr};
    static std::string failure;
    std::call_once(once, [] { codec = Load(failure); });
    if (!failure.empty()) {
        throw CInterchangeError(failure);
    }
    return codec;
}
