glimmerox_add_test(tst_planusage SOURCES tst_planusage.cpp LIBS glimmerox_plan)
glimmerox_add_test(tst_credentials SOURCES tst_credentials.cpp LIBS glimmerox_plan)
glimmerox_add_test(tst_planfetcher SOURCES tst_planfetcher.cpp fakeservice.h LIBS glimmerox_plan Qt6::Network)
