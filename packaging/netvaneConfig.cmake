# find_package(netvane) gives the imported target netvane::netvane.
include("${CMAKE_CURRENT_LIST_DIR}/netvaneTargets.cmake")
set(netvane_LIBRARIES netvane::netvane)
