# One static library per source folder: every .cpp/.h directly in the folder belongs to it.
# Usage: sonaris_add_library(<target> [LIBS <targets...>])
function(sonaris_add_library target)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS
       ${CMAKE_CURRENT_SOURCE_DIR}/*.cpp ${CMAKE_CURRENT_SOURCE_DIR}/*.h)
  # A reconfigure may bring new Q_OBJECT files; make moc look at the target again.
  file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp)
  if(_sources)
    add_library(${target} STATIC ${_sources})
    target_include_directories(${target} PUBLIC ${CMAKE_CURRENT_SOURCE_DIR})
    if(ARG_LIBS)
      target_link_libraries(${target} PUBLIC ${ARG_LIBS})
    endif()
  else()
    # A folder whose code has not been written yet.
    add_library(${target} INTERFACE)
    target_include_directories(${target} INTERFACE ${CMAKE_CURRENT_SOURCE_DIR})
    if(ARG_LIBS)
      target_link_libraries(${target} INTERFACE ${ARG_LIBS})
    endif()
  endif()
endfunction()

# One GoogleTest executable per test folder, from every *Test.cpp in it (plus extra sources).
# Each test case becomes a CTest test labelled with the subsystem.
# Usage: sonaris_add_tests(<target> LABEL <label> LIBS <targets...> [SOURCES <extra...>] [TIMEOUT s])
function(sonaris_add_tests target)
  cmake_parse_arguments(ARG "" "LABEL;TIMEOUT" "LIBS;SOURCES" ${ARGN})
  file(GLOB _sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  if(NOT _sources AND NOT ARG_SOURCES)
    return()
  endif()
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 120)
  endif()
  file(REMOVE ${CMAKE_CURRENT_BINARY_DIR}/${target}_autogen/timestamp)
  add_executable(${target} ${_sources} ${ARG_SOURCES})
  target_link_libraries(${target} PRIVATE ${ARG_LIBS} sonaris_testsupport GTest::gtest GTest::gmock)
  gtest_discover_tests(${target}
    DISCOVERY_TIMEOUT 60
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS "${ARG_LABEL}" TIMEOUT ${ARG_TIMEOUT}
               ENVIRONMENT "QT_QPA_PLATFORM=offscreen;SONARIS_SOURCE_DIR=${PROJECT_SOURCE_DIR};SONARIS_BINARY_DIR=${PROJECT_BINARY_DIR}")
endfunction()

# A libFuzzer target. With SONARIS_FUZZ (clang) it links libFuzzer; otherwise it is a replay
# program that runs every file of its seed corpus, registered as a test, so the corpus keeps
# passing in ordinary builds.
# Usage: sonaris_add_fuzzer(<name> SOURCES <...> LIBS <...> [CORPUS <dir>])
function(sonaris_add_fuzzer name)
  cmake_parse_arguments(ARG "" "CORPUS;LABEL" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS})
  if(SONARIS_FUZZ)
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    target_link_libraries(${name} PRIVATE sonaris_fuzzreplay)
    if(ARG_CORPUS AND SONARIS_TESTS)
      add_test(NAME fuzz.${name} COMMAND ${name} ${ARG_CORPUS})
      set_tests_properties(fuzz.${name} PROPERTIES LABELS "fuzz;${ARG_LABEL}" TIMEOUT 120)
    endif()
  endif()
endfunction()
