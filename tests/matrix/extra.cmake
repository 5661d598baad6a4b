# Probe program: square transpositions under a chosen thread environment,
# run by the tests in child processes.
add_executable(tqs_matrix_probe ${CMAKE_CURRENT_LIST_DIR}/probe.cpp)
target_include_directories(tqs_matrix_probe PRIVATE ${PROJECT_SOURCE_DIR}
  ${PROJECT_SOURCE_DIR}/interface)
target_link_libraries(tqs_matrix_probe PRIVATE tqs_dft_static)
set_target_properties(tqs_matrix_probe PROPERTIES
  RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/matrix)
add_dependencies(test_matrix tqs_matrix_probe)
