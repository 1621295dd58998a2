# The installed program folder has the shape of the build tree's bin/: the viewer, its
# sibling programs, the simulator and the two settings files side by side. The simulator
# demo gets a desktop entry and an icon.
if(CMAKE_INSTALL_PREFIX_INITIALIZED_TO_DEFAULT)
  set(CMAKE_INSTALL_PREFIX /opt/tessaract CACHE PATH "Installation prefix" FORCE)
endif()

install(TARGETS tessaract serbridge ledsync tessaract-sim RUNTIME DESTINATION bin)
install(FILES config/config.xml config/key.xml DESTINATION bin)
install(FILES packaging/tessaract-sim.svg DESTINATION share/icons/hicolor/scalable/apps)
# The entry names the programs by absolute path, known only at install time (a prefix given
# to `cmake --install`, or the package's).
install(CODE "
  file(READ \"${PROJECT_SOURCE_DIR}/packaging/tessaract-sim.desktop.in\" entry)
  string(REPLACE \"@PROGRAM_DIR@\" \"\${CMAKE_INSTALL_PREFIX}/bin\" entry \"\${entry}\")
  set(target \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/share/applications/tessaract-sim.desktop\")
  message(STATUS \"Installing: \${target}\")
  file(WRITE \"\${target}\" \"\${entry}\")
")

# Debian package: `cpack -G DEB` in the build folder.
set(CPACK_PACKAGE_NAME tessaract)
set(CPACK_PACKAGE_VENDOR "Tessaract")
set(CPACK_PACKAGE_CONTACT "Tessaract maintainers <tessaract@localhost>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Viewer and controller for a KVM-over-IP device, with a device simulator")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION}.0)
# The install code above sees the final prefix and writes below DESTDIR.
set(CPACK_SET_DESTDIR ON)
set(CPACK_INSTALL_PREFIX /opt/tessaract)
set(CPACK_PACKAGING_INSTALL_PREFIX /opt/tessaract)
# Crash reports name functions from the dynamic symbol table, which stripping keeps.
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The media dialog's own texts are Chinese: a font with those glyphs, or they show as boxes.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-wqy-microhei")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Desktops look for entries and icons under /usr/share only: the package puts copies there.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/packaging/deb_desktop_files.cmake)
include(CPack)
