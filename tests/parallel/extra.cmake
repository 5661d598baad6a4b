# Probe program: four-step transforms with a failing allocation, run by the
# tests in child processes.
add_executable(tqs_parallel_probe ${CMAKE_CURRENT_LIST_DIR}/probe.cpp)
target_link_libraries(tqs_parallel_probe PRIVATE tqs_test_support)
set_target_properties(tqs_parallel_probe PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/parallel)
add_dependencies(test_parallel tqs_parallel_probe)
