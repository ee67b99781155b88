# Cross build for 64-bit ARM Linux on an x86_64 Debian machine, with the tests
# run under qemu's user-mode emulator. tools/setup-aarch64.sh installs the
# compiler, qemu and arm64 GoogleTest, and unpacks the arm64 JDK into a sysroot.
#
#   tools/setup-aarch64.sh
#   cmake -S . -B build-aarch64 --toolchain cmake/aarch64-linux-gnu.cmake && cmake --build build-aarch64 -j2
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR aarch64)
set(CMAKE_C_COMPILER aarch64-linux-gnu-gcc)
set(CMAKE_CXX_COMPILER aarch64-linux-gnu-g++)
# arm64 GoogleTest lives in the machine's multiarch folders.
set(CMAKE_LIBRARY_ARCHITECTURE aarch64-linux-gnu)

set(BASEFS_AARCH64_SYSROOT "${CMAKE_CURRENT_LIST_DIR}/../build-aarch64-sysroot"
    CACHE PATH "Folder tools/setup-aarch64.sh unpacked the arm64 JDK and libraries into")
get_filename_component(_basefs_sysroot "${BASEFS_AARCH64_SYSROOT}" ABSOLUTE)

# The host's javac, jar and javadoc make the Java side, which runs on any processor;
# the arm64 JDK gives jni.h and the libjvm.so the tests embed.
find_program(Java_JAVAC_EXECUTABLE javac REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(Java_JAR_EXECUTABLE jar REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(Java_JAVA_EXECUTABLE java REQUIRED NO_CMAKE_FIND_ROOT_PATH)
find_program(Java_JAVADOC_EXECUTABLE javadoc REQUIRED NO_CMAKE_FIND_ROOT_PATH)
set(JAVA_HOME "${_basefs_sysroot}/usr/lib/jvm/java-17-openjdk-arm64" CACHE PATH "arm64 JDK" FORCE)

# Test executables run under qemu, which finds the arm64 loader and libraries
# in the sysroot; the launchers start the arm64 JVM through the sysroot's wrapper.
set(CMAKE_CROSSCOMPILING_EMULATOR qemu-aarch64 -L "${_basefs_sysroot}")
set(BASEFS_LAUNCHER_JAVA "${_basefs_sysroot}/bin/java" CACHE FILEPATH "java the launchers run")
