# cpack -G DEB (run in the build folder): one Debian package, zorvik_<version>_<arch>.deb, of the
# installed tree under /usr. Its run-time dependencies (the C and C++ libraries) are worked out
# by dpkg-shlibdeps from the binaries themselves, so the package installs with
# `apt install ./zorvik_*.deb` on any Debian that has those libraries at least at the versions
# it was built against.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME zorvik)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Zorvik developers <zorvik@invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "archive component and command-line tool")
set(CPACK_PACKAGE_DESCRIPTION "Zorvik lists, tests, extracts and writes archives (7z, zip, tar, RAR and the other formats \
of the 7-Zip engine) through an in-process component with a COM-style interface, and ships the \
zorvik command line, its manual pages, the C++20 headers, a CMake package and a pkg-config file.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The build's debugging information stays in the build folder.
set(CPACK_STRIP_FILES ON)
# Our own libraries, found through the binaries' relative run paths, are in the package itself.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_BINARY_DIR}/${CMAKE_INSTALL_LIBDIR} ${CMAKE_BINARY_DIR}/${ZORVIK_ENGINE_DIR})
include(CPack)

# The package as a user installs it (not in sanitizer builds, as for installed_examples).
if(NOT ZORVIK_SANITIZE)
  add_test(NAME debian_package COMMAND ${PROJECT_SOURCE_DIR}/cmake/check-package.sh ${PROJECT_BINARY_DIR})
  set_tests_properties(debian_package PROPERTIES TIMEOUT 600 SKIP_RETURN_CODE 77)
endif()
