# --- Sources and javadoc jars of the library's Maven artifacts ----------------
# NAME-sources.jar and NAME-javadoc.jar for basefs, basefs-host and
# basefs-eclipse-standin, which cmake/Packaging.cmake installs beside each pom.
# Only `all` builds them: no jar and not the tool depends on them, so building
# the tool's targets alone never runs javadoc. javadoc checks every public
# class and member (-Xdoclint:all) with --release 17, as javac compiles them;
# BASEFS_JAVA_WARNINGS_AS_ERRORS makes its warnings errors too.
set(BASEFS_JAVADOC_FLAGS -encoding UTF-8 --release 17 -Xdoclint:all -quiet -notimestamp)
if(BASEFS_JAVA_WARNINGS_AS_ERRORS)
  list(APPEND BASEFS_JAVADOC_FLAGS -Werror)
endif()
set(BASEFS_API_JARS "")

# NAME: the artifact; SOURCES: its .java files under java/; JARS: the jars its
# classes are compiled against (javadoc's class path); TARGETS: what makes them.
function(basefs_add_api_jars name sources jars targets)
  set(sources_jar "${CMAKE_BINARY_DIR}/${name}-sources.jar")
  set(javadoc_jar "${CMAKE_BINARY_DIR}/${name}-javadoc.jar")
  set(html "${CMAKE_BINARY_DIR}/apidocs/${name}")
  # jar's -C names the directory of the one file that follows it.
  set(entries "")
  foreach(source IN LISTS sources)
    file(RELATIVE_PATH relative "${BASEFS_JAVA_DIR}" "${source}")
    list(APPEND entries -C "${BASEFS_JAVA_DIR}" "${relative}")
  endforeach()
  add_custom_command(
    OUTPUT "${sources_jar}"
    COMMAND "${Java_JAR_EXECUTABLE}" --create --file "${sources_jar}.part" ${entries}
    COMMAND "${CMAKE_COMMAND}" -E rename "${sources_jar}.part" "${sources_jar}"
    DEPENDS ${sources}
    COMMENT "Creating ${name}-sources.jar"
    VERBATIM)
  set(classpath "")
  if(jars)
    list(JOIN jars ":" classpath)
    set(classpath -classpath "${classpath}")
  endif()
  # The pages made afresh each time, so none of a removed class lingers in the
  # jar; a failed step leaves no jar where the install looks.
  add_custom_command(
    OUTPUT "${javadoc_jar}"
    COMMAND "${CMAKE_COMMAND}" -E rm -rf "${html}"
    COMMAND "${Java_JAVADOC_EXECUTABLE}" ${BASEFS_JAVADOC_FLAGS} ${classpath}
      -doctitle "${name} ${PROJECT_VERSION}" -windowtitle "${name} ${PROJECT_VERSION}" -d "${html}" ${sources}
    COMMAND "${Java_JAR_EXECUTABLE}" --create --file "${javadoc_jar}.part" -C "${html}" .
    COMMAND "${CMAKE_COMMAND}" -E rename "${javadoc_jar}.part" "${javadoc_jar}"
    DEPENDS ${sources} ${jars} ${targets}
    COMMENT "Creating ${name}-javadoc.jar"
    VERBATIM)
  set(BASEFS_API_JARS ${BASEFS_API_JARS} "${sources_jar}" "${javadoc_jar}" PARENT_SCOPE)
endfunction()

basefs_add_api_jars(basefs-host "${BASEFS_HOST_SOURCES}" "" "")
basefs_add_api_jars(basefs-eclipse-standin "${BASEFS_ECLIPSE_STANDIN_SOURCES}" "" "")
basefs_add_api_jars(basefs "${BASEFS_LIBRARY_SOURCES}"
  "${BASEFS_HOST_JAR};${BASEFS_ECLIPSE_STANDIN_JAR}" "basefs_host_java;basefs_eclipse_standin_java")
add_custom_target(basefs_api_jars ALL DEPENDS ${BASEFS_API_JARS})
