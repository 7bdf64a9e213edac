glimmerox_add_test(tst_panelcontent SOURCES tst_panelcontent.cpp LIBS glimmerox_panel)
glimmerox_add_test(tst_panelrender SOURCES tst_panelrender.cpp LIBS glimmerox_panel)
glimmerox_add_test(tst_promptcache SOURCES tst_promptcache.cpp LIBS glimmerox_panel)
glimmerox_add_test(tst_trayicon SOURCES tst_trayicon.cpp LIBS glimmerox_panel)
glimmerox_add_test(tst_contentview SOURCES tst_contentview.cpp LIBS glimmerox_panel Qt6::Network)
glimmerox_add_test(tst_historychart SOURCES tst_historychart.cpp LIBS glimmerox_panel)
# The history chart drawn offscreen by the bench, for a home and a state folder without history.
add_test(NAME render_history_chart
    COMMAND glimmerox-bench render ${CMAKE_CURRENT_BINARY_DIR} --history ${CMAKE_CURRENT_BINARY_DIR}/history.png
            --state ${CMAKE_CURRENT_BINARY_DIR}/no-history --dpr 2 --size 700x450)
set_tests_properties(render_history_chart PROPERTIES
    ENVIRONMENT "QT_QPA_PLATFORM=offscreen" PASS_REGULAR_EXPRESSION "\"width\":1400,\"height\":900,\"windows\":0")
