# Installs this build into a fresh prefix, then builds the engine example
# of docs/ against it twice (through the CMake package and through
# pkg-config) and runs it on a generated table; the index it built must
# pass the installed tool's check. Also checks that docs/engine.md shows
# the example exactly as it is compiled.
#   cmake -DBINARY_DIR=... -DSOURCE_DIR=... -DWORK_DIR=... -DCXX=... -P consume.cmake
function(run)
  execute_process(COMMAND ${ARGN} WORKING_DIRECTORY ${cwd} RESULT_VARIABLE rc
                  OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}\n${out}\n${err}")
  endif()
  set(out "${out}" PARENT_SCOPE)
endfunction()

set(example ${SOURCE_DIR}/docs/example)
file(READ ${example}/main.cpp code)
file(READ ${SOURCE_DIR}/docs/engine.md guide)
string(FIND "${guide}" "${code}" at)
if(at EQUAL -1)
  message(FATAL_ERROR "docs/engine.md does not show docs/example/main.cpp as it is")
endif()

file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)
set(cwd ${WORK_DIR})
file(MAKE_DIRECTORY ${WORK_DIR}/run)
run(${CMAKE_COMMAND} --install ${BINARY_DIR} --prefix ${prefix})
foreach(f include/deridar/engine/table/gs6_dbsy.h lib/cmake/Deridar/DeridarConfig.cmake bin/deridar bin/mkphone)
  if(NOT EXISTS ${prefix}/${f})
    message(FATAL_ERROR "the install lacks ${f}")
  endif()
endforeach()

# Through the CMake package.
run(${CMAKE_COMMAND} -S ${example} -B ${WORK_DIR}/build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_CXX_COMPILER=${CXX} -DCMAKE_BUILD_TYPE=Release)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/build)

# Through pkg-config.
find_program(PKG_CONFIG pkg-config)
if(PKG_CONFIG)
  file(GLOB pc_dir ${prefix}/lib*/pkgconfig ${prefix}/lib/*/pkgconfig)
  set(ENV{PKG_CONFIG_PATH} "${pc_dir}")
  run(${PKG_CONFIG} --cflags --libs deridar)
  separate_arguments(flags UNIX_COMMAND "${out}")
  run(${CXX} ${example}/main.cpp ${flags} -o ${WORK_DIR}/example_pc)
endif()

set(cwd ${WORK_DIR}/run)
run(${prefix}/bin/mkphone PHONE.DBF 500)
run(${WORK_DIR}/build/example)
if(NOT out MATCHES "^500 records, [0-9]+ payphones\n")
  message(FATAL_ERROR "unexpected output of the example:\n${out}")
endif()
run(${prefix}/bin/deridar index check PHONE.DBF BYNUM.CDX)
if(PKG_CONFIG)
  run(${WORK_DIR}/example_pc)
endif()
