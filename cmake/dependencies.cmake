# Every outside dependency, found once for the whole tree (imported targets
# made here are seen by every folder below).
find_package(Threads REQUIRED)
find_package(PkgConfig REQUIRED)
find_package(CURL REQUIRED)
find_package(OpenSSL REQUIRED)
find_package(ZLIB REQUIRED)
find_package(SQLite3 REQUIRED)
find_package(simdjson REQUIRED)
find_package(fmt REQUIRED)
find_package(GTest REQUIRED)
# The devserver's own JSON library and pattern matcher.
find_package(nlohmann_json REQUIRED)
pkg_check_modules(PCRE2 REQUIRED IMPORTED_TARGET libpcre2-8)
# Debian builds cpp-httplib as a shared library; its pkg-config file carries
# the feature macros the header must see to match that build.
pkg_check_modules(HTTPLIB REQUIRED IMPORTED_TARGET cpp-httplib)
if(VV_BENCH AND NOT VV_SANITIZE)
  find_package(benchmark REQUIRED)
endif()

# The front end: GTK 4, WebKitGTK, and the tools that render the reader's
# images. AUTO builds it when all are there; OFF never looks for them.
set(VV_BUILD_GUI OFF)
if(NOT VV_GUI STREQUAL "OFF")
  set(_required)
  if(VV_GUI STREQUAL "ON")
    set(_required REQUIRED)
  endif()
  pkg_check_modules(GTK4 ${_required} IMPORTED_TARGET gtk4)
  pkg_check_modules(WEBKITGTK ${_required} IMPORTED_TARGET webkitgtk-6.0)
  pkg_check_modules(GIO ${_required} IMPORTED_TARGET gio-2.0)
  find_program(VV_RSVG_CONVERT rsvg-convert)
  find_program(VV_PNGTOPAM pngtopam)
  find_program(VV_PNMTOJPEG pnmtojpeg)
  find_program(XVFB_RUN xvfb-run)
  if(GTK4_FOUND AND WEBKITGTK_FOUND AND GIO_FOUND AND VV_RSVG_CONVERT AND VV_PNGTOPAM AND VV_PNMTOJPEG)
    set(VV_BUILD_GUI ON)
  elseif(VV_GUI STREQUAL "ON")
    message(FATAL_ERROR "VV_GUI=ON: the reader's images need rsvg-convert (librsvg2-bin) and pngtopam/pnmtojpeg "
                        "(netpbm): run scripts/install-deps.sh")
  else()
    message(STATUS "GTK 4, WebKitGTK or the image tools are missing: the reader and its tests are not built")
  endif()
endif()
