# Cross-compiles the product's 32-bit Windows binaries with Debian's MinGW-w64.
set(ORRI_TRIPLE i686-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR x86)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
