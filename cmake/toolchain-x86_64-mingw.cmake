# Cross-compiles 64-bit Windows binaries of the same sources: the test build where Wine runs only 64-bit programs.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)

set(ORRI_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER   ${ORRI_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORRI_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ORRI_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORRI_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
