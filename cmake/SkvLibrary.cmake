# skv_add_folder_library(<name> <folder> [DEPS ...]): one static library from every .cpp in
# the folder (found again on each build, so new files need no CMake edit).
function(skv_add_folder_library name folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB_RECURSE srcs CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(srcs)
    add_library(${name} STATIC ${srcs})
    target_include_directories(${name} PUBLIC ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    skv_target_defaults(${name})
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${CMAKE_SOURCE_DIR})
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# skv_add_test_folder(<exe> <folder> DEPS ...): one GoogleTest executable from every .cpp
# in the folder (found again on each build), registered with CTest test by test.
function(skv_add_test_folder exe folder)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB srcs CONFIGURE_DEPENDS ${folder}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(${exe} ${srcs})
  target_link_libraries(${exe} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main)
  target_include_directories(${exe} PRIVATE ${CMAKE_SOURCE_DIR} ${CMAKE_SOURCE_DIR}/tests)
  target_compile_definitions(${exe} PRIVATE SKV_TESTDATA_DIR="${CMAKE_SOURCE_DIR}/tests/data"
                                            SKV_SOURCE_DIR="${CMAKE_SOURCE_DIR}")
  skv_target_defaults(${exe})
  # Labelled with the program, so a run can be narrowed to the programs it built.
  gtest_discover_tests(${exe} DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 600 LABELS ${exe}
                       ${SKV_TEST_PROPERTIES})
endfunction()
