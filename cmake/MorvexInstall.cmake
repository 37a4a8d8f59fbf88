# cmake --install: the two programs, the files they read beside themselves,
# the HTML guide, a desktop entry with its icon, and the man page of
# morvex-fit.
#
# Both programs look for param_fm_ini.ini and configuration.ini in the
# folder of their executable (its real path), so those go into bin beside
# them.  The window finds the guide in ../share/morvex/help from there.
include(GNUInstallDirs)

foreach(program morvex morvex-fit)
  if(TARGET ${program})
    install(TARGETS ${program} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  endif()
endforeach()
install(FILES ${PROJECT_SOURCE_DIR}/files/param_fm_ini.ini ${PROJECT_SOURCE_DIR}/fitting/configuration.ini
        DESTINATION ${CMAKE_INSTALL_BINDIR})

if(TARGET morvex)
  file(GLOB morvex_install_help ${PROJECT_SOURCE_DIR}/ui/help/*.html ${PROJECT_SOURCE_DIR}/ui/help/*.css)
  install(FILES ${morvex_install_help} ${PROJECT_SOURCE_DIR}/ui/images/sidewall.jpg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/morvex/help)
  install(FILES ${PROJECT_SOURCE_DIR}/ui/desktop/morvex.desktop
          DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${PROJECT_SOURCE_DIR}/ui/desktop/morvex.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
endif()

# The man page comes from morvex-fit's own --help (help2man); without
# help2man the program is installed without it.
find_program(HELP2MAN help2man)
if(TARGET morvex-fit AND HELP2MAN)
  set(morvex_man ${PROJECT_BINARY_DIR}/man/morvex-fit.1)
  add_custom_command(OUTPUT ${morvex_man}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/man
    COMMAND ${CMAKE_COMMAND} -DPROGRAM=$<TARGET_FILE:morvex-fit> -DHELP2MAN=${HELP2MAN}
            -DVERSION=${PROJECT_VERSION} -DOUTPUT=${morvex_man} -P ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    DEPENDS morvex-fit ${PROJECT_SOURCE_DIR}/cmake/ManPage.cmake
    COMMENT "Man page of morvex-fit"
    VERBATIM)
  add_custom_target(morvex_man_page ALL DEPENDS ${morvex_man})
  install(FILES ${morvex_man} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# The desktop entry is checked by the desktop's own validator, and an
# install into a scratch folder must hold every file above.
if(MORVEX_BUILD_TESTS)
  find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
  if(DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_entry COMMAND ${DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/ui/desktop/morvex.desktop)
  endif()
  if(TARGET morvex AND TARGET morvex-fit)
    add_test(NAME install_tree
             COMMAND ${CMAKE_COMMAND} -DBUILD_DIR=${PROJECT_BINARY_DIR} -DPREFIX=${PROJECT_BINARY_DIR}/install-check
                     -DWITH_MAN=$<BOOL:${HELP2MAN}> -P ${PROJECT_SOURCE_DIR}/cmake/CheckInstall.cmake)
  endif()
endif()
