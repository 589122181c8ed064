# The installed tree and the Debian packages, as a host and an administrator use them. Both
# build against or install the build's binaries, which in the sanitizer build need the
# sanitizer runtime: nosanitize.
if(TARGET qvdecode)
  find_program(QV_PYTHON_FOR_INSTALL python3 PATHS /usr/bin NO_DEFAULT_PATH)
  add_test(NAME install_tree
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/install_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR}
            ${QV_PYTHON_FOR_INSTALL})
  add_test(NAME deb_packages
    COMMAND bash ${CMAKE_SOURCE_DIR}/tests/deb_test.sh ${CMAKE_BINARY_DIR} ${CMAKE_SOURCE_DIR})
  set_tests_properties(install_tree deb_packages PROPERTIES
    LABELS "install;nosanitize" TIMEOUT 300 SKIP_RETURN_CODE 77 COST 20)
endif()
