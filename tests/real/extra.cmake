# The example test runs the built example program.
add_dependencies(test_real basic_dp_real_dft_1d)
