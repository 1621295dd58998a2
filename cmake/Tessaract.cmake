# Common settings for every target of the project.

# Warnings for our own code; -Werror when asked (CI).
function(tessaract_target_defaults target)
  target_compile_options(${target} PRIVATE -Wall -Wextra -Wpedantic -Wshadow=local
    -Wno-missing-field-initializers)
  if(TESSARACT_WERROR)
    target_compile_options(${target} PRIVATE -Werror)
  endif()
  # Log lines name their source file relative to the folder of the library it belongs to.
  get_target_property(src_dir ${target} SOURCE_DIR)
  target_compile_options(${target} PRIVATE "-fmacro-prefix-map=${src_dir}/=")
  # Every program carries the sanitizers' waivers for uninstrumented libraries.
  get_target_property(type ${target} TYPE)
  if(TESSARACT_SANITIZE MATCHES "thread" AND type STREQUAL "EXECUTABLE")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/tsan_suppressions.cpp)
  endif()
  if(TESSARACT_SANITIZE MATCHES "address" AND type STREQUAL "EXECUTABLE")
    target_sources(${target} PRIVATE ${PROJECT_SOURCE_DIR}/cmake/lsan_suppressions.cpp)
  endif()
endfunction()

if(TESSARACT_SANITIZE)
  add_compile_options(-fsanitize=${TESSARACT_SANITIZE} -fno-omit-frame-pointer)
  add_link_options(-fsanitize=${TESSARACT_SANITIZE})
endif()

# One GoogleTest executable per module, discovered by CTest.
function(tessaract_test name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  tessaract_target_defaults(${name})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 30
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen\\;TESSARACT_TEST_PROGRAM_DIR=${TESSARACT_PROGRAM_DIR}\\;XDG_CONFIG_HOME=${CMAKE_BINARY_DIR}/tests/config-home")
endfunction()
