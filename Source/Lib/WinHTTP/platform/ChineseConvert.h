// Simplified <-> Traditional Chinese by character tables (OpenCC), standing
// in for the platform's locale mapping.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace Funclib::platform {

enum class ChineseDirection { ToTraditional, ToSimplified };

// Converts UTF-8 text character by character; nothing when the tables cannot
// be loaded.
std::optional<std::string> ConvertChinese(std::string_view utf8, ChineseDirection direction);

} // namespace Funclib::platform
