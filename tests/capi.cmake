# The C interface from a C program: built as C99 with -pedantic, linked to the shared library
# only, run on the bundled samples.
add_executable(capi_test capi_test.c)
set_target_properties(capi_test PROPERTIES C_STANDARD 99 C_STANDARD_REQUIRED ON C_EXTENSIONS OFF)
target_compile_options(capi_test PRIVATE -Wall -Wextra -pedantic -Werror)
target_link_libraries(capi_test PRIVATE qvdecoder)
add_test(NAME capi_test COMMAND capi_test ${CMAKE_SOURCE_DIR}/samples)
set_tests_properties(capi_test PROPERTIES LABELS capi TIMEOUT 300)
