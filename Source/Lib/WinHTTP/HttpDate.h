// The HTTP date parser shared by THTTP and the cookie store.
#pragma once

#include <string_view>

namespace Winhttpclass::detail {

// An HTTP date (RFC 1123, RFC 850 or asctime form; weekday and zone may be
// missing) as a date-time value in UTC+8; 0 for a text that is none.
double HttpDateToBjTime(std::string_view text);

} // namespace Winhttpclass::detail
