# The build against a real payload folder: sizes are free, but a missing file
# stops the configuration and a file without the payload version stops the
# build, each naming the file.
#   cmake -DSOURCE_DIR=<tree> -DWORK_DIR=<scratch> -DINSTALL_MAKER=<install-maker>
#         -DGENERATOR=<cmake generator> -P payload_folder_check.cmake
file(REMOVE_RECURSE "${WORK_DIR}")
# An add-in folder at the payload version, laid out as the table says, is a
# payload folder; install-maker makes one (smallest images: not the table's
# sizes, which a real folder need not keep).
set(host "${WORK_DIR}/payload host")
set(folder "${host}/Pellmark")
set(build "${WORK_DIR}/build")

function(check condition)
  if(NOT (${ARGV}))
    message(FATAL_ERROR "check failed: ${ARGV}")
  endif()
endfunction()

# The 25 files at the payload version but for those named: install-maker's
# --file PATH=VERSION arguments.
function(make_files)
  execute_process(COMMAND "${INSTALL_MAKER}" wine "${host}" --only addin --addin-version 1.0.1.1
                          ${ARGN} RESULT_VARIABLE failed)
  check(NOT failed)
  # Dated now, not as in the field: the build remakes what is newer than its copy.
  file(GLOB_RECURSE made "${folder}/*")
  file(TOUCH_NOCREATE ${made})
endfunction()

function(run out_result out_output)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE output
                  ERROR_VARIABLE output)
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

function(configure out_result out_output)
  run(result output "${CMAKE_COMMAND}" -G "${GENERATOR}"
      -S "${SOURCE_DIR}/tests/resources/payload_project" -B "${build}"
      "-DORV_SOURCE_DIR=${SOURCE_DIR}" "-DPATCH_PAYLOAD_DIR=${folder}")
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

function(build out_result out_output)
  run(result output "${CMAKE_COMMAND}" --build "${build}" --target orv_payload_files)
  set(${out_result} "${result}" PARENT_SCOPE)
  set(${out_output} "${output}" PARENT_SCOPE)
endfunction()

make_files()

# A good folder: every file is taken as it is.
configure(result output)
check(result EQUAL 0)
build(result output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "a good payload folder was refused:\n${output}")
endif()
file(GLOB_RECURSE relatives RELATIVE "${build}/payload" "${build}/payload/*")
list(LENGTH relatives count)
check(count EQUAL 25)
foreach(relative IN LISTS relatives)
  file(SHA256 "${folder}/${relative}" want)
  file(SHA256 "${build}/payload/${relative}" got)
  check(want STREQUAL got)
endforeach()

# One file of another version, then one that is no image at all.
set(bad "ja/Pellmark45.resources.dll")
make_files(--file "${bad}=1.0.1.0")
build(result output)
check(NOT result EQUAL 0)
string(FIND "${output}" "${folder}/${bad} has file version 1.0.1.0, expected 1.0.1.1" at)
if(at EQUAL -1)
  message(FATAL_ERROR "no message naming ${bad} and its version:\n${output}")
endif()
check(NOT EXISTS "${build}/payload/${bad}")

file(WRITE "${folder}/${bad}" "not an image")
build(result output)
check(NOT result EQUAL 0)
string(FIND "${output}" "${folder}/${bad} has no readable file version" at)
if(at EQUAL -1)
  message(FATAL_ERROR "no message naming ${bad} as unreadable:\n${output}")
endif()

# Put right, the file is taken again.
make_files()
build(result output)
check(result EQUAL 0)
file(SHA256 "${folder}/${bad}" want)
file(SHA256 "${build}/payload/${bad}" got)
check(want STREQUAL got)

# A missing file stops the configuration.
file(REMOVE "${folder}/Pellmark.exe")
configure(result output)
check(NOT result EQUAL 0)
string(FIND "${output}" "${folder}/Pellmark.exe" at)
if(at EQUAL -1)
  message(FATAL_ERROR "no message naming the missing file:\n${output}")
endif()
message(STATUS "payload folder checks passed")
