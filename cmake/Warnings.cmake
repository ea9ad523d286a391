# Tarvo::warnings: the project's warning set, linked by our own targets.
# is left out: at -O2 GCC 12 raises it inside inlined
# libstdc++ and Asio code, where it cannot be acted on.
add_library(tarvo_warnings INTERFACE)
target_compile_options(tarvo_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wformat=2)
add_library(Tarvo::warnings ALIAS tarvo_warnings)
