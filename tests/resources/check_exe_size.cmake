# The program's resources weigh the payload plus a few kilobytes (strings,
# version block, manifest, directories), and the whole program at most the
# payload plus PROGRAM_SLACK bytes.
#   cmake -DEXE=<program> -DOBJDUMP=<objdump> -DPAYLOAD_DIR=<build payload folder>
#         -DRESOURCE_SLACK=<bytes> -DPROGRAM_SLACK=<bytes> -P check_exe_size.cmake
file(GLOB_RECURSE files LIST_DIRECTORIES false "${PAYLOAD_DIR}/*")
list(LENGTH files count)
set(payload 0)
foreach(file IN LISTS files)
  file(SIZE "${file}" size)
  math(EXPR payload "${payload} + ${size}")
endforeach()

execute_process(COMMAND "${OBJDUMP}" -h "${EXE}" OUTPUT_VARIABLE sections RESULT_VARIABLE failed)
if(failed OR NOT sections MATCHES "\\.rsrc +([0-9a-fA-F]+) ")
  message(FATAL_ERROR "${EXE}: no .rsrc section")
endif()
math(EXPR resources "0x${CMAKE_MATCH_1}")
file(SIZE "${EXE}" program)
math(EXPR resource_extra "${resources} - ${payload}")
math(EXPR program_extra "${program} - ${payload}")
message(STATUS "payload ${payload} bytes in ${count} files; resources ${resources} bytes "
               "(${resource_extra} more); program ${program} bytes (${program_extra} more)")
if(NOT count EQUAL 25 OR resource_extra LESS 0 OR resource_extra GREATER RESOURCE_SLACK
   OR program_extra GREATER PROGRAM_SLACK)
  message(FATAL_ERROR "expected 25 payload files, resources of at most the payload plus "
                      "${RESOURCE_SLACK} bytes and a program of at most the payload plus "
                      "${PROGRAM_SLACK} bytes")
endif()
