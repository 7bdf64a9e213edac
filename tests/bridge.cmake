glimmerox_add_test(tst_statuslinesamples SOURCES tst_statuslinesamples.cpp LIBS glimmerox_bridge)
glimmerox_add_test(tst_statuslinesettings SOURCES tst_statuslinesettings.cpp LIBS glimmerox_bridge)
# The built bridge as Claude Code runs it: chained commands, signals, writers at once.
glimmerox_add_test(tst_statuslinebridge SOURCES tst_statuslinebridge.cpp LIBS glimmerox_bridge)
target_compile_definitions(tst_statuslinebridge PRIVATE GLIMMEROX_STATUSLINE_PATH="$<TARGET_FILE:glimmerox-statusline>")
add_dependencies(tst_statuslinebridge glimmerox-statusline)

# What the panel would show, read through the bench: waiting for the status line, and a report
# that does not parse refused with its reason.
add_test(NAME render_waits_for_status_line
    COMMAND glimmerox-bench render ${CMAKE_CURRENT_BINARY_DIR} --tooltip small --mode plan
            --samples ${CMAKE_CURRENT_BINARY_DIR}/no-samples --status-line-only)
add_test(NAME render_refuses_unparseable_report
    COMMAND glimmerox-bench render ${CMAKE_CURRENT_BINARY_DIR} --tooltip main --mode plan
            --report ${CMAKE_CURRENT_SOURCE_DIR}/bridge.cmake)
set_tests_properties(render_waits_for_status_line PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" PASS_REGULAR_EXPRESSION "Waiting for Claude Code's status line")
set_tests_properties(render_refuses_unparseable_report PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" PASS_REGULAR_EXPRESSION "is not a usage report")
add_test(NAME render_describes_waiting_plan
    COMMAND glimmerox-bench render ${CMAKE_CURRENT_BINARY_DIR} --describe --mode plan --weekly
            --samples ${CMAKE_CURRENT_BINARY_DIR}/no-samples --status-line-only)
set_tests_properties(render_describes_waiting_plan PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen"
    PASS_REGULAR_EXPRESSION "\"7-DAY\":\"lit\".*\"main\":{\"dimmed\":false,\"text\":\"-- -- --\"}.*\"small\":\"Waiting for Claude Code's status line\".*\"windows\":\\[\\]")
