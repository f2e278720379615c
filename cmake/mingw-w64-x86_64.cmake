# Cross-compiling the win64 programs with mingw-w64 (x86_64). The -posix
# compilers are used because GoogleTest needs std::mutex, which the -win32
# thread model lacks. Tests run under wine64 through the emulator script.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CRX_MINGW_TRIPLE x86_64-w64-mingw32)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64-common.cmake)
