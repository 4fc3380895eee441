#include "SecretInput.h"

#include "ExitStatus.h"

#include <openssl/crypto.h>

#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Longer than any PIN or password anybody types; a bigger file is a mistake.
constexpr std::size_t MaxSecretLength = 4096;

// Wipes what it held when it goes.
struct Scratch
{
    std::string text;
    ~Scratch() { OPENSSL_cleanse(text.data(), text.size()); }
};

// One line from the descriptor, without its line end; an EOF ends it too.
std::string ReadLine(int fd, const std::string& source)
{
    Scratch line;
    char byte = 0;
    for (;;) {
        const ssize_t got = read(fd, &byte, 1);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got < 0) {
            throw CCliFailure{ExitStatus::Refused,
                              "cannot read " + source + ": " + std::strerror(errno)};
        }
        if (got == 0 || byte == '\n') {
            break;
        }
        if (byte == '\0' || line.text.size() >= MaxSecretLength) {
            throw CCliFailure{ExitStatus::Refused, source +
                                                       " holds a zero byte or a line longer than " +
                                                       std::to_string(MaxSecretLength) + " bytes"};
        }
        line.text += byte;
    }
    if (!line.text.empty() && line.text.back() == '\r') {
        line.text.pop_back();
    }
    return std::move(line.text);
}

struct Descriptor
{
    int fd;
    ~Descriptor()
    {
        if (fd >= 0) {
            close(fd);
        }
    }
};

} // namespace

std::optional<std::string> AskOnTerminal(const std::string& prompt)
{
    const Descriptor tty{open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)};
    termios saved{};
    if (tty.fd < 0 || tcgetattr(tty.fd, &saved) != 0) {
        return std::nullopt;
    }
    termios quiet = saved;
    quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO | ECHONL);
    quiet.c_lflag |= ICANON;
    if (write(tty.fd, prompt.data(), prompt.size()) < 0 ||
        tcsetattr(tty.fd, TCSAFLUSH, &quiet) != 0) {
        return std::nullopt;
    }
    std::optional<std::string> answer;
    try {
        answer = ReadLine(tty.fd, "the terminal");
    } catch (...) {
        tcsetattr(tty.fd, TCSAFLUSH, &saved);
        throw;
    }
    tcsetattr(tty.fd, TCSAFLUSH, &saved);
    [[maybe_unused]] const ssize_t ended = write(tty.fd, "\n", 1); // the Enter echo left out
    return answer;
}

std::string ReadSecretFile(const std::string& path, const char* what)
{
    const std::string source = std::string(what) + " file " + path;
    // O_NOFOLLOW refuses a symlink; the checks below look at what was opened.
    const Descriptor file{open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC)};
    if (file.fd < 0) {
        const int error = errno;
        throw CCliFailure{ExitStatus::Refused,
                          "cannot open the " + source + ": " +
                              (error == ELOOP ? "it is a symbolic link" : std::strerror(error))};
    }
    struct stat status
    {
    };
    if (fstat(file.fd, &status) != 0 || !S_ISREG(status.st_mode)) {
        throw CCliFailure{ExitStatus::Refused, "the " + source + " is not a regular file"};
    }
    if ((status.st_mode & 077) != 0 || status.st_uid != geteuid()) {
        throw CCliFailure{ExitStatus::Refused,
                          "the " + source +
                              " may be read or written by others: make it yours with mode 0600"};
    }
    return ReadLine(file.fd, "the " + source);
}

std::string ReadSecretDescriptor(const std::string& descriptor, const char* what)
{
    char* end = nullptr;
    errno = 0;
    const long fd = std::strtol(descriptor.c_str(), &end, 10);
    if (descriptor.empty() || *end != '\0' || errno != 0 || fd < 0 || fd > INT_MAX) {
        throw CCliFailure{ExitStatus::Usage, "not a file descriptor: " + descriptor};
    }
    return ReadLine(static_cast<int>(fd), std::string(what) + " descriptor " + descriptor);
}
