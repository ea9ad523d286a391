# tarvo_warnings(target): the project's warning set, applied to our own targets.
add_library(tarvo_warnings INTERFACE)
target_compile_options(tarvo_warnings INTERFACE
  -Wall -Wextra -Wpedantic -Wshadow -Wnon-virtual-dtor -Wold-style-cast
  -Wcast-align -Woverloaded-virtual -Wnull-dereference -Wformat=2)
add_library(Tarvo::warnings ALIAS tarvo_warnings)
