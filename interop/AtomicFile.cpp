#include "interop/Interchange.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// Closes the temporary file and removes it unless it was renamed into place.
class CTemporaryFile
{
public:
    explicit CTemporaryFile(std::string pattern) : path(std::move(pattern))
    {
        std::vector<char> name(path.begin(), path.end());
        name.push_back('\0');
        // mkstemp creates the file with mode 0600: nobody else can read a byte of it.
        descriptor = mkstemp(name.data());
        path = name.data();
    }
    CTemporaryFile(const CTemporaryFile&) = delete;
    CTemporaryFile& operator=(const CTemporaryFile&) = delete;
    ~CTemporaryFile()
    {
        if (descriptor >= 0) {
            close(descriptor);
        }
        if (!renamed) {
            unlink(path.c_str());
        }
    }

    int descriptor = -1;
    std::string path;
    bool renamed = false;
};

[[noreturn]] void Fail(const std::string& what, const std::string& path, int error)
{
    throw CInterchangeError("cannot " + what + " " + path + ": " + std::strerror(error));
}

} // namespace

void WriteFileAtomically(const std::string& path, const std::string& bytes)
{
    const std::size_t slash = path.rfind('/');
    const std::string folder =
        slash == std::string::npos ? std::string(".") : (slash == 0 ? "/" : path.substr(0, slash));
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    if (name.empty()) {
        throw CInterchangeError("cannot write " + path + ": it names a folder");
    }

    CTemporaryFile temporary(folder + "/." + name + ".XXXXXX");
    if (temporary.descriptor < 0) {
        Fail("create a file in", folder, errno);
    }
    if (fchmod(temporary.descriptor, S_IRUSR | S_IWUSR) != 0) {
        Fail("protect", temporary.path, errno);
    }
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count =
            write(temporary.descriptor, bytes.data() + written, bytes.size() - written);
        if (count < 0 && errno == EINTR) {
            continue;
        }
        if (count <= 0) {
            Fail("write", temporary.path, count < 0 ? errno : EIO);
        }
        written += static_cast<std::size_t>(count);
    }
    if (fsync(temporary.descriptor) != 0) {
        Fail("sync", temporary.path, errno);
    }
    const int descriptor = temporary.descriptor;
    temporary.descriptor = -1;
    if (close(descriptor) != 0) {
        Fail("close", temporary.path, errno);
    }
    if (rename(temporary.path.c_str(), path.c_str()) != 0) {
        Fail("replace", path, errno);
    }
    temporary.renamed = true;
    // The rename itself lasts only once the folder is synced.
    const int folderDescriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor < 0) {
        Fail("open the folder", folder, errno);
    }
    const int synced = fsync(folderDescriptor);
    const int error = errno;
    close(folderDescriptor);
    if (synced != 0) {
        Fail("sync the folder", folder, error);
    }
}
