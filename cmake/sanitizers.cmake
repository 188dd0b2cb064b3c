# ASan+UBSan or TSan for the whole tree; one build folder per flavour.
if(VV_SANITIZE)
  string(REPLACE ";" "," _vv_sanitizers "${VV_SANITIZE}")
  add_compile_options(-fsanitize=${_vv_sanitizers} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  # No vptr check: GTK links the reader with --export-dynamic, so WebKit's own
  # shared-pointer releases bind to our instrumented copies, and the check then
  # misreads the engine's types, which carry no type information for it.
  if("undefined" IN_LIST VV_SANITIZE)
    add_compile_options(-fno-sanitize=vptr)
  endif()
  # GCC warns that TSan does not model asio's atomic fences; with warnings as
  # errors (CI=true) the TSan build would stop in asio's headers.
  if("thread" IN_LIST VV_SANITIZE)
    add_compile_options(-Wno-tsan)
  endif()
  add_link_options(-fsanitize=${_vv_sanitizers})
endif()
if(VV_FUZZ)
  add_compile_options(-fsanitize=fuzzer-no-link,address,undefined -fno-omit-frame-pointer)
  add_link_options(-fsanitize=address,undefined)
endif()
