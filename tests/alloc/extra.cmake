# Every block must reach the counting system allocator: the per-thread cache
# is switched off for this binary (the setting is read once per process).
foreach(level IN LISTS TQS_TEST_LEVELS)
  set_tests_properties(alloc.level${level} PROPERTIES
    ENVIRONMENT "TQS_DEBUG_CPU_TYPE=${level};TQS_DISABLE_FAST_MM=1;OMP_NUM_THREADS=2;TQS_DYNAMIC=FALSE")
endforeach()
