glimmerox_add_test(tst_statuslinesamples SOURCES tst_statuslinesamples.cpp LIBS glimmerox_bridge)
glimmerox_add_test(tst_statuslinesettings SOURCES tst_statuslinesettings.cpp LIBS glimmerox_bridge)
# The built bridge as Claude Code runs it: chained commands, signals, writers at once.
glimmerox_add_test(tst_statuslinebridge SOURCES tst_statuslinebridge.cpp LIBS glimmerox_bridge)
target_compile_definitions(tst_statuslinebridge PRIVATE GLIMMEROX_STATUSLINE_PATH="$<TARGET_FILE:glimmerox-statusline>")
add_dependencies(tst_statuslinebridge glimmerox-statusline)
