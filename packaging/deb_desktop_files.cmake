# Runs in CPack after the staging install: copies the desktop entry and the icon from the
# program's prefix to where desktops look for them.
set(stage "${CPACK_TEMPORARY_INSTALL_DIRECTORY}")
set(prefix "${stage}${CPACK_INSTALL_PREFIX}")
file(COPY "${prefix}/share/applications/tessaract-sim.desktop"
     DESTINATION "${stage}/usr/share/applications")
file(COPY "${prefix}/share/icons/hicolor/scalable/apps/tessaract-sim.svg"
     DESTINATION "${stage}/usr/share/icons/hicolor/scalable/apps")
