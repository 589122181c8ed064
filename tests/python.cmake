# The Python package (python/) against the library just built, with pytest. Debian's own
# interpreter is preferred: its numpy and pytest come from scripts/install-deps.sh.
find_program(QV_PYTHON_FOR_TESTS python3 PATHS /usr/bin NO_DEFAULT_PATH)
if(NOT QV_PYTHON_FOR_TESTS)
  find_program(QV_PYTHON_FOR_TESTS python3)
endif()
# Recordings made by the media factory for the Python suites.
add_executable(make_media make_media.cpp)
target_link_libraries(make_media PRIVATE qv_test_support)
if(QV_PYTHON_FOR_TESTS AND TARGET qvdecode)
  set(qv_python_env
    QV_MAKE_MEDIA=$<TARGET_FILE:make_media>
    QVDECODER_LIBRARY=$<TARGET_FILE:qvdecoder>
    QVDECODE=$<TARGET_FILE:qvdecode>
    PYTHONPATH=${CMAKE_SOURCE_DIR}/python
    PYTHONDONTWRITEBYTECODE=1)
  add_test(NAME python_package
    COMMAND ${QV_PYTHON_FOR_TESTS} -m pytest -q -p no:cacheprovider
            ${CMAKE_SOURCE_DIR}/python/tests --ignore=${CMAKE_SOURCE_DIR}/python/tests/test_stream_reorder.py
            --ignore=${CMAKE_SOURCE_DIR}/python/tests/test_archive_thumbnails.py)
  # Needs the receive loop and the flush of the library's stream mode.
  add_test(NAME python_stream_reorder
    COMMAND ${QV_PYTHON_FOR_TESTS} -m pytest -q -p no:cacheprovider
            ${CMAKE_SOURCE_DIR}/python/tests/test_stream_reorder.py)
  # The Dask example on a local cluster of two worker processes.
  add_test(NAME python_archive_thumbnails
    COMMAND ${QV_PYTHON_FOR_TESTS} -m pytest -q -p no:cacheprovider
            ${CMAKE_SOURCE_DIR}/python/tests/test_archive_thumbnails.py)
  # ctypes cannot load the sanitizer builds into an uninstrumented interpreter.
  set_tests_properties(python_package python_stream_reorder python_archive_thumbnails PROPERTIES
    ENVIRONMENT "${qv_python_env}" LABELS "python;nosanitize" TIMEOUT 300)
  # The longest runs of the suite start first (see valgrind.cmake).
  set_tests_properties(python_package PROPERTIES COST 40)
  set_tests_properties(python_archive_thumbnails PROPERTIES COST 30)
endif()
