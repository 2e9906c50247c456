# Installed layout: headers, the library, a CMake package config and a pkg-config file.
include(CMakePackageConfigHelpers)

install(TARGETS zelnetworking zelnetworking_testing EXPORT ZELNetworkingTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR}
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR}
        INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(DIRECTORY include/zel DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})

set(ZEL_CMAKE_DIR ${CMAKE_INSTALL_LIBDIR}/cmake/ZELNetworking)
install(EXPORT ZELNetworkingTargets NAMESPACE ZELNetworking:: DESTINATION ${ZEL_CMAKE_DIR})
configure_package_config_file(cmake/ZELNetworkingConfig.cmake.in
  ${CMAKE_CURRENT_BINARY_DIR}/ZELNetworkingConfig.cmake INSTALL_DESTINATION ${ZEL_CMAKE_DIR})
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/ZELNetworkingConfigVersion.cmake
  COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ZELNetworkingConfig.cmake
              ${CMAKE_CURRENT_BINARY_DIR}/ZELNetworkingConfigVersion.cmake
        DESTINATION ${ZEL_CMAKE_DIR})

# The .pc file finds its prefix relative to itself, so an install moved with --prefix still works.
file(RELATIVE_PATH ZEL_PC_RELATIVE_PREFIX /${CMAKE_INSTALL_LIBDIR}/pkgconfig /)
string(REGEX REPLACE "/$" "" ZEL_PC_RELATIVE_PREFIX "${ZEL_PC_RELATIVE_PREFIX}")
foreach(pc zelnetworking zelnetworking-testing)
  configure_file(cmake/${pc}.pc.in ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc @ONLY)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/${pc}.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
endforeach()
