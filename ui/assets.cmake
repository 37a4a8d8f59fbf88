# Pictures, help pages and JPEG decoding of the auxiliary windows, included
# by ui/CMakeLists.txt after the morvex_ui library is defined.

# The two pictures are decoded with libjpeg called directly (ui/Jpeg.cpp).
find_package(JPEG REQUIRED)
target_link_libraries(morvex_ui PUBLIC JPEG::JPEG)

# Compiled into the library as Qt resources ":/images/...".  A static library
# needs qt_add_resources on the target itself, so that the resources'
# initialiser is linked into every program using it.
qt_add_resources(morvex_ui morvex_pictures
  PREFIX "/images"
  BASE ${CMAKE_CURRENT_SOURCE_DIR}/images
  FILES
    ${CMAKE_CURRENT_SOURCE_DIR}/images/sidewall.jpg
    ${CMAKE_CURRENT_SOURCE_DIR}/images/waitscreen.jpg)

# The HTML user guide goes to bin/help/, beside the executables, where the
# help command looks for it.  The calculator page shows the sidewall picture.
set(morvex_help_dir ${PROJECT_BINARY_DIR}/bin/help)
file(GLOB morvex_help_sources CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/help/*.html ${CMAKE_CURRENT_SOURCE_DIR}/help/*.css)
list(APPEND morvex_help_sources ${CMAKE_CURRENT_SOURCE_DIR}/images/sidewall.jpg)
set(morvex_help_outputs)
foreach(source IN LISTS morvex_help_sources)
  get_filename_component(name ${source} NAME)
  add_custom_command(OUTPUT ${morvex_help_dir}/${name}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${morvex_help_dir}
    COMMAND ${CMAKE_COMMAND} -E copy_if_different ${source} ${morvex_help_dir}/${name}
    DEPENDS ${source}
    COMMENT "Help page ${name}"
    VERBATIM)
  list(APPEND morvex_help_outputs ${morvex_help_dir}/${name})
endforeach()
add_custom_target(morvex_help_pages ALL DEPENDS ${morvex_help_outputs})
add_dependencies(morvex_ui morvex_help_pages)

# The generator of the two pictures; built only on request (see
# tools/make_pictures/README.md), never needed by the normal build.
add_executable(morvex_make_pictures EXCLUDE_FROM_ALL
  ${PROJECT_SOURCE_DIR}/tools/make_pictures/make_pictures.cpp)
target_link_libraries(morvex_make_pictures PRIVATE Qt6::Gui JPEG::JPEG)

# Tests of the auxiliary windows: their own Qt Test executable, since the
# folder's ui_tests program takes one main from ui/tests/*.cpp.
if(MORVEX_BUILD_TESTS)
  add_executable(ui_aux_tests ${CMAKE_CURRENT_SOURCE_DIR}/tests/auxwindows/tst_auxwindows.cpp)
  set_target_properties(ui_aux_tests PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${PROJECT_BINARY_DIR}/tests)
  target_link_libraries(ui_aux_tests PRIVATE morvex_ui Qt6::Test)
  add_test(NAME ui_aux_tests COMMAND ui_aux_tests)
  set_tests_properties(ui_aux_tests PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen;LC_ALL=C"
    TIMEOUT 120)
endif()
