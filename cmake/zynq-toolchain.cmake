# Cross build for the camera: Zynq-7000, ARM Cortex-A9 with NEON, hard-float ABI, 32-bit.
# Uses Debian's arm-linux-gnueabihf cross compiler and the target's libraries from the armhf
# multiarch packages (installed by `scripts/setup zynq`). Tests run under qemu-arm.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR armv7-a)

set(VANTOR_TARGET_TRIPLE arm-linux-gnueabihf)
set(CMAKE_C_COMPILER ${VANTOR_TARGET_TRIPLE}-gcc)
set(CMAKE_CXX_COMPILER ${VANTOR_TARGET_TRIPLE}-g++)

set(VANTOR_TARGET_FLAGS "-mcpu=cortex-a9 -mfpu=neon -mfloat-abi=hard")
set(CMAKE_C_FLAGS_INIT "${VANTOR_TARGET_FLAGS}")
set(CMAKE_CXX_FLAGS_INIT "${VANTOR_TARGET_FLAGS}")

# Libraries and headers come from the multiarch locations; programs (compilers, generators) from the
# build machine.
set(CMAKE_LIBRARY_ARCHITECTURE ${VANTOR_TARGET_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_FIND_ROOT_PATH /usr/${VANTOR_TARGET_TRIPLE} /usr/lib/${VANTOR_TARGET_TRIPLE} /)
set(ENV{PKG_CONFIG_LIBDIR} /usr/lib/${VANTOR_TARGET_TRIPLE}/pkgconfig:/usr/share/pkgconfig)

# qemu-arm runs the target's test programs with the armhf multiarch loader and libraries (the cross
# toolchain's own copies under /usr/arm-linux-gnueabihf are an older C library build and crash threads
# when mixed with the multiarch libraries).
find_program(VANTOR_QEMU_ARM qemu-arm REQUIRED)
set(CMAKE_CROSSCOMPILING_EMULATOR ${VANTOR_QEMU_ARM} -L / -E
    LD_LIBRARY_PATH=/lib/${VANTOR_TARGET_TRIPLE}:/usr/lib/${VANTOR_TARGET_TRIPLE})
