# --- Installing: Debian's Java layout, a Maven repository, Debian packages ----
# `cmake --install` and the packages share one layout:
# - the JNI library in lib/TRIPLET/jni (Debian's JDK has /usr/lib/TRIPLET/jni on
#   java.library.path);
# - the jars in share/java as NAME-VERSION.jar with a NAME.jar link;
# - poms and jars in share/maven-repo/com/quenvira/NAME/VERSION (the jars there
#   link to share/java; the natives jars, one per platform, are files of their
#   own beside their one pom), and, from `cmake --install` alone, each
#   artifact's -sources.jar and -javadoc.jar beside its pom;
# - the tool in bin, the public header in include.
# Components: "jni" (libbasefs-jni), "java" (libbasefs-java: jars, poms, tool),
# and "natives", "dev", "apidocs" (the sources and javadoc jars, which Debian's
# -java packages leave out as well) for `cmake --install` only.
include(GNUInstallDirs)

# Modes that do not follow the umask of whoever builds, installs or packages:
# directories 0755 (dpkg creates missing ones with the packaged mode, so a
# world-writable lib/TRIPLET/jni would let any user replace the library),
# files 0644, programs 0755.
set(BASEFS_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(BASEFS_FILE_PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)
set(BASEFS_PROGRAM_PERMISSIONS ${BASEFS_DIRECTORY_PERMISSIONS})
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${BASEFS_DIRECTORY_PERMISSIONS})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS ${BASEFS_DIRECTORY_PERMISSIONS})

set(BASEFS_PROJECT_URL "https://www.quenvira.com/basefs/README.md" CACHE STRING
  "Where the poms and packages say the project's README is")
set(BASEFS_SCM_REPOSITORY "https://www.quenvira.com/basefs.git" CACHE STRING
  "The git repository the poms' scm section names")
# Who the poms and the packages name as the project's developers.
set(BASEFS_MAINTAINERS_NAME "basefs maintainers")
set(BASEFS_MAINTAINERS_EMAIL "basefs@quenvira.com")
# Debian's names of this processor.
if(BASEFS_TARGET_ARCH STREQUAL "x86_64")
  set(BASEFS_DEBIAN_ARCH amd64)
elseif(BASEFS_TARGET_ARCH STREQUAL "aarch64")
  set(BASEFS_DEBIAN_ARCH arm64)
else()
  set(BASEFS_DEBIAN_ARCH "${BASEFS_TARGET_ARCH}")
endif()
set(BASEFS_TRIPLET "${BASEFS_TARGET_ARCH}-linux-gnu")
set(BASEFS_JNI_INSTALL_DIR "lib/${BASEFS_TRIPLET}/jni")
set(BASEFS_JAVA_INSTALL_DIR "${CMAKE_INSTALL_DATADIR}/java")
set(BASEFS_MAVEN_INSTALL_DIR "${CMAKE_INSTALL_DATADIR}/maven-repo/com/quenvira")

install(TARGETS basefs LIBRARY DESTINATION "${BASEFS_JNI_INSTALL_DIR}" PERMISSIONS ${BASEFS_PROGRAM_PERMISSIONS}
  COMPONENT jni)
install(FILES include/FileSystemCommon.h DESTINATION "${CMAKE_INSTALL_INCLUDEDIR}" COMPONENT dev)

# The staged links and poms, made at configure time: links may dangle until the
# jars are installed beside them.
set(BASEFS_INSTALL_STAGE "${CMAKE_BINARY_DIR}/install-stage")
file(REMOVE_RECURSE "${BASEFS_INSTALL_STAGE}")
set(BASEFS_VERSIONED_JARS
  basefs "${BASEFS_JAR}"
  basefs-host "${BASEFS_HOST_JAR}"
  basefs-eclipse-standin "${BASEFS_ECLIPSE_STANDIN_JAR}"
  basefs-tool "${BASEFS_TOOL_JAR}")
