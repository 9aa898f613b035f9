# Print run and discovery.

# The fake word processor: also used by the window's tests.
add_library(print_fake STATIC fakes/fakewordprocessor.h fakes/fakewordprocessor.cpp)
target_link_libraries(print_fake PUBLIC print)

quillmark_add_qtest(print_discovery_test LABELS unit SOURCES unit/print_discovery_test.cpp LIBS print)
quillmark_add_qtest(print_run_test LABELS unit SOURCES unit/print_run_test.cpp LIBS print print_fake)
