# Cross-compiles for another Debian architecture against that architecture's
# multiarch libraries (/usr/lib/<triplet>, installed as libcups2-dev:arm64 and
# so on); test programs run under the given emulator (qemu-user):
#   cmake -DCMAKE_TOOLCHAIN_FILE=cmake/cross-toolchain.cmake \
#         -DTALVERO_CROSS_TRIPLET=aarch64-linux-gnu -DTALVERO_CROSS_EMULATOR=qemu-aarch64 ...
# scripts/cross-test.sh sets it up for arm64 and armhf.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES TALVERO_CROSS_TRIPLET TALVERO_CROSS_EMULATOR)
set(CMAKE_SYSTEM_NAME Linux)
string(REGEX MATCH "^[^-]+" CMAKE_SYSTEM_PROCESSOR "${TALVERO_CROSS_TRIPLET}")
set(CMAKE_CXX_COMPILER ${TALVERO_CROSS_TRIPLET}-g++)
set(CMAKE_LIBRARY_ARCHITECTURE ${TALVERO_CROSS_TRIPLET})
set(CMAKE_CROSSCOMPILING_EMULATOR ${TALVERO_CROSS_EMULATOR})
# Build tools (ppdc, python3) are the build machine's own.
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config looks only at the target's own .pc files, so a library installed
# for the build machine alone (PAPPL) is not taken for the target's.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/${TALVERO_CROSS_TRIPLET}/pkgconfig:/usr/share/pkgconfig")
set(ENV{PKG_CONFIG_PATH} "")
