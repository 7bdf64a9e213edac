glimmerox_add_test(tst_usagealerts SOURCES tst_usagealerts.cpp LIBS glimmerox_app)
glimmerox_add_test(tst_appshell SOURCES tst_appshell.cpp LIBS glimmerox_app)
if(TARGET Qt6::DBus)
    glimmerox_add_test(tst_notifications SOURCES tst_notifications.cpp LIBS glimmerox_app Qt6::DBus)
endif()

# The installed program answers --version where no display exists (xcb would fail at once).
add_test(NAME glimmerox_version_without_display COMMAND glimmerox --version)
set_tests_properties(glimmerox_version_without_display PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;DISPLAY=;WAYLAND_DISPLAY="
    PASS_REGULAR_EXPRESSION "^Glimmerox ${PROJECT_VERSION}\n$")

# The desktop entry and the AppStream metainfo, checked by the tools distributions use.
find_program(DESKTOP_FILE_VALIDATE desktop-file-validate)
if(DESKTOP_FILE_VALIDATE)
    add_test(NAME desktop_file_valid
             COMMAND ${DESKTOP_FILE_VALIDATE} ${PROJECT_SOURCE_DIR}/src/app/glimmerox.desktop)
endif()
find_program(APPSTREAMCLI appstreamcli)
if(APPSTREAMCLI)
    add_test(NAME metainfo_valid COMMAND ${APPSTREAMCLI} validate --no-net --pedantic
             ${PROJECT_SOURCE_DIR}/src/app/org.glimmerox.Glimmerox.metainfo.xml)
endif()
