add_test(NAME readme_example
  COMMAND bash ${CMAKE_SOURCE_DIR}/tests/readme_example.sh ${CMAKE_SOURCE_DIR} $<TARGET_FILE_DIR:qvdecoder>)
set_tests_properties(readme_example PROPERTIES LABELS nosanitize)
