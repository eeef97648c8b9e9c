# Cross build of the Windows x64 program with MinGW-w64 (posix threads, static runtime).
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(HB_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${HB_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${HB_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${HB_MINGW_PREFIX}-windres)
set(CMAKE_FIND_ROOT_PATH /usr/${HB_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Only system DLLs beside the program: link the C and C++ runtimes and winpthread statically.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# zlib too: the import library would make the program need zlib1.dll beside it.
set(ZLIB_USE_STATIC_LIBS ON)
