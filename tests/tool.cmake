# The tool suite runs the qvdecode binary, so it must be built first.
if(TARGET tool_test AND TARGET qvdecode)
  add_dependencies(tool_test qvdecode)
  target_compile_definitions(tool_test PRIVATE QVDECODE_PATH="$<TARGET_FILE:qvdecode>")
endif()
