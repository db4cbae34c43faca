# Installation: libraries and headers (cmake/VelmoraLibrary.cmake), the bundled robots and scenarios under
# share/velmora, the CMake package velmora (velmoraConfig.cmake, velmoraConfigVersion.cmake,
# velmoraTargets.cmake), the pkg-config file velmora.pc and the Debian package (CPack).

include(CMakePackageConfigHelpers)

set(VELMORA_INSTALL_DATADIR ${CMAKE_INSTALL_DATADIR}/velmora)
set(VELMORA_INSTALL_CMAKEDIR ${CMAKE_INSTALL_LIBDIR}/cmake/velmora)

install(DIRECTORY ${VELMORA_ROBOTS_DIR}/ DESTINATION ${VELMORA_INSTALL_DATADIR}/robots)
install(DIRECTORY ${VELMORA_SCENARIOS_DIR}/ DESTINATION ${VELMORA_INSTALL_DATADIR}/scenarios)

install(EXPORT velmoraTargets NAMESPACE velmora:: DESTINATION ${VELMORA_INSTALL_CMAKEDIR})
configure_package_config_file(${CMAKE_CURRENT_LIST_DIR}/velmoraConfig.cmake.in
  ${PROJECT_BINARY_DIR}/velmoraConfig.cmake
  INSTALL_DESTINATION ${VELMORA_INSTALL_CMAKEDIR}
  PATH_VARS VELMORA_INSTALL_DATADIR)
# 0.x releases: a minor version may break the interface, so only the same major.minor matches.
write_basic_package_version_file(${PROJECT_BINARY_DIR}/velmoraConfigVersion.cmake
  COMPATIBILITY SameMinorVersion)
install(FILES ${PROJECT_BINARY_DIR}/velmoraConfig.cmake ${PROJECT_BINARY_DIR}/velmoraConfigVersion.cmake
  DESTINATION ${VELMORA_INSTALL_CMAKEDIR})

# pkg-config: the static libraries in link order (users before used).
set(VELMORA_PC_LIBS "")
foreach(lib planner motion_controller contact_force swing whole_body control_common optimization robot core
            ocp_qp dense_qp ros2)
  string(APPEND VELMORA_PC_LIBS " -lvelmora_${lib}")
endforeach()
string(APPEND VELMORA_PC_LIBS " -lddsc")
string(STRIP "${VELMORA_PC_LIBS}" VELMORA_PC_LIBS)
set(VELMORA_PC_CFLAGS "")
if(VELMORA_NATIVE)
  set(VELMORA_PC_CFLAGS "-march=native")
endif()
# Relocatable: the prefix is found from the file's own place (pkg-config's ${pcfiledir}).
file(RELATIVE_PATH VELMORA_PC_TO_PREFIX /prefix/${CMAKE_INSTALL_LIBDIR}/pkgconfig /prefix)
configure_file(${CMAKE_CURRENT_LIST_DIR}/velmora.pc.in ${PROJECT_BINARY_DIR}/velmora.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/velmora.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# Debian package: cpack -G DEB in the build directory -> velmora_<version>_amd64.deb. The
# runtime dependencies of the installed programs come from dpkg-shlibdeps; building against the
# package needs the development packages recommended below (the CMake package finds them).
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "velmora developers")
set(CPACK_PACKAGE_CONTACT "velmora developers <velmora@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "motion control for four-legged robots: contact-force MPC and whole-body QP controller")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# To build against velmora (its CMake package finds Cyclone DDS); ffmpeg records velmora_sim's videos; velmora_sweep runs GNU parallel.
string(CONCAT CPACK_DEBIAN_PACKAGE_RECOMMENDS
       "libeigen3-dev (>= 3.4), libboost-dev (>= 1.74), liburdfdom-dev, cyclonedds-dev (>= 0.10), pkg-config, cmake (>= 3.16), "
       "g++, ffmpeg, parallel")
include(CPack)
