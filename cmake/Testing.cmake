# Test helpers shared by every folder.
#
# upgrade_add_gtest(NAME <name> SOURCES <files...> [LIBS <libs...>] [TIMEOUT <s>] [ENV_ONLY])
#   A GoogleTest executable registered as one CTest test. In the Windows
#   builds CTest runs it through the Wine wrapper (CMAKE_CROSSCOMPILING_EMULATOR),
#   which gives it a prefix and a display of its own. Default time limit 300 s.
#   Test suites whose names end in "Env" need a special environment (a user
#   language, a disabled system library): the plain run leaves them out and
#   upgrade_add_gtest_run runs them with that environment. ENV_ONLY: no plain run.
#
# upgrade_add_gtest_run(NAME <name> TARGET <gtest target> FILTER <gtest filter>
#                       ENV <VAR=value...> [TIMEOUT <s>])
#   One more CTest test: the same executable, a subset, another environment.
#
# upgrade_add_shipped_run(NAME <name> TARGET <gtest target> FILTER <gtest filter>
#                         [TIMEOUT <s>] [WRAPPER <command...>])
#   One more CTest test, labelled "shipped": the same end-to-end cases with the
#   shipped 32-bit Upgrade.exe (and its 32-bit fixture libraries) in place of
#   the twin, run under WoW64 in the template prefix. WRAPPER goes before the
#   Wine wrapper (a proxy beside the run, say). Default time limit 900 s: each
#   start of the 32-bit program costs up to a minute and a half here.
#
# upgrade_add_fuzzer(NAME <name> SOURCES <files...>)
#   Native clang builds only: a libFuzzer target with address and undefined-
#   behaviour sanitizers. List the library sources under test in SOURCES too,
#   so that they are instrumented. Not a CTest test.

function(upgrade_add_gtest)
  cmake_parse_arguments(T "ENV_ONLY" "NAME;TIMEOUT" "SOURCES;LIBS" ${ARGN})
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  add_executable(${T_NAME} ${T_SOURCES})
  target_link_libraries(${T_NAME} PRIVATE ${T_LIBS} gtest_main gtest)
  if(NOT T_ENV_ONLY)
    add_test(NAME ${T_NAME} COMMAND ${T_NAME} --gtest_filter=-*Env.*)
    _upgrade_test_properties(${T_NAME} ${T_TIMEOUT} "")
  endif()
endfunction()

function(upgrade_add_gtest_run)
  cmake_parse_arguments(R "" "NAME;TARGET;FILTER;TIMEOUT" "ENV" ${ARGN})
  if(NOT R_TIMEOUT)
    set(R_TIMEOUT 300)
  endif()
  add_test(NAME ${R_NAME} COMMAND ${R_TARGET} --gtest_filter=${R_FILTER})
  _upgrade_test_properties(${R_NAME} ${R_TIMEOUT} "${R_ENV}")
endfunction()

function(upgrade_add_shipped_run)
  cmake_parse_arguments(R "" "NAME;TARGET;FILTER;TIMEOUT" "WRAPPER" ${ARGN})
  if(NOT R_TIMEOUT)
    set(R_TIMEOUT 900)
  endif()
  if(R_WRAPPER)
    add_test(NAME ${R_NAME} COMMAND ${R_WRAPPER} ${CMAKE_CROSSCOMPILING_EMULATOR}
             $<TARGET_FILE:${R_TARGET}> --gtest_filter=${R_FILTER})
  else()
    add_test(NAME ${R_NAME} COMMAND ${R_TARGET} --gtest_filter=${R_FILTER})
  endif()
  _upgrade_test_properties(${R_NAME} ${R_TIMEOUT} "UPGRADE_SHIPPED=1")
  # The longest runs: started first, so that the rest fill the other core.
  # One at a time: two emulated 32-bit Wine processes side by side have been
  # seen to fault or hang inside the emulator (a wineserver pipe read with a
  # bad descriptor), which no single one did.
  set_tests_properties(${R_NAME} PROPERTIES LABELS "wine;shipped" COST 10000
                       RESOURCE_LOCK wow64_emulation)
endfunction()

function(_upgrade_test_properties name timeout env)
  # The Wine wrapper ends a hung program itself, 20 s before CTest would,
  # so that it still gets to remove the prefix and the display.
  math(EXPR inner "${timeout} - 20")
  set_tests_properties(${name} PROPERTIES TIMEOUT ${timeout}
                       ENVIRONMENT "UPGRADE_TEST_TIMEOUT=${inner};${env}")
  if(WIN32)
    set_tests_properties(${name} PROPERTIES LABELS wine)
  else()
    set_tests_properties(${name} PROPERTIES LABELS native)
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
