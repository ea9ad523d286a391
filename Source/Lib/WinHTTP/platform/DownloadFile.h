// A file that receives a download, standing in for the platform's file
// creation with sharing denied.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

namespace Winhttpclass::platform {

class DownloadFile {
    struct Key {}; // only Open makes one

public:
    // Opens `path` (UTF-8) for writing, created when missing, locked against
    // other writers and then emptied. nullptr when it cannot be opened, is
    // held by another writer (it is then left as it is) or cannot be emptied.
    static std::unique_ptr<DownloadFile> Open(const std::string& path);
    DownloadFile(Key, int handle) : FHandle(handle) {}
    ~DownloadFile();
    DownloadFile(const DownloadFile&) = delete;
    DownloadFile& operator=(const DownloadFile&) = delete;

    // The handle the content readers write to.
    int Handle() const { return FHandle; }

private:
    int FHandle;
};

// Writes all `count` bytes to the file handle; false when it cannot.
bool WriteAll(int handle, const char* data, std::size_t count);

} // namespace Winhttpclass::platform
