# Cross build for s390x Linux with Debian's cross compiler (g++-s390x-linux-gnu)
# and its multiarch libraries, as a packager would: no source changes.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR s390x)
set(CMAKE_C_COMPILER s390x-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER s390x-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE s390x-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config looks at this architecture's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/s390x-linux-gnu/pkgconfig:/usr/share/pkgconfig")
# Runs this target's programs (and the tests' discovery) under user-mode emulation.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-s390x)
