# Helpers that keep the layer libraries and executables uniform.

# qar_layer(NAME DIR [DEPS libs...] [EXCLUDE files...]): a static library from DIR's
# sources. Files ending in _posix.cpp build only on POSIX, files ending in
# _win32.cpp only on Windows; EXCLUDE names files (such as a program entry) to leave out.
function(qar_layer name dir)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${excluded})
  endforeach()
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win32\\.cpp$")
  endif()
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# Executables keep their Windows names on every platform: the names are part of
# the system's external interface (process names, restart command, log names).
function(qar_exe_name target)
  set_target_properties(${target} PROPERTIES SUFFIX ".exe")
endfunction()

# qar_test(NAME SOURCES... [DEPS libs...]): one GoogleTest executable, registered with CTest.
function(qar_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  if(NOT ARG_SOURCES)
    message(STATUS "${name}: no test sources yet")
    return()
  endif()
  add_executable(${name} ${ARG_SOURCES})
  qar_exe_name(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest_main GTest::gtest)
  set_property(GLOBAL APPEND PROPERTY QAR_TEST_TARGETS ${name})
  add_test(NAME ${name} COMMAND ${name})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()
