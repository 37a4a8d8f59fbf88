# Installs the build into PREFIX and checks that every shipped file is there.
file(REMOVE_RECURSE ${PREFIX})
execute_process(COMMAND ${CMAKE_COMMAND} --install ${BUILD_DIR} --prefix ${PREFIX}
                RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "cmake --install failed")
endif()
set(expected bin/morvex bin/morvex-fit bin/param_fm_ini.ini bin/configuration.ini
    share/morvex/help/index.html share/morvex/help/sidewall.jpg share/applications/morvex.desktop
    share/icons/hicolor/scalable/apps/morvex.svg)
if(WITH_MAN)
  list(APPEND expected share/man/man1/morvex-fit.1)
endif()
foreach(f ${expected})
  if(NOT EXISTS ${PREFIX}/${f})
    message(FATAL_ERROR "missing after install: ${f}")
  endif()
endforeach()
# The installed tool finds its settings beside itself.
execute_process(COMMAND ${PREFIX}/bin/morvex-fit --help RESULT_VARIABLE rc OUTPUT_QUIET)
if(NOT rc EQUAL 0)
  message(FATAL_ERROR "installed morvex-fit does not run")
endif()
file(REMOVE_RECURSE ${PREFIX})
