glimmerox_add_test(tst_usagealerts SOURCES tst_usagealerts.cpp LIBS glimmerox_app)
glimmerox_add_test(tst_appshell SOURCES tst_appshell.cpp LIBS glimmerox_app)
# The shell test also starts the program itself, to see how it ends without a display.
target_compile_definitions(tst_appshell PRIVATE GLIMMEROX_EXECUTABLE="$<TARGET_FILE:glimmerox>")
add_dependencies(tst_appshell glimmerox)
glimmerox_add_test(tst_statuslineaction SOURCES tst_statuslineaction.cpp LIBS glimmerox_app)
if(GLIMMEROX_FREEDESKTOP)
    glimmerox_add_test(tst_notifications SOURCES tst_notifications.cpp LIBS glimmerox_app Qt6::DBus)
endif()

# The program answers --version where no display exists (xcb would fail at once).
add_test(NAME glimmerox_version_without_display COMMAND glimmerox --version)
set_tests_properties(glimmerox_version_without_display PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=xcb;DISPLAY=;WAYLAND_DISPLAY="
    PASS_REGULAR_EXPRESSION "^Glimmerox ${PROJECT_VERSION}\n$")
