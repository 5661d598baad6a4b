# The self-test program: properties of the transform on random inputs through
# the public calls. The test suite runs its quick sample at every level, with
# a team of two allowed so that the threaded paths take part (waiting threads
# sleep: the suite runs tests side by side); tools/selftest.sh runs the full
# sweep.
add_executable(tqs_selftest ${CMAKE_CURRENT_LIST_DIR}/selftest.cpp)
target_include_directories(tqs_selftest PRIVATE ${PROJECT_SOURCE_DIR}/interface)
target_link_libraries(tqs_selftest PRIVATE tqs_dft_static)
set_target_properties(tqs_selftest PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests/selftest)
foreach(level IN LISTS TQS_TEST_LEVELS)
  add_test(NAME selftest.level${level} COMMAND tqs_selftest --quick)
  set_tests_properties(selftest.level${level} PROPERTIES
    ENVIRONMENT "TQS_DEBUG_CPU_TYPE=${level};OMP_NUM_THREADS=2;TQS_DYNAMIC=FALSE;OMP_WAIT_POLICY=PASSIVE"
    LABELS "selftest;level${level}")
endforeach()
