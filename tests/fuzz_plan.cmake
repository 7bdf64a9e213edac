# libFuzzer target over the report parser, the timestamp parser and the token document update.
add_executable(fuzz_plan fuzz_plan.cpp)
target_link_libraries(fuzz_plan PRIVATE glimmerox_plan glimmerox_warnings glimmerox_strict)
target_link_options(fuzz_plan PRIVATE -fsanitize=fuzzer)
