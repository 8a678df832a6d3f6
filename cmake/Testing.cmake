# Test helpers shared by every folder.
#
# upgrade_add_gtest(NAME <name> SOURCES <files...> [LIBS <libs...>] [TIMEOUT <s>])
#   A GoogleTest executable registered as one CTest test. In the Windows
#   builds CTest runs it through the Wine wrapper (CMAKE_CROSSCOMPILING_EMULATOR),
#   which gives it a prefix and a display of its own. Default time limit 300 s.
#
# upgrade_add_fuzzer(NAME <name> SOURCES <files...>)
#   Native clang builds only: a libFuzzer target with address and undefined-
#   behaviour sanitizers. List the library sources under test in SOURCES too,
#   so that they are instrumented. Not a CTest test.

function(upgrade_add_gtest)
  cmake_parse_arguments(T "" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gtest_main gtest)
  add_test(NAME ${T_NAME} COMMAND ${T_NAME})
  set_tests_properties(${T_NAME} PROPERTIES TIMEOUT ${T_TIMEOUT})
  if(WIN32)
    set_tests_properties(${T_NAME} PROPERTIES LABELS wine)
  else()
    set_tests_properties(${T_NAME} PROPERTIES LABELS native)
  endif()
endfunction()

function(upgrade_add_fuzzer)
  cmake_parse_arguments(F "" "NAME" "SOURCES" ${ARGN})
  if(WIN32 OR NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    return()
  endif()
  add_executable(${F_NAME} ${F_SOURCES})
  target_compile_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined
                         -fno-sanitize-recover=undefined -g -O1)
  target_link_options(${F_NAME} PRIVATE -fsanitize=fuzzer,address,undefined)
endfunction()
