# 32-bit test build: the shipping build's target with the posix thread model (GoogleTest
# needs std::mutex, which the win32 thread model lacks), run under the 32-bit Wine of the
# lane's chroot (scripts/wine32).
include(${CMAKE_CURRENT_LIST_DIR}/toolchain-i686-w64-mingw32.cmake)
set(CMAKE_C_COMPILER i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-test
                                  ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine32)
