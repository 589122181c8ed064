# CMake generated Testfile for 
# Source directory: /work/wt-snapshot/tests
# Build directory: /work/wt-snapshot/build/tests
# 
# This file includes the relevant testing commands required for 
# testing this directory and lists subdirectories to be tested as well.
include("/work/wt-snapshot/build/tests/snapshot_test[1]_include.cmake")
