# VtqPackage.cmake - how other builds find the installed filter
#
# Two ways in, neither of which names the install prefix, so that an
# installed tree works wherever it was installed (cmake --install --prefix)
# or moved to afterwards:
#  - pkg-config: <libdir>/pkgconfig/vtq_zozaz.pc finds its prefix from its
#    own folder (${pcfiledir});
#  - CMake: find_package(vtq_zozaz CONFIG) gives vtq_zozaz::vtq_zozaz (the
#    filter) and vtq_zozaz::oscomm, ::comm, ::conf, ::txif (the stand-in
#    host's libraries), located relative to the package files.
include(CMakePackageConfigHelpers)

# The .pc file's way up to the prefix: "../.." from lib/pkgconfig, one
# step more from a multiarch libdir.  An absolute libdir or includedir
# cannot move with the tree and is written as it is.
if(IS_ABSOLUTE "${CMAKE_INSTALL_LIBDIR}" OR IS_ABSOLUTE "${CMAKE_INSTALL_INCLUDEDIR}")
  set(VTQ_PC_PREFIX ${CMAKE_INSTALL_PREFIX})
else()
  file(RELATIVE_PATH up /p/${CMAKE_INSTALL_LIBDIR}/pkgconfig /p)
  string(REGEX REPLACE "/$" "" up "${up}")
  set(VTQ_PC_PREFIX "\${pcfiledir}/${up}")
endif()
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_LIBDIR BASE_DIRECTORY "\${prefix}" OUTPUT_VARIABLE VTQ_PC_LIBDIR)
cmake_path(ABSOLUTE_PATH CMAKE_INSTALL_INCLUDEDIR BASE_DIRECTORY "\${prefix}"
           OUTPUT_VARIABLE VTQ_PC_INCLUDEDIR)
configure_file(${CMAKE_SOURCE_DIR}/cmake/vtq_zozaz.pc.in ${CMAKE_BINARY_DIR}/vtq_zozaz.pc @ONLY)
install(FILES ${CMAKE_BINARY_DIR}/vtq_zozaz.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/vtq_zozaz)
install(EXPORT vtq_zozaz-targets NAMESPACE vtq_zozaz:: DESTINATION ${package_dir})
configure_package_config_file(${CMAKE_SOURCE_DIR}/cmake/vtq_zozaz-config.cmake.in
                              ${CMAKE_BINARY_DIR}/vtq_zozaz-config.cmake
                              INSTALL_DESTINATION ${package_dir})
# The soname changes with the major version, and so does compatibility.
write_basic_package_version_file(${CMAKE_BINARY_DIR}/vtq_zozaz-config-version.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES ${CMAKE_BINARY_DIR}/vtq_zozaz-config.cmake
              ${CMAKE_BINARY_DIR}/vtq_zozaz-config-version.cmake
        DESTINATION ${package_dir})
