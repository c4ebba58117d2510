# The Debian package of the tools, selvanore-tools_<version>_<architecture>.deb, made by CPack's
# DEB generator from the install's component "tools" (cmake/Install.cmake). Its dependencies are
# dpkg-shlibdeps' reading of the shared libraries the programs and libraries link. scripts/release
# makes it from the package preset with SOURCE_DATE_EPOCH set, which CPack takes as the date of
# every member; owners are root, members sorted and modes fixed, so two builds of one commit give
# the same bytes.

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ${SELVANORE_PACKAGE_NAME})
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Vashkelt)
set(CPACK_PACKAGE_CONTACT "Vashkelt")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Selvanore wave-ring visualization: preview renderer and live player")
set(CPACK_PACKAGE_DESCRIPTION
  "selvanore-preview plays a sound to the Selvanore visualization module, as the AIMP player
would, and writes the frames it draws as a GIF, PNG frames, a PPM stream or a video with the
sound. selvanore-play shows the frames live in a window while the sound plays, or while the
desktop plays it. Both load the module built natively for Linux over a small stand-in for the
Win32 calls it makes.")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The libraries of the package's own folder are private: the dependencies name only the
# system's, and dpkg-shlibdeps finds ours through the programs' run path.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${CMAKE_INSTALL_FULL_LIBDIR}/selvanore)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS OFF)

# Only the tools; the Windows files of the component "wine" need the cross build.
set(CPACK_COMPONENTS_ALL tools)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)

set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGING_INSTALL_PREFIX ${CMAKE_INSTALL_PREFIX})
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/package)

include(CPack)
