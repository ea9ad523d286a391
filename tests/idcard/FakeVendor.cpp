// A vendor library for the driver's tests. Each call is appended as one line
// to the file named by TARVO_FAKE_VENDOR_LOG, with the port, the other
// arguments, and "zero" or "dirty" for the contents of each buffer over the
// size the driver promises. Results: TARVO_FAKE_VENDOR_OPEN for Syn_OpenPort,
// TARVO_FAKE_VENDOR_SCAN for the serial, find and select calls (a serial is
// written only on 0), TARVO_FAKE_VENDOR_READ for Syn_ReadMsg; 0 when unset.
// TARVO_FAKE_VENDOR_SERIAL=full fills all 128 bytes of the serial, no zero.
// Built once more with FAKE_VENDOR_WITHOUT_READMSG, lacking Syn_ReadMsg.
#include "SynIDCardRead.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

int ResultFrom(const char* variable) {
    const char* value = std::getenv(variable);
    return value == nullptr ? 0 : std::atoi(value);
}

const char* Contents(const void* buffer, std::size_t size) {
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    return std::all_of(bytes, bytes + size, [](unsigned char b) { return b == 0; }) ? "zero"
                                                                                    : "dirty";
}

void Log(const std::string& line) {
    const char* path = std::getenv("TARVO_FAKE_VENDOR_LOG");
    if (path == nullptr)
        return;
    if (FILE* file = std::fopen(path, "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

std::string Args(int port, const char* buffer, int flag) {
    return " " + std::to_string(port) + " " + buffer + " " + std::to_string(flag);
}

} // namespace

extern "C" {

int Syn_OpenPort(int port) {
    Log("Syn_OpenPort " + std::to_string(port));
    return ResultFrom("TARVO_FAKE_VENDOR_OPEN");
}

int Syn_GetSAMIDToStr(int port, char* text, int ifOpen) {
    Log("Syn_GetSAMIDToStr" + Args(port, Contents(text, 128), ifOpen));
    const int result = ResultFrom("TARVO_FAKE_VENDOR_SCAN");
    if (result != 0)
        return result;
    const char* mode = std::getenv("TARVO_FAKE_VENDOR_SERIAL");
    if (mode != nullptr && std::strcmp(mode, "full") == 0)
        std::memset(text, 'S', 128);
    else
        std::strcpy(text, "FAKE-SAM-0001");
    return 0;
}

int Syn_StartFindIDCard(int port, unsigned char* manaInfo, int ifOpen) {
    Log("Syn_StartFindIDCard" + Args(port, Contents(manaInfo, 4), ifOpen));
    return ResultFrom("TARVO_FAKE_VENDOR_SCAN");
}

int Syn_SelectIDCard(int port, unsigned char* manaMsg, int ifOpen) {
    Log("Syn_SelectIDCard" + Args(port, Contents(manaMsg, 8), ifOpen));
    return ResultFrom("TARVO_FAKE_VENDOR_SCAN");
}

#ifndef FAKE_VENDOR_WITHOUT_READMSG
int Syn_ReadMsg(int port, int ifOpen, unsigned char* record) {
    Log("Syn_ReadMsg " + std::to_string(port) + " " + std::to_string(ifOpen) + " " +
        Contents(record, 531));
    const int result = ResultFrom("TARVO_FAKE_VENDOR_READ");
    if (result == 0) {
        std::memcpy(record, "\xB2\xE2\xCA\xD4", 4);          // name 测试
        std::memcpy(record + 132, "110101199003070016", 18); // identity number
    }
    return result;
}
#endif

int Syn_ClosePort(int port) {
    Log("Syn_ClosePort " + std::to_string(port));
    return 0;
}

} // extern "C"
