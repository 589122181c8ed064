# Installation (cmake --install, make install PREFIX=...): the versioned library with the
# G.722.1 library beside it, the public headers, qvdecode, a pkg-config file and a CMake
# package; and Debian packages of the same files through CPack (make deb).
include(GNUInstallDirs)
include(CMakePackageConfigHelpers)

get_target_property(QV_VERSION qvdecoder VERSION)

# Installed binaries find the installed libraries wherever the prefix is: the library looks
# beside itself for libG7221.so, the tool one folder over.
file(RELATIVE_PATH qv_bin_to_lib ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_LIBDIR})
set_target_properties(qvdecoder PROPERTIES INSTALL_RPATH "$ORIGIN")
# Hosts get the include folder of the tree they build against, never the source tree's.
set_target_properties(qvdecoder PROPERTIES
  INTERFACE_INCLUDE_DIRECTORIES "$<BUILD_INTERFACE:${CMAKE_SOURCE_DIR}/include>")

if(TARGET G7221)
  # Exported with the library that links it, as the CMake package must name every library
  # libqvdecoder.so.1 needs at run time.
  get_target_property(qv_g7221_includes G7221 INTERFACE_INCLUDE_DIRECTORIES)
  set_target_properties(G7221 PROPERTIES
    INTERFACE_INCLUDE_DIRECTORIES "$<BUILD_INTERFACE:${qv_g7221_includes}>")
endif()
if(TARGET qvdecode)
  set_target_properties(qvdecode PROPERTIES INSTALL_RPATH "$ORIGIN/${qv_bin_to_lib}")
endif()

# The files of one layout: libraries in `libdir` under the prefix, in the components runtime,
# development and tool with `suffix` appended. The plain layout (make install, prefix/lib) is
# what `cmake --install` puts in place; the packages' layout (/usr/lib/<multiarch>, as Debian
# places libraries, with a copyright file per package) is installed only by CPack.
function(qv_install_layout libdir suffix)
  set(only_named ${ARGN})  # EXCLUDE_FROM_ALL for the packages' layout
  install(TARGETS qvdecoder EXPORT QVDecoderTargets${suffix}
    LIBRARY DESTINATION ${libdir} COMPONENT runtime${suffix} NAMELINK_COMPONENT development${suffix} ${only_named}
    INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
  if(TARGET G7221)
    install(TARGETS G7221 EXPORT QVDecoderTargets${suffix}
      LIBRARY DESTINATION ${libdir} COMPONENT runtime${suffix} NAMELINK_COMPONENT development${suffix} ${only_named})
  endif()
  install(FILES ${CMAKE_SOURCE_DIR}/include/QVDecoder.h ${CMAKE_SOURCE_DIR}/include/qvdecoder_ids.h
                ${CMAKE_SOURCE_DIR}/include/qvdecoder_c.h
    DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development${suffix} ${only_named})
  if(TARGET qvdecode)
    install(TARGETS qvdecode RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT tool${suffix} ${only_named})
  endif()

  # pkg-config: the prefix is found from the .pc file's own place, so the tree can move.
  set(qv_pc_libdir ${libdir})
  file(RELATIVE_PATH qv_pc_to_prefix ${CMAKE_INSTALL_PREFIX}/${libdir}/pkgconfig ${CMAKE_INSTALL_PREFIX})
  string(REGEX REPLACE "/$" "" qv_pc_to_prefix "${qv_pc_to_prefix}")
  configure_file(${CMAKE_SOURCE_DIR}/cmake/qvdecoder.pc.in ${CMAKE_BINARY_DIR}/layout${suffix}/qvdecoder.pc @ONLY)
  install(FILES ${CMAKE_BINARY_DIR}/layout${suffix}/qvdecoder.pc
    DESTINATION ${libdir}/pkgconfig COMPONENT development${suffix} ${only_named})

  # find_package(QVDecoder) gives QVDecoder::qvdecoder.
  set(qv_cmake_dir ${libdir}/cmake/QVDecoder)
  install(EXPORT QVDecoderTargets${suffix} FILE QVDecoderTargets.cmake NAMESPACE QVDecoder::
    DESTINATION ${qv_cmake_dir} COMPONENT development${suffix} ${only_named})
  configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/QVDecoderConfig.cmake.in
    ${CMAKE_BINARY_DIR}/layout${suffix}/QVDecoderConfig.cmake INSTALL_DESTINATION ${qv_cmake_dir})
  install(FILES ${CMAKE_BINARY_DIR}/layout${suffix}/QVDecoderConfig.cmake
                ${CMAKE_BINARY_DIR}/QVDecoderConfigVersion.cmake
    DESTINATION ${qv_cmake_dir} COMPONENT development${suffix} ${only_named})
