# Copies the project in SOURCE to WORK/NAME, configures and builds it there,
# then runs CHECK (a command line, optional). With INSTALL, first installs
# that build tree into WORK/prefix, where the copy then finds its packages.
# Any failing step fails the test.
#   cmake -DSOURCE=... -DWORK=... -DNAME=... [-DINSTALL=build] [-DARGS=a;b] [-DCHECK=cmd;args] -P build_copy.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK})
file(COPY ${SOURCE}/ DESTINATION ${WORK}/${NAME})

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}")
  endif()
endfunction()

if(INSTALL)
  run(${CMAKE_COMMAND} --install ${INSTALL} --prefix ${WORK}/prefix)
  list(APPEND ARGS -DCMAKE_PREFIX_PATH=${WORK}/prefix)
endif()
run(${CMAKE_COMMAND} -S ${WORK}/${NAME} -B ${WORK}/build -G Ninja ${ARGS})
run(${CMAKE_COMMAND} --build ${WORK}/build)
if(CHECK)
  run(${CHECK})
endif()
