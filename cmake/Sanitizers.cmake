# With TARVO_SANITIZE every target of the tree is built and linked with
# AddressSanitizer and UndefinedBehaviorSanitizer; UB aborts the process.
if(TARVO_SANITIZE)
  add_compile_options(-fsanitize=address,undefined -fno-sanitize-recover=all
                      -fno-omit-frame-pointer -g)
  add_link_options(-fsanitize=address,undefined)
endif()
