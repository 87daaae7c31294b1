# Cross build for i686 Linux with Debian's cross compiler (g++-i686-linux-gnu)
# and its multiarch libraries, as a packager would: no source changes.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
set(CMAKE_C_COMPILER i686-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER i686-linux-gnu-g++)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
# pkg-config looks at this architecture's .pc files only.
set(ENV{PKG_CONFIG_LIBDIR} "/usr/lib/i386-linux-gnu/pkgconfig:/usr/share/pkgconfig")
# Runs this target's programs (and the tests' discovery) under user-mode emulation.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-i386)
