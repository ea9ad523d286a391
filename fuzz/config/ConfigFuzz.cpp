// The configuration reader on arbitrary files. The input is written as
// Conf/Tarvo.conf of an installation made once in a fresh temporary folder.
// Every read gives a value of at most 2047 bytes without line breaks, the
// default address whenever it says so. The first byte picks one more check:
//   - the server host and base URL readers agree with it;
//   - a section of another name after the text changes nothing;
//   - a "[default]" section with the key put before the text decides alone.
// Point TMPDIR at a memory file system: rewriting a file on disk for every
// input waits on the disk.
//   TMPDIR=/dev/shm config_fuzz -runs=10000000 fuzz/config/seeds CORPUS
#include "TempDir.h"
#include "Unitfunction.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <unistd.h>

namespace {

namespace fs = std::filesystem;

void Check(bool ok) {
    if (!ok)
        __builtin_trap();
}

// <root>/bin/TarvoAdmin (never created) and <root>/Conf/Tarvo.conf, removed
// when the fuzzer ends.
using Installation = testsupport::TempInstallation;

const Installation& TheInstallation() {
    static const Installation installation;
    return installation;
}

SServerHost Read(const Installation& inst, std::string_view conf) {
    inst.WriteConf(conf);
    const SServerHost got = ReadServerHost(inst.Program());
    Check(got.Value.size() <= 2047);
    Check(got.Value.find('\n') == std::string::npos);
    if (got.IsDefault)
        Check(got.Value == DefaultServerHost);
    return got;
}

// The two readers built on ReadServerHost agree with it.
void CheckReaders(const Installation& inst, const SServerHost& got) {
    Check(GetServerHost(inst.Program()) == got.Value);
    const std::string base = GetServerBaseUrl(inst.Program());
    Check(base == (got.IsDefault || got.Value.empty() ? got.Value : got.Value + ServerPort));
}

// A host name from the input: letters, digits, dots and hyphens only.
std::string HostFrom(std::string_view bytes) {
    std::string host = "http://h";
    for (const char c : bytes.substr(0, 32))
        if ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '.' || c == '-')
            host += c;
    return host;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size == 0)
        return 0;
    const Installation& inst = TheInstallation();
    const std::string_view conf(reinterpret_cast<const char*>(data + 1), size - 1);
    switch (data[0] % 3) {
    case 0:
        CheckReaders(inst, Read(inst, conf));
        break;
    case 1: {
        const SServerHost plain = Read(inst, conf);
        const SServerHost more =
            Read(inst, std::string(conf) + "\n[other]\nTarvoSWHost=http://other\n");
        Check(more.IsDefault == plain.IsDefault && more.Value == plain.Value);
        break;
    }
    default: {
        const std::string host = HostFrom(conf);
        const SServerHost got =
            Read(inst, "[Default]\r\n  tarvoswhost = \"" + host + "\"\r\n" + std::string(conf));
        Check(!got.IsDefault && got.Value == host);
        break;
    }
    }
    return 0;
}
