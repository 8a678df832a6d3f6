# The shipped program (the i686 Upgrade.exe) leaves the build without its
# debug information: that goes to Upgrade.exe.debug beside it, which the
# program names through a debug link, so a debugger given both still finds it.
# The stripped file must stay under the size users are meant to download; the
# build fails when it grows past it.
#
# The x86_64 twin keeps its debug information: the tests' fault backtraces
# name functions and lines from it.
#
# upgrade_ship_stripped(TARGET <target> LIMIT <bytes>)
#   Called where the target is made; does nothing outside the i686 build.

function(upgrade_ship_stripped)
  cmake_parse_arguments(S "" "TARGET;LIMIT" "" ${ARGN})
  if(NOT (WIN32 AND CMAKE_SYSTEM_PROCESSOR STREQUAL "i686"))
    return()
  endif()
  if(NOT CMAKE_OBJCOPY)
    message(FATAL_ERROR "objcopy is needed to ship ${S_TARGET} stripped")
  endif()
  # Run where the program lies, so that the link holds the bare file name.
  add_custom_command(TARGET ${S_TARGET} POST_BUILD
    COMMAND ${CMAKE_OBJCOPY} --only-keep-debug $<TARGET_FILE_NAME:${S_TARGET}>
            $<TARGET_FILE_NAME:${S_TARGET}>.debug
    COMMAND ${CMAKE_OBJCOPY} --strip-all
            --add-gnu-debuglink=$<TARGET_FILE_NAME:${S_TARGET}>.debug
            $<TARGET_FILE_NAME:${S_TARGET}>
    COMMAND ${CMAKE_COMMAND} -DFILE=$<TARGET_FILE:${S_TARGET}> -DLIMIT=${S_LIMIT}
            -P ${CMAKE_CURRENT_FUNCTION_LIST_DIR}/CheckFileSize.cmake
    WORKING_DIRECTORY $<TARGET_FILE_DIR:${S_TARGET}>
    COMMENT "Stripping ${S_TARGET} (debug information in its .debug file)"
    VERBATIM)
endfunction()
