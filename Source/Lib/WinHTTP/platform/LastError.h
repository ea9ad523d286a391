// The HTTP layer's last error, kept per thread, with the numbers callers of
// the platform's HTTP service know.
#pragma once

namespace Winhttpclass::platform {

enum LastErrorCode : int {
    kNoError = 0,
    kErrInvalidParameter = 87,
    kErrTimeout = 12002,
    kErrInternal = 12004,
    kErrInvalidUrl = 12005,
    kErrNameNotResolved = 12007,
    kErrIncorrectHandleState = 12019,
    kErrCannotConnect = 12029,
    kErrConnectionError = 12030,
    kErrInvalidServerResponse = 12152,
    kErrSecureFailure = 12175,
};

int LastError();
void SetLastError(int code);

} // namespace Winhttpclass::platform
