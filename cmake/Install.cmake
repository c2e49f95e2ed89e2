# cmake --install: the libraries under the library folder (the engine module in a private
# folder of its own), the command-line tool, its manual pages and completion, the public
# headers (the ABI, the projection zorvik/Zorvik.h and zorvik/files/), a CMake package
# (find_package(Zorvik): Zorvik::component, Zorvik::runtime, Zorvik::files), pkg-config files
# (zorvik, zorvik-files) and the licences. Run paths are relative, so the tree may be moved.
include(CMakePackageConfigHelpers)

set(package_dir ${CMAKE_INSTALL_LIBDIR}/cmake/Zorvik)

install(TARGETS zorvik_runtime zorvik_component zorvik_files EXPORT ZorvikTargets
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  INCLUDES DESTINATION ${CMAKE_INSTALL_INCLUDEDIR})
install(TARGETS lib7z_uwp LIBRARY DESTINATION ${ZORVIK_ENGINE_DIR})
install(TARGETS zorvik RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(DIRECTORY ${PROJECT_BINARY_DIR}/share/ DESTINATION ${CMAKE_INSTALL_DATADIR})
install(FILES LICENSE THIRD-PARTY-NOTICES DESTINATION ${CMAKE_INSTALL_DOCDIR})
install(DIRECTORY LICENSES DESTINATION ${CMAKE_INSTALL_DOCDIR})

install(DIRECTORY include/zorvik ${PROJECT_BINARY_DIR}/include/zorvik DESTINATION ${CMAKE_INSTALL_INCLUDEDIR}
  FILES_MATCHING PATTERN "*.h")
install(EXPORT ZorvikTargets NAMESPACE Zorvik:: DESTINATION ${package_dir})
configure_package_config_file(cmake/ZorvikConfig.cmake.in ${PROJECT_BINARY_DIR}/ZorvikConfig.cmake
  INSTALL_DESTINATION ${package_dir})
write_basic_package_version_file(${PROJECT_BINARY_DIR}/ZorvikConfigVersion.cmake COMPATIBILITY SameMajorVersion)
install(FILES ${PROJECT_BINARY_DIR}/ZorvikConfig.cmake ${PROJECT_BINARY_DIR}/ZorvikConfigVersion.cmake
  DESTINATION ${package_dir})

file(RELATIVE_PATH pkgconfig_to_prefix ${CMAKE_INSTALL_FULL_LIBDIR}/pkgconfig ${CMAKE_INSTALL_PREFIX})
configure_file(cmake/zorvik.pc.in ${PROJECT_BINARY_DIR}/zorvik.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zorvik.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)
configure_file(cmake/zorvik-files.pc.in ${PROJECT_BINARY_DIR}/zorvik-files.pc @ONLY)
install(FILES ${PROJECT_BINARY_DIR}/zorvik-files.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig)

# The installed tree as an application developer meets it (not in sanitizer builds, whose
# libraries need their runtime in every program).
if(NOT ZORVIK_SANITIZE)
  add_test(NAME installed_examples COMMAND ${PROJECT_SOURCE_DIR}/examples/check-installed.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(installed_examples PROPERTIES TIMEOUT 600)
endif()
