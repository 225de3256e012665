# Configures small projects with sonaris_check_link_cycles: links that point one way pass, a
# cycle (through a static library and an interface library alike) fails naming the cycle.
# cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<scratch folder> -P LinkCycleTest.cmake

set(_failures 0)

# name: the case; c_links: what library c links; expect: "" for success, else a text the
# failed configuration must print.
function(check_case name c_links expect)
  set(_dir ${WORK_DIR}/${name})
  file(REMOVE_RECURSE ${_dir})
  file(WRITE ${_dir}/src/CMakeLists.txt "cmake_minimum_required(VERSION 3.25)
project(cycles LANGUAGES C)
include(${SOURCE_DIR}/cmake/SonarisHelpers.cmake)
file(WRITE \${CMAKE_CURRENT_BINARY_DIR}/a.c \"int a(void) { return 0; }\\n\")
add_library(a STATIC \${CMAKE_CURRENT_BINARY_DIR}/a.c)
add_library(b INTERFACE)
add_library(c INTERFACE)
add_library(d INTERFACE)
target_link_libraries(a PUBLIC b d)
target_link_libraries(b INTERFACE c)
target_link_libraries(c INTERFACE ${c_links})
sonaris_check_link_cycles()
")
  execute_process(COMMAND ${CMAKE_COMMAND} -S ${_dir}/src -B ${_dir}/build
                  RESULT_VARIABLE _result OUTPUT_VARIABLE _out ERROR_VARIABLE _err)
  if(expect STREQUAL "")
    if(NOT _result EQUAL 0)
      message(SEND_ERROR "${name}: configuration failed:\n${_err}")
    endif()
  else()
    string(REPLACE "\n" " " _flat "${_err}")
    string(REGEX REPLACE " +" " " _flat "${_flat}")
    if(_result EQUAL 0)
      message(SEND_ERROR "${name}: a cycle was accepted")
    elseif(NOT _flat MATCHES "${expect}")
      message(SEND_ERROR "${name}: expected \"${expect}\" in:\n${_err}")
    endif()
  endif()
endfunction()

check_case(downwards "d m" "")
check_case(through_static "a" "link cycle: a -> b -> c -> a")
check_case(interface_only "b" "link cycle: b -> c -> b")
