# Test registration. Sample recordings are generated once per build tree by the
# `samples` fixture (see tools/) and found by tests through ORVANE_SAMPLE_DIR.

# orvane_add_test(<name> SOURCES ... [LIBS ...] [FIXTURES ...] [LABELS ...])
function(orvane_add_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;FIXTURES;LABELS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} orvane_platform_fake GTest::gtest GTest::gtest_main)
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR} ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(${name} PRIVATE
    ORVANE_SAMPLE_DIR="${ORVANE_SAMPLE_DIR}"
    ORVANE_BIN_DIR="${CMAKE_RUNTIME_OUTPUT_DIRECTORY}"
    ORVANE_SOURCE_DIR="${PROJECT_SOURCE_DIR}")
  set(_props ENVIRONMENT "ORVANE_SAMPLE_DIR=${ORVANE_SAMPLE_DIR}")
  if(T_FIXTURES)
    list(APPEND _props FIXTURES_REQUIRED "${T_FIXTURES}")
  endif()
  if(T_LABELS)
    list(APPEND _props LABELS "${T_LABELS}")
  endif()
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 PROPERTIES ${_props})
  orvane_test_runs_programs(${name} ${T_SOURCES})
  if(T_FIXTURES MATCHES "samples|long_recordings" AND TARGET pva-samplegen)
    add_dependencies(${name} pva-samplegen)
  endif()
endfunction()

# A test that starts one of our programs builds it first, so that it never runs
# an old one: each program named in a test's sources ("orvane-cli" or
# ORVANE_BIN_DIR "/orvane-cli") becomes a dependency of the test.
set(ORVANE_TESTED_PROGRAMS orvane-cli DVD2AVI_PVAVIEW pva-samplegen orvane-bitmapgen orvane)
function(orvane_test_runs_programs name)
  foreach(f IN LISTS ARGN)
    if(NOT IS_ABSOLUTE "${f}")
      set(f "${CMAKE_CURRENT_SOURCE_DIR}/${f}")
    endif()
    file(READ "${f}" _text)
    foreach(p IN LISTS ORVANE_TESTED_PROGRAMS)
      string(REGEX MATCH "[\"/]${p}(\\.exe)?\"" _named "${_text}")
      if(_named AND TARGET ${p})
        add_dependencies(${name} ${p})
      endif()
    endforeach()
  endforeach()
endfunction()

# Every <Name>Test.cpp in the calling directory becomes its own test program.
# Files named *IntegrationTest.cpp need the generated sample recordings.
function(orvane_add_tests_in_dir)
  cmake_parse_arguments(T "" "" "LIBS" ${ARGN})
  file(GLOB _tests CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/*Test.cpp)
  foreach(f IN LISTS _tests)
    get_filename_component(_n ${f} NAME_WE)
    if(_n MATCHES "IntegrationTest$")
      orvane_add_test(${_n} SOURCES ${f} LIBS ${T_LIBS} orvane_testsupport FIXTURES samples)
    else()
      orvane_add_test(${_n} SOURCES ${f} LIBS ${T_LIBS} orvane_testsupport)
    endif()
  endforeach()
endfunction()
