# qvdecode wall --http: the page in headless Chromium (Selenium) against four cameras of
# GStreamer's RTSP server; skipped (77) only where Chromium or Selenium is missing.
find_program(QV_PYTHON_FOR_WALL python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(QV_PYTHON_FOR_WALL AND TARGET qvdecode)
  add_test(NAME ToolWallInBrowser COMMAND ${QV_PYTHON_FOR_WALL} ${CMAKE_CURRENT_SOURCE_DIR}/wall_browser_test.py)
  add_test(NAME ToolWallCamerasFailTogether
    COMMAND ${QV_PYTHON_FOR_WALL} ${CMAKE_CURRENT_SOURCE_DIR}/wall_outage_test.py)
  set_tests_properties(ToolWallInBrowser ToolWallCamerasFailTogether PROPERTIES
    ENVIRONMENT "QVDECODE=$<TARGET_FILE:qvdecode>;QV_MAKE_MEDIA=$<TARGET_FILE:make_media>;QV_RTSP_SERVER=${CMAKE_CURRENT_SOURCE_DIR}/support/rtsp_server.py"
    SKIP_RETURN_CODE 77 TIMEOUT 180)
  set_tests_properties(ToolWallInBrowser PROPERTIES LABELS "tool_test;live")
  # Camera threads failing at once: `make tsan` runs it on the instrumented tool.
  set_tests_properties(ToolWallCamerasFailTogether PROPERTIES LABELS "threads")
endif()
