// Export marker of the netvane shared library.
#pragma once

#if defined(NETVANE_BUILDING)
#define NETVANE_API __attribute__((visibility("default")))
#else
#define NETVANE_API
#endif