while(BASEFS_VERSIONED_JARS)
  list(POP_FRONT BASEFS_VERSIONED_JARS name jar)
  set(versioned "${name}-${PROJECT_VERSION}.jar")
  install(FILES "${jar}" DESTINATION "${BASEFS_JAVA_INSTALL_DIR}" RENAME "${versioned}" COMPONENT java)
  file(MAKE_DIRECTORY "${BASEFS_INSTALL_STAGE}/java")
  file(CREATE_LINK "${versioned}" "${BASEFS_INSTALL_STAGE}/java/${name}.jar" SYMBOLIC)
  # The tool's jar is the tool's alone: no Maven coordinates.
  if(NOT name STREQUAL "basefs-tool")
    file(MAKE_DIRECTORY "${BASEFS_INSTALL_STAGE}/maven/${name}/${PROJECT_VERSION}")
    file(CREATE_LINK "../../../../../java/${versioned}"
      "${BASEFS_INSTALL_STAGE}/maven/${name}/${PROJECT_VERSION}/${versioned}" SYMBOLIC)
    configure_file("packaging/maven/${name}.pom.in"
      "${BASEFS_INSTALL_STAGE}/maven/${name}/${PROJECT_VERSION}/${name}-${PROJECT_VERSION}.pom" @ONLY)
    # Its sources and javadoc jars (cmake/ApiJars.cmake), files of their own.
    foreach(classifier sources javadoc)
      install(FILES "${CMAKE_BINARY_DIR}/${name}-${classifier}.jar"
        DESTINATION "${BASEFS_MAVEN_INSTALL_DIR}/${name}/${PROJECT_VERSION}"
        RENAME "${name}-${PROJECT_VERSION}-${classifier}.jar" PERMISSIONS ${BASEFS_FILE_PERMISSIONS}
        COMPONENT apidocs)
    endforeach()
  endif()
endwhile()
install(DIRECTORY "${BASEFS_INSTALL_STAGE}/java/" DESTINATION "${BASEFS_JAVA_INSTALL_DIR}"
  DIRECTORY_PERMISSIONS ${BASEFS_DIRECTORY_PERMISSIONS} FILE_PERMISSIONS ${BASEFS_FILE_PERMISSIONS} COMPONENT java)
install(DIRECTORY "${BASEFS_INSTALL_STAGE}/maven/" DESTINATION "${BASEFS_MAVEN_INSTALL_DIR}"
  DIRECTORY_PERMISSIONS ${BASEFS_DIRECTORY_PERMISSIONS} FILE_PERMISSIONS ${BASEFS_FILE_PERMISSIONS} COMPONENT java)

# basefs-natives: one pom, a jar per platform this build has.
set(BASEFS_NATIVES_MAVEN_DIR "${BASEFS_MAVEN_INSTALL_DIR}/basefs-natives/${PROJECT_VERSION}")
configure_file(packaging/maven/basefs-natives.pom.in
  "${BASEFS_INSTALL_STAGE}/natives/basefs-natives-${PROJECT_VERSION}.pom" @ONLY)
install(FILES "${BASEFS_INSTALL_STAGE}/natives/basefs-natives-${PROJECT_VERSION}.pom"
  DESTINATION "${BASEFS_NATIVES_MAVEN_DIR}" COMPONENT natives)
foreach(jar IN LISTS BASEFS_NATIVES_JARS)
  get_filename_component(name "${jar}" NAME)
  string(REGEX REPLACE "^basefs-natives-(.*)\\.jar$" "\\1" platform "${name}")
  install(FILES "${jar}" DESTINATION "${BASEFS_NATIVES_MAVEN_DIR}"
    RENAME "basefs-natives-${PROJECT_VERSION}-${platform}.jar" COMPONENT natives)
  # Beside the other jars too, under the name the tool's Class-Path gives it.
  install(FILES "${jar}" DESTINATION "${BASEFS_JAVA_INSTALL_DIR}" COMPONENT natives)
endforeach()

# The tool: its jar (whose Class-Path names the jars above by their plain
# names) and its launcher, which finds the library of the processor it runs on.
configure_file(tools/basefs-installed.in "${CMAKE_BINARY_DIR}/basefs-installed" @ONLY)
install(PROGRAMS "${CMAKE_BINARY_DIR}/basefs-installed" DESTINATION "${CMAKE_INSTALL_BINDIR}"
  RENAME basefs COMPONENT java)

