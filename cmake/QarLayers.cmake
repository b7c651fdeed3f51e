# Helpers that keep the layer libraries and executables uniform.

# Keeps the sources of this build's operating system in the list LISTVAR: files
# ending in _posix.cpp / _posix_test.cpp build only on POSIX, files ending in
# _win32.cpp / _win32_test.cpp only on Windows.
function(qar_filter_os listvar)
  set(sources ${${listvar}})
  if(WIN32)
    list(FILTER sources EXCLUDE REGEX "_posix(_test)?\\.cpp$")
  else()
    list(FILTER sources EXCLUDE REGEX "_win32(_test)?\\.cpp$")
  endif()
  set(${listvar} ${sources} PARENT_SCOPE)
endfunction()

# qar_layer(NAME DIR [DEPS libs...] [EXCLUDE files...]): a static library from DIR's
# sources. Files ending in _posix.cpp build only on POSIX, files ending in
# _win32.cpp only on Windows; EXCLUDE names files (such as a program entry) to leave out.
function(qar_layer name dir)
  cmake_parse_arguments(ARG "" "" "DEPS;EXCLUDE" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${dir}/*.cpp)
  foreach(excluded ${ARG_EXCLUDE})
    list(REMOVE_ITEM sources ${CMAKE_CURRENT_SOURCE_DIR}/${dir}/${excluded})
  endforeach()
  qar_filter_os(sources)
  add_library(${name} STATIC ${sources})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  target_link_libraries(${name} PUBLIC ${ARG_DEPS})
endfunction()

# Executables keep their Windows names on every platform: the names are part of
# the system's external interface (process names, restart command, log names).
function(qar_exe_name target)
  set_target_properties(${target} PROPERTIES SUFFIX ".exe")
endfunction()

# qar_test(NAME SOURCES... [DEPS libs...]): one GoogleTest executable, registered with
# CTest; cases for one operating system only live in *_posix_test.cpp / *_win32_test.cpp.
function(qar_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS;LABELS" ${ARGN})
  qar_filter_os(ARG_SOURCES)
  add_executable(${name} ${ARG_SOURCES})
  qar_exe_name(${name})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} qar_test_support GTest::gtest_main GTest::gtest)
  set_property(GLOBAL APPEND PROPERTY QAR_TEST_TARGETS ${name})
  add_test(NAME ${name} COMMAND ${name})
  if(ARG_LABELS)
    set_tests_properties(${name} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
endfunction()

# qar_com_server_dll(NAME SOURCES... [DEPS libs...]): an in-process automation server
# (Windows): the sources declare the classes (static factories), the layer does the rest.
function(qar_com_server_dll name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_library(${name} SHARED ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/src/com/server/com_server.def)
  set_target_properties(${name} PROPERTIES PREFIX "")
  target_link_libraries(${name} PRIVATE qar_com_server ${ARG_DEPS})
endfunction()
