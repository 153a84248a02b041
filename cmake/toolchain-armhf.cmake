# Cross build for the AM335x board (Cortex-A8, armhf) with Debian's
# crossbuild-essential-armhf; tests run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR arm)

set(CMAKE_C_COMPILER arm-linux-gnueabihf-gcc)
set(CMAKE_CXX_COMPILER arm-linux-gnueabihf-g++)
# 64-bit file offsets and time_t on the 32-bit target: without them readdir
# fails with EOVERFLOW on file systems that hand out 64-bit directory offsets
# (a 64-bit kernel, qemu-arm on a 64-bit host), and the real-time clock ends
# in 2038. glibc 2.34 and later provide both; our dependencies pass no off_t
# or time_t through their interfaces. -Wno-psabi: GCC notes that the ARM
# calling convention for some arguments changed in GCC 7.1; everything here is
# built by one compiler, so nothing mixes the two.
set(ORVANE_ARMHF_FLAGS "-mcpu=cortex-a8 -mfpu=neon -mfloat-abi=hard -D_FILE_OFFSET_BITS=64 -D_TIME_BITS=64 -Wno-psabi")
set(CMAKE_C_FLAGS_INIT "${ORVANE_ARMHF_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${ORVANE_ARMHF_FLAGS}")

set(CMAKE_FIND_ROOT_PATH /usr/arm-linux-gnueabihf)
set(CMAKE_LIBRARY_ARCHITECTURE arm-linux-gnueabihf)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE BOTH)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/arm-linux-gnueabihf/pkgconfig:/usr/share/pkgconfig)

# Test discovery and ctest run the ARM binaries through the emulator.
# The multiarch libraries (libc6:armhf) must be used: mixing them with the
# cross toolchain's own libc copy crashes threaded programs under qemu.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-arm -L /)
