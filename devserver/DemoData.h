// The demo agent and his students, for trying the program without a real
// server.
#pragma once

#include "Store.h"

#include <string>

namespace tarvo::devserver {

inline constexpr const char* kDemoAccount = "13800138000";
inline constexpr const char* kDemoPassword = "tarvo123";
inline constexpr int kDemoStudents = 45;

// A 24-bit BMP file of width x height pixels, a head-and-shoulders figure
// whose colours depend on `seed`.
std::string MakeBmp(int width, int height, unsigned seed);

// Fills an empty store with the demo agent (quota 200) and 45 students,
// every third with a 102 x 126 photo; returns false and changes nothing
// when the store holds an agent already.
bool FillDemo(Store& store);

} // namespace tarvo::devserver
