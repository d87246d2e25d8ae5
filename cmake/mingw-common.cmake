# What both cross toolchains share; the including file sets ORRI_TRIPLE and CMAKE_SYSTEM_PROCESSOR.
set(CMAKE_SYSTEM_NAME Windows)
# Debian's posix thread-model compilers: the win32 model of GCC 12 has no std::thread or std::mutex.
set(CMAKE_C_COMPILER   ${ORRI_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORRI_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER  ${ORRI_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${ORRI_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
