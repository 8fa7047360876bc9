# The warnings beyond -Wall -Wextra that the code is kept clean of.
set(VX_EXTRA_WARNINGS -Wshadow -Wconversion -Wold-style-cast -Wnon-virtual-dtor
    -Woverloaded-virtual -Wnull-dereference)
# Targets still being brought up to VX_EXTRA_WARNINGS ("tests" stands for the
# test programs and the fuzz targets' replay programs); empty this list to turn
# them on everywhere.
set(VX_EXTRA_WARNINGS_PENDING tests)

# Common compile settings for every Vaultix target.
function(vx_settings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic)
  set(kind ${target})
  if(target MATCHES "^(test|ui|replay)_|^vx_test_support$|^bench_remote_throughput$")
    set(kind tests)
  endif()
  if(NOT kind IN_LIST VX_EXTRA_WARNINGS_PENDING)
    target_compile_options(${target} PRIVATE ${VX_EXTRA_WARNINGS})
  endif()
  if(VAULTIX_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  if(VAULTIX_SANITIZE)
    target_compile_options(${target} PRIVATE -fsanitize=address,undefined -fno-omit-frame-pointer)
    target_link_options(${target} PRIVATE -fsanitize=address,undefined)
  endif()
endfunction()

# vx_layer(NAME DEPS...): one static library per layer, built from every .cpp
# in src/NAME; its headers are included as "NAME/header.h".
function(vx_layer name)
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/src/${name}/*.cpp)
  add_library(vx_${name} STATIC ${srcs})
  target_include_directories(vx_${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
  if(ARGN)
    target_link_libraries(vx_${name} PUBLIC ${ARGN})
  endif()
  vx_settings(vx_${name})
endfunction()

# vx_layer_tests(NAME LIBS...): one GoogleTest executable per layer from
# every .cpp in tests/NAME.
function(vx_layer_tests name)
  file(GLOB srcs CONFIGURE_DEPENDS ${PROJECT_SOURCE_DIR}/tests/${name}/*.cpp)
  if(NOT srcs)
    return()
  endif()
  add_executable(test_${name} ${srcs})
  target_link_libraries(test_${name} PRIVATE ${ARGN} GTest::gtest GTest::gtest_main GTest::gmock Threads::Threads)
  target_include_directories(test_${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_compile_definitions(test_${name} PRIVATE
    VX_SOURCE_DIR="${PROJECT_SOURCE_DIR}" VX_BINARY_DIR="${PROJECT_BINARY_DIR}")
  vx_settings(test_${name})
  gtest_discover_tests(test_${name}
    DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "LC_ALL=C;TZ=Europe/Bratislava"
    TEST_PREFIX "${name}.")
endfunction()
