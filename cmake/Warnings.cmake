# Strict warnings for our own targets; third-party headers come in as SYSTEM.
function(restore_warnings target)
  target_compile_options(${target} PRIVATE
    $<$<COMPILE_LANGUAGE:CXX>:-Wall -Wextra -Wshadow -Wold-style-cast -Wnon-virtual-dtor
      -Woverloaded-virtual -Wformat=2 -Wimplicit-fallthrough>)
  if(RESTORE_WERROR)
    target_compile_options(${target} PRIVATE $<$<COMPILE_LANGUAGE:CXX>:-Werror>)
  endif()
endfunction()

# One GoogleTest executable per unit: restore_gtest(name SOURCES... LIBS...).
# Its main (tests/support) runs it behind a name prefix of its own.
function(restore_gtest name)
  cmake_parse_arguments(T "" "" "SOURCES;LIBS;PROPERTIES" ${ARGN})
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest test_support_main)
  restore_warnings(${name})
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60 PROPERTIES ${T_PROPERTIES})
endfunction()
