# Shared part of the mingw-w64 toolchains; the caller sets ORMI_MINGW_TRIPLE.
set(CMAKE_SYSTEM_NAME Windows)
# The -posix variants: GoogleTest needs std::mutex, which the win32-thread
# variants lack.
set(CMAKE_C_COMPILER ${ORMI_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${ORMI_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${ORMI_MINGW_TRIPLE}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${ORMI_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
