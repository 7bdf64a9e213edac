glimmerox_add_test(tst_planusage SOURCES tst_planusage.cpp LIBS glimmerox_plan)
glimmerox_add_test(tst_planfetcher SOURCES tst_planfetcher.cpp fakeservice.h LIBS glimmerox_plan Qt6::Network)
# The built app against the service stand-in: it must fetch at launch.
glimmerox_add_test(tst_appfetch SOURCES tst_appfetch.cpp fakeservice.h LIBS Qt6::Network)
target_compile_definitions(tst_appfetch PRIVATE GLIMMEROX_APP_PATH="$<TARGET_FILE:glimmerox>")
add_dependencies(tst_appfetch glimmerox)
glimmerox_add_test(tst_cachedreport SOURCES tst_cachedreport.cpp LIBS glimmerox_plan)
