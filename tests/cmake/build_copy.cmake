# Copies the project in SOURCE to WORK/NAME, configures and builds it there,
# then runs CHECK (a command line, optional). Any failing step fails the test.
#   cmake -DSOURCE=... -DWORK=... -DNAME=... [-DARGS=a;b] [-DCHECK=cmd;args] -P build_copy.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${SOURCE}/ DESTINATION ${WORK}/${NAME})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}")
  endif()
endfunction()

run(${CMAKE_COMMAND} -S ${WORK}/${NAME} -B ${WORK}/build -G Ninja ${ARGS})
run(${CMAKE_COMMAND} --build ${WORK}/build)
if(CHECK)
  run(${CHECK})
endif()