# The licence and a change log in every package, where Debian looks for them
# (the change log compressed without a time stamp, so builds are reproducible).
configure_file(packaging/debian/changelog.in "${BASEFS_INSTALL_STAGE}/doc/changelog" @ONLY)
execute_process(COMMAND gzip -9nf "${BASEFS_INSTALL_STAGE}/doc/changelog" RESULT_VARIABLE _gzip)
if(NOT _gzip EQUAL 0)
  message(FATAL_ERROR "cannot compress the change log (gzip: ${_gzip})")
endif()
configure_file(packaging/debian/basefs.1.in "${BASEFS_INSTALL_STAGE}/man/basefs.1" @ONLY)
execute_process(COMMAND gzip -9nf "${BASEFS_INSTALL_STAGE}/man/basefs.1" RESULT_VARIABLE _gzip)
if(NOT _gzip EQUAL 0)
  message(FATAL_ERROR "cannot compress the manual page (gzip: ${_gzip})")
endif()
install(FILES "${BASEFS_INSTALL_STAGE}/man/basefs.1.gz" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1" COMPONENT java)
foreach(component jni java)
  install(FILES packaging/debian/copyright "${BASEFS_INSTALL_STAGE}/doc/changelog.gz"
    DESTINATION "${CMAKE_INSTALL_DATADIR}/doc/libbasefs-${component}" COMPONENT ${component})
endforeach()

# --- Debian packages: `cpack -G DEB` in the build tree -----------------------
set(CPACK_PACKAGE_NAME libbasefs)
set(CPACK_PACKAGE_VENDOR "Quenvira")
set(CPACK_PACKAGE_CONTACT "${BASEFS_MAINTAINERS_NAME} <${BASEFS_MAINTAINERS_EMAIL}>")
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_RESOURCE_FILE_LICENSE "${CMAKE_CURRENT_SOURCE_DIR}/LICENSE")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
# Debian ships stripped binaries (the symbols stay in the build tree's library).
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL jni java)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION java)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${BASEFS_PROJECT_URL}")
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE "${BASEFS_DEBIAN_ARCH}")

set(CPACK_DEBIAN_JNI_PACKAGE_NAME libbasefs-jni)
set(CPACK_DEBIAN_JNI_PACKAGE_SECTION libs)
# The library needs the C library alone, and no symbol newer than glibc 2.17.
set(CPACK_DEBIAN_JNI_PACKAGE_DEPENDS "libc6 (>= 2.17)")
set(CPACK_COMPONENT_JNI_DESCRIPTION "native file-system access for Java (JNI library)
basefs gives Java applications on Linux file metadata, whole-directory
listings in one call, setting times and permissions, symbolic links,
kernel-side file copy with progress and cancel, byte-by-byte comparison
and user and group names, through JNI.
.
This package holds the JNI library libbasefs.so, where Debian's JDK
finds it on java.library.path.")

set(CPACK_DEBIAN_JAVA_PACKAGE_NAME libbasefs-java)
set(CPACK_DEBIAN_JAVA_PACKAGE_ARCHITECTURE all)
set(CPACK_DEBIAN_JAVA_PACKAGE_DEPENDS
  "libbasefs-jni (= ${PROJECT_VERSION}), default-jre-headless (>= 2:1.17) | java17-runtime-headless")
set(CPACK_COMPONENT_JAVA_DESCRIPTION "native file-system access for Java (Java library and tool)
basefs gives Java applications on Linux file metadata, whole-directory
listings in one call, setting times and permissions, symbolic links,
kernel-side file copy with progress and cancel, byte-by-byte comparison
and user and group names, through JNI.
.
This package holds basefs.jar, the stand-ins of the host classes
(basefs-host.jar) and of Eclipse's progress monitor
(basefs-eclipse-standin.jar), their poms in /usr/share/maven-repo for
offline Maven builds, and the command-line tool basefs.")
include(CPack)
