add_test(NAME readme_example
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/readme_example.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE_DIR:qvdecoder>)
set_tests_properties(readme_example PROPERTIES LABELS nosanitize)

# Only the interface leaves the shared library, under a versioned name.
add_test(NAME exported_symbols
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/exported_symbols.sh $<TARGET_FILE:qvdecoder>)
set_tests_properties(exported_symbols PROPERTIES LABELS nosanitize)
