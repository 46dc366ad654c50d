# One static library per layer, built from every source file in the layer's folder (or, with
# SOURCES, in the folders those patterns name). A layer whose folder holds no source yet is an
# interface library, so the layers above it still link.
function(tarnwick_layer name)
  cmake_parse_arguments(arg "" "" "DEPENDS;SOURCES" ${ARGN})
  if(NOT arg_SOURCES)
    set(arg_SOURCES *.cpp)
  endif()
  list(TRANSFORM arg_SOURCES PREPEND ${CMAKE_CURRENT_SOURCE_DIR}/)
  file(GLOB sources CONFIGURE_DEPENDS ${arg_SOURCES})
  if(sources)
    add_library(tarnwick_${name} STATIC ${sources})
    target_link_libraries(tarnwick_${name} PUBLIC ${arg_DEPENDS})
  else()
    add_library(tarnwick_${name} INTERFACE)
    target_link_libraries(tarnwick_${name} INTERFACE ${arg_DEPENDS})
  endif()
endfunction()

# One GoogleTest executable per layer from every *Test.cpp of tests/<layer>/, its tests labelled
# with the layer so that `ctest -L <layer>` runs them alone.
function(tarnwick_test_suite layer)
  cmake_parse_arguments(arg "" "" "LIBS;PROPERTIES" ${ARGN})
  file(GLOB sources CONFIGURE_DEPENDS ${CMAKE_CURRENT_SOURCE_DIR}/${layer}/*.cpp)
  if(NOT sources)
    return()
  endif()
  add_executable(${layer}_tests ${sources})
  target_link_libraries(${layer}_tests PRIVATE ${arg_LIBS} tarnwick_test_support GTest::gtest GTest::gtest_main
                        GTest::gmock)
  target_include_directories(${layer}_tests PRIVATE ${CMAKE_CURRENT_SOURCE_DIR})
  gtest_discover_tests(${layer}_tests
    DISCOVERY_TIMEOUT 60
    PROPERTIES LABELS ${layer} TIMEOUT 300 ${arg_PROPERTIES})
endfunction()
