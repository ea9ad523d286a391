// Another project's program that links netvane: "中 1&2" (GBK) URL-encoded as UTF-8.
#include "WinHttpClass.h"

#include <cstdio>
int main() {
    std::puts(Winhttpclass::THTTP::URLEnc("\xD6\xD0 1&2", Winhttpclass::cpUTF8).c_str());
}
