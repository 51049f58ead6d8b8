# Cross build for 64-bit Windows with Debian's mingw-w64 (the POSIX-threads flavour, which has std::thread and
# std::mutex). The tests run under Wine through CMAKE_CROSSCOMPILING_EMULATOR.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(selvatro_mingw_prefix x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${selvatro_mingw_prefix}-gcc-posix)
set(CMAKE_CXX_COMPILER ${selvatro_mingw_prefix}-g++-posix)
set(CMAKE_RC_COMPILER ${selvatro_mingw_prefix}-windres)

# Look for libraries and headers in the cross environment only, programs on the host.
set(CMAKE_FIND_ROOT_PATH /usr/${selvatro_mingw_prefix})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# The host's pkg-config would hand Linux flags to the Windows compiler.
set(PKG_CONFIG_EXECUTABLE "" CACHE FILEPATH "No pkg-config in the cross build" FORCE)

# Without -static the program silently needs the compiler's libstdc++-6.dll and libwinpthread-1.dll, which a
# Windows machine does not have.
set(CMAKE_EXE_LINKER_FLAGS_INIT "-static")

# Every program of the build (the tests, and the gtest discovery) runs under Wine with a private prefix in the
# build folder; the script brings Wine up once in a way that never hangs ctest.
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/wine-run.sh)
