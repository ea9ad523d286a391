// Answers from a server, from bytes: each input is the whole answer to
// netvane's request, read through a session served from memory (no socket),
// after which the peer closes. Heads, bodies (by length, chunked, by close),
// charsets, cookies and redirects of any shape must end in a result or a
// failure, never in a crash.
//
// The first byte picks how the answer is read:
//   bit 0     keep-alive
//   bits 1-2  0: Get into a text, 1: Get into a stream, 2 and 3: Post
//   bits 3-4  bytes per read: all there are, 7, 61 or 509
//   bit 5     redirects followed (the same answer serves the next connection)
#include "WinHttpClass.h"
#include "platform/MemoryTransport.h"

#include <cstdint>
#include <cstdlib>
#include <memory>
#include <string>

namespace {

bool ClearProxyEnvironment() {
    for (const char* name :
         {"http_proxy", "HTTP_PROXY", "https_proxy", "HTTPS_PROXY", "no_proxy", "NO_PROXY"})
        ::unsetenv(name);
    return true;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    [[maybe_unused]] static const bool cleared = ClearProxyEnvironment();
    if (size == 0)
        return 0;
    const std::uint8_t mode = data[0];
    constexpr std::size_t kPieces[] = {0, 7, 61, 509};
    auto peer = std::make_shared<Winhttpclass::platform::MemoryPeer>();
    peer->answers.emplace_back(reinterpret_cast<const char*>(data + 1), size - 1);
    peer->pieceSize = kPieces[(mode >> 3) & 3];

    // One session for all inputs; what an answer leaves behind is reset.
    static Winhttpclass::THTTP http("", "", "", "");
    http.ClearCookie();
    http.RedirectsLeft = 8;
    Winhttpclass::platform::UseMemoryTransport(*http.SessionHandle, peer);
    http.KeepAlive = (mode & 1) != 0;
    http.AutoRedirect = (mode & 0x20) != 0;
    if (http.AutoRedirect)
        peer->answers.push_back(peer->answers.front());
    const std::string url = "http://fuzz.test/fuzz";
    switch ((mode >> 1) & 3) {
    case 0:
        http.Get(url, Winhttpclass::cpAuto);
        break;
    case 1: {
        Winhttpclass::TMemoryStream stream;
        http.Get(url, stream);
        break;
    }
    default:
        http.Post(url, "a=1", Winhttpclass::cpUTF8);
        break;
    }
    // What the answer left behind is readable.
    http.GetBJDate();
    http.GetCookie();
    http.GetCookies();
    return 0;
}
