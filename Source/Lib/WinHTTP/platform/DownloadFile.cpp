#include "platform/DownloadFile.h"

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace Winhttpclass::platform {

std::unique_ptr<DownloadFile> DownloadFile::Open(const std::string& path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
    if (fd < 0)
        return nullptr;
    auto file = std::make_unique<DownloadFile>(Key{}, fd);
    // Not shared while the answer is written: a file another writer holds is
    // left as it is.
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0 || ::ftruncate(fd, 0) != 0)
        return nullptr;
    return file;
}

DownloadFile::~DownloadFile() {
    ::close(FHandle);
}

bool WriteAll(int handle, const char* data, std::size_t count) {
    while (count > 0) {
        const ssize_t n = ::write(handle, data, count);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        count -= static_cast<std::size_t>(n);
    }
    return true;
}

} // namespace Winhttpclass::platform
