# Cross build for 64-bit Windows with MinGW-w64 (the -posix flavour: std::thread
# and std::mutex), everything linked statically. Tests run under Wine.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)

# The mingw sysroot and the cross-built OpenSSL stage.
set(VTO_WINDOWS_OPENSSL "${CMAKE_CURRENT_LIST_DIR}/../build-windows-openssl" CACHE PATH
    "Staged OpenSSL for Windows (scripts/windows-openssl.sh)")
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32 ${VTO_WINDOWS_OPENSSL})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(OPENSSL_USE_STATIC_LIBS TRUE)
set(ZLIB_USE_STATIC_LIBS TRUE)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")
# Test programs run under Wine through the project's wrapper (private prefix,
# persistent server, no menu builder).
set(CMAKE_CROSSCOMPILING_EMULATOR "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh")
