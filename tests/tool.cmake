# The tool suite runs the qvdecode binary, so it must be built first.
if(TARGET tool_test AND TARGET qvdecode)
  add_dependencies(tool_test qvdecode)
  target_compile_definitions(tool_test PRIVATE QVDECODE_PATH="$<TARGET_FILE:qvdecode>")
  # The contact sheet's label text is checked as a function: the tool only draws it.
  target_sources(tool_test PRIVATE ${CMAKE_SOURCE_DIR}/tools/qvdecode/time_label.cpp)
  target_include_directories(tool_test PRIVATE ${CMAKE_SOURCE_DIR}/tools/qvdecode)
endif()

# `info --json` must be JSON a parser accepts, for each sample.
find_program(QV_PYTHON3 python3)
if(TARGET qvdecode AND QV_PYTHON3)
  foreach(sample clip.mp4 clip.mpg speech.g722)
    add_test(NAME tool_info_json_${sample}
      COMMAND bash -c "set -o pipefail; \"$1\" info --json \"$2\" | \"$3\" -m json.tool >/dev/null"
              info_json $<TARGET_FILE:qvdecode> ${CMAKE_SOURCE_DIR}/samples/${sample} ${QV_PYTHON3})
    set_tests_properties(tool_info_json_${sample} PROPERTIES LABELS tool_test)
  endforeach()
endif()
