# Cross-compiling the win32 programs with mingw-w64 (i686). This machine
# cannot run 32-bit code, so these builds are built and measured only.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CRX_MINGW_TRIPLE i686-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
