#include "platform/LastError.h"

namespace Winhttpclass::platform {
namespace {
thread_local int tLastError = kNoError;
} // namespace

int LastError() {
    return tLastError;
}

void SetLastError(int code) {
    tLastError = code;
}

} // namespace Winhttpclass::platform
