// Keeps the computer and its display awake while the program runs: an idle
// inhibition from the desktop's screen saver service on the session bus and a
// sleep and idle block from the login manager on the system bus. Qt-free
// header; the D-Bus side lives in the .cpp.
#pragma once

#include <memory>

class TPowerRequest {
public:
    // What the services are told about who holds the inhibition, and why.
    static constexpr const char* Application = "TarvoAdmin";
    static constexpr const char* Reason = "Keeps the student list session alive";

    TPowerRequest();
    ~TPowerRequest(); // clears
    TPowerRequest(const TPowerRequest&) = delete;
    TPowerRequest& operator=(const TPowerRequest&) = delete;

    // Takes both inhibitions; one already held is kept, not taken again (a
    // screen saver inhibition whose bus connection was lost is taken anew).
    // Raises std::runtime_error naming the service that failed and why, after
    // keeping whatever the other service granted. Buses are found through
    // DBUS_SESSION_BUS_ADDRESS and DBUS_SYSTEM_BUS_ADDRESS, read on each call,
    // or the usual places when they are not set.
    void Request();
    // Gives back what is held; never raises.
    void Clear() noexcept;

private:
    struct TImpl;
    std::unique_ptr<TImpl> FImpl;
};