endfunction()

write_basic_package_version_file(${CMAKE_BINARY_DIR}/QVDecoderConfigVersion.cmake
  VERSION ${QV_VERSION} COMPATIBILITY SameMajorVersion)
qv_install_layout(${CMAKE_INSTALL_LIBDIR} "")

# Debian's multiarch folder for this machine (x86_64-linux-gnu), as dpkg-architecture names it.
execute_process(COMMAND dpkg-architecture -qDEB_HOST_MULTIARCH OUTPUT_VARIABLE qv_multiarch
  OUTPUT_STRIP_TRAILING_WHITESPACE ERROR_QUIET)
if(NOT qv_multiarch)
  set(qv_multiarch ${CMAKE_LIBRARY_ARCHITECTURE})
endif()
qv_install_layout(lib/${qv_multiarch} _deb EXCLUDE_FROM_ALL)
foreach(package libqvdecoder1:runtime libqvdecoder-dev:development qvdecode:tool)
  string(REPLACE ":" ";" package ${package})
  list(GET package 0 name)
  list(GET package 1 component)
  install(FILES ${CMAKE_SOURCE_DIR}/cmake/copyright DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${name}
    COMPONENT ${component}_deb EXCLUDE_FROM_ALL)
endforeach()

# Debian packages: libqvdecoder1 (the libraries), libqvdecoder-dev (headers, link, pkg-config,
# CMake package) and qvdecode (the tool), each depending on what it needs.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME qvdecoder)
set(CPACK_PACKAGE_VERSION ${QV_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "decodes camera streams and media files into raw pictures and PCM")
set(CPACK_PACKAGE_CONTACT "libqvdecoder developers <qvdecoder@localhost>")
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_COMPONENTS_ALL runtime_deb development_deb tool_deb)
set(CPACK_COMPONENT_DEVELOPMENT_DEB_DEPENDS runtime_deb)
set(CPACK_COMPONENT_TOOL_DEB_DEPENDS runtime_deb)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DEB_PACKAGE_NAME libqvdecoder1)
set(CPACK_DEBIAN_DEVELOPMENT_DEB_PACKAGE_NAME libqvdecoder-dev)
set(CPACK_DEBIAN_DEVELOPMENT_DEB_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_TOOL_DEB_PACKAGE_NAME qvdecode)
set(CPACK_DEBIAN_TOOL_DEB_PACKAGE_SECTION video)
# dpkg-shlibdeps turns the FFmpeg libraries the binaries link into package dependencies.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The packages carry stripped binaries; their debug symbols go into a -dbgsym package per
# package (libqvdecoder1-dbgsym, qvdecode-dbgsym), found by build id as Debian's are.
set(CPACK_DEBIAN_DEBUGINFO_PACKAGE ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR})
set(CPACK_DEBIAN_RUNTIME_DEB_PACKAGE_GENERATE_SHLIBS ON)
# libyuv converts 4:2:0 pictures: dpkg-shlibdeps names libyuv0 for the runtime package, with
# its version. The development package's pkg-config file names it for static links
# (Libs.private), so its headers and link library come with it.
set(CPACK_DEBIAN_DEVELOPMENT_DEB_PACKAGE_DEPENDS "libyuv-dev")
include(CPack)
