# Run at build time (cmake -P): reads the import table of the program
# (objdump -p) and writes what the do-nothing twin needs to import the very
# same system functions, so the quiet check's reference loads the same
# libraries as the program whatever the program comes to import:
#   OUT_C      a C file whose table points at every imported function's
#              import slot (__imp_NAME; the x86_64 names carry no decoration)
#   OUT_LIBS   the import libraries to link, one -l option a line
#   OUT_DLLS   the program's libraries, one a line, upper case, sorted
# Variables: OBJDUMP, PROGRAM, OUT_C, OUT_LIBS, OUT_DLLS.
# With CHECK_TWIN=FILE it instead compares FILE's libraries with OUT_DLLS
# and fails when they differ.
foreach(var OBJDUMP PROGRAM OUT_DLLS)
  if(NOT DEFINED ${var})
    message(FATAL_ERROR "ImportTwin.cmake: ${var} is not set")
  endif()
endforeach()

function(read_imports file dlls_var names_var)
  execute_process(COMMAND ${OBJDUMP} -p ${file} OUTPUT_VARIABLE dump RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "ImportTwin.cmake: ${OBJDUMP} -p ${file} failed")
  endif()
  string(REPLACE ";" "," dump "${dump}")
  string(REGEX REPLACE "\r?\n" ";" lines "${dump}")
  set(dlls)
  set(names)
  set(in_imports FALSE)
  foreach(line IN LISTS lines)
    if(line MATCHES "^The Import Tables")
      set(in_imports TRUE)
    elseif(line MATCHES "^The (Export|Function) Tables|^PE File Base Relocations")
      set(in_imports FALSE)
    elseif(in_imports AND line MATCHES "DLL Name: (.+)$")
      string(TOUPPER "${CMAKE_MATCH_1}" dll)
      string(STRIP "${dll}" dll)
      list(APPEND dlls "${dll}")
    elseif(in_imports AND line MATCHES "^\t[0-9a-f]+\t +[0-9]+  ([A-Za-z_][A-Za-z0-9_@]*)$")
      list(APPEND names "${CMAKE_MATCH_1}")
    endif()
  endforeach()
  list(REMOVE_DUPLICATES dlls)
  list(SORT dlls)
  set(${dlls_var} "${dlls}" PARENT_SCOPE)
  set(${names_var} "${names}" PARENT_SCOPE)
endfunction()

read_imports(${PROGRAM} dlls names)
if(NOT dlls OR NOT names)
  message(FATAL_ERROR "ImportTwin.cmake: no import table found in ${PROGRAM}")
endif()

if(DEFINED CHECK_TWIN)
  read_imports(${CHECK_TWIN} twin_dlls twin_names)
  if(NOT twin_dlls STREQUAL dlls)
    message(FATAL_ERROR "ImportTwin.cmake: ${CHECK_TWIN} imports [${twin_dlls}], "
                        "the program [${dlls}]")
  endif()
  return()
endif()

set(c "/* Generated from the import table of ${PROGRAM}; do not edit. */\n")
set(table "")
foreach(name IN LISTS names)
  string(APPEND c "extern void* __imp_${name};\n")
  string(APPEND table "  &__imp_${name},\n")
endforeach()
string(APPEND c "void* const* const quiet_twin_imports[] = {\n${table}  0\n};\n")
file(WRITE ${OUT_C}.new "${c}")
file(COPY_FILE ${OUT_C}.new ${OUT_C} ONLY_IF_DIFFERENT)
file(REMOVE ${OUT_C}.new)

set(libs "")
foreach(dll IN LISTS dlls)
  string(TOLOWER "${dll}" lib)
  string(REGEX REPLACE "\\.dll$" "" lib "${lib}")
  string(APPEND libs "-l${lib}\n")
endforeach()
file(WRITE ${OUT_LIBS} "${libs}")
string(REPLACE ";" "\n" dll_lines "${dlls}")
file(WRITE ${OUT_DLLS} "${dll_lines}\n")
