# cmake -P script: install into WORK_DIR/prefix, then build the README's first program and
# application test against it, once through find_package(ZELNetworking) and once through
# pkg-config, and run them.
file(REMOVE_RECURSE ${WORK_DIR})
set(prefix ${WORK_DIR}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "failed (${rc}): ${ARGN}")
  endif()
endfunction()

# The first program against a port nobody listens on: it runs, and reports the failure.
function(run_first_program program)
  execute_process(COMMAND ${program} http://127.0.0.1:9/v3/ RESULT_VARIABLE rc ERROR_VARIABLE err)
  if(NOT rc EQUAL 1 OR NOT err MATCHES "failed: ")
    message(FATAL_ERROR "${program}: expected a reported connection failure, got ${rc}: ${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${prefix})
if(NOT EXISTS ${prefix}/bin/zelnet)
  message(FATAL_ERROR "zelnet was not installed")
endif()

# find_package(ZELNetworking)
run(${CMAKE_COMMAND} -S ${SOURCE_DIR} -B ${WORK_DIR}/cmake-build -DCMAKE_PREFIX_PATH=${prefix}
    -DCMAKE_BUILD_RPATH=${prefix}/lib)
run(${CMAKE_COMMAND} --build ${WORK_DIR}/cmake-build)
run(${WORK_DIR}/cmake-build/app_test)
run_first_program(${WORK_DIR}/cmake-build/first_program)

# pkg-config
find_program(PKG_CONFIG pkg-config REQUIRED)
find_program(CXX NAMES c++ g++ REQUIRED)
set(ENV{PKG_CONFIG_PATH} ${prefix}/lib/pkgconfig)
foreach(package zelnetworking zelnetworking-testing)
  execute_process(COMMAND ${PKG_CONFIG} --cflags --libs ${package}
                  OUTPUT_VARIABLE flags_${package} OUTPUT_STRIP_TRAILING_WHITESPACE RESULT_VARIABLE rc)
  if(NOT rc EQUAL 0)
    message(FATAL_ERROR "pkg-config does not know ${package}")
  endif()
  separate_arguments(flags_${package} UNIX_COMMAND "${flags_${package}}")
endforeach()
run(${CXX} ${SOURCE_DIR}/first_program.cpp ${flags_zelnetworking} -lboost_json
    -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/pc-first-program)
run_first_program(${WORK_DIR}/pc-first-program)
run(${CXX} ${SOURCE_DIR}/app_test.cpp ${flags_zelnetworking-testing} -lboost_json -lgtest_main -lgtest
    -pthread -Wl,-rpath,${prefix}/lib -o ${WORK_DIR}/pc-app-test)
run(${WORK_DIR}/pc-app-test)
