# Installs the reader's component of the build tree BUILD into WORK/prefix
# (both programs), validates its desktop entry and AppStream metadata, then
# starts the installed program in terminal mode: it must find its images there.
#   cmake -DBUILD=... -DWORK=... -DDESKTOP_FILE_VALIDATE=... -DAPPSTREAMCLI=... -P installed_reader.cmake
file(REMOVE_RECURSE ${WORK})
file(MAKE_DIRECTORY ${WORK}/data)
set(prefix ${WORK}/prefix)

function(run)
  execute_process(COMMAND ${ARGN} RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "failed (${result}): ${ARGN}\n${out}\n${err}")
  endif()
endfunction()

run(${CMAKE_COMMAND} --install ${BUILD} --prefix ${prefix} --component reader)
foreach(file bin/newsreader bin/newsreader-window share/applications/test.vestavind.reader.desktop
    share/metainfo/test.vestavind.reader.metainfo.xml share/icons/hicolor/scalable/apps/test.vestavind.reader.svg
    share/icons/hicolor/symbolic/apps/test.vestavind.reader-symbolic.svg
    share/vestavind-reader/resources/menu_white.png)
  if(NOT EXISTS ${prefix}/${file})
    message(FATAL_ERROR "not installed: ${file}")
  endif()
endforeach()
run(${DESKTOP_FILE_VALIDATE} ${prefix}/share/applications/test.vestavind.reader.desktop)
run(${APPSTREAMCLI} validate --no-net ${prefix}/share/metainfo/test.vestavind.reader.metainfo.xml)

file(WRITE ${WORK}/commands "menu\nquit\n")
execute_process(COMMAND ${prefix}/bin/newsreader --headless --data-dir ${WORK}/data
  INPUT_FILE ${WORK}/commands RESULT_VARIABLE result OUTPUT_VARIABLE out ERROR_VARIABLE err TIMEOUT 120)
if(NOT result EQUAL 0 OR NOT out MATCHES "ready")
  message(FATAL_ERROR "the installed reader did not run (${result}):\n${out}\n${err}")
endif()
if(err MATCHES "no resource named")
  message(FATAL_ERROR "the installed reader did not find its images:\n${err}")
endif()
