# Cross-compiles 64-bit Windows binaries of the same sources: the test build where Wine runs only 64-bit programs.
set(ORRI_TRIPLE x86_64-w64-mingw32)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-common.cmake)
