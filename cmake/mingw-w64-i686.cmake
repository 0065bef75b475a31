set(CMAKE_SYSTEM_PROCESSOR i686)
set(ORMI_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
# Tests run under 32-bit Wine, in the project's private 32-bit prefix.
set(CMAKE_CROSSCOMPILING_EMULATOR env ORMI_WINE_ARCH=win32 ${CMAKE_CURRENT_LIST_DIR}/wine-test)
