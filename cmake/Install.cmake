# Install rules: the bundle where the helper looks for it and trusts it, and what a desktop needs
# to list, show and start the application. Two components, one per Debian package:
# `application` (the bundle, the kernel resource, the desktop integration) and `helper` (the root
# helper and its systemd units). The bundle's place is fixed, whatever the prefix: the helper's
# unit and the desktop entry name it.
include(GNUInstallDirs)

set(VEYRA_INSTALLED_BUNDLE "/opt/VeyraNetworkAssistant.app")
set(VEYRA_INSTALLED_EXECUTABLE "${VEYRA_INSTALLED_BUNDLE}/Contents/MacOS/VeyraNetworkAssistant")
set(VEYRA_APP_ICON_NAME "net.veyra.networkassistant") # also the desktop entry's name and WM class
set(VEYRA_SYSTEMD_UNIT_DIR "/lib/systemd/system" CACHE PATH "Where the helper's systemd units are installed")
set(VEYRA_APP_ICON_SIZES 16 22 24 32 48 64 128 256)
# The metainfo's release date: the changelog's when a package is built (SOURCE_DATE_EPOCH).
string(TIMESTAMP VEYRA_RELEASE_DATE "%Y-%m-%d" UTC)

# Directories made by the installation are 0755 whatever the umask: the helper refuses a bundle
# whose directories group or others may write.
set(CMAKE_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

set(desktop_source "${PROJECT_SOURCE_DIR}/resources/desktop")
set(desktop_build "${CMAKE_BINARY_DIR}/desktop")
configure_file("${desktop_source}/net.veyra.networkassistant.desktop.in"
  "${desktop_build}/${VEYRA_APP_ICON_NAME}.desktop" @ONLY)
configure_file("${desktop_source}/net.veyra.networkassistant.metainfo.xml.in"
  "${desktop_build}/${VEYRA_APP_ICON_NAME}.metainfo.xml" @ONLY)
# The command on the PATH is a link, so the running executable (and the autostart entry it
# writes) is the bundle's own file.
file(CREATE_LINK "${VEYRA_INSTALLED_EXECUTABLE}" "${desktop_build}/veyra-network-assistant" SYMBOLIC)

# The icon's PNG sizes are rendered from its SVG, so the two never disagree.
find_program(VEYRA_RSVG_CONVERT rsvg-convert REQUIRED)
set(icon_svg "${desktop_source}/${VEYRA_APP_ICON_NAME}.svg")
set(icon_pngs)
foreach(size ${VEYRA_APP_ICON_SIZES})
  set(png "${desktop_build}/hicolor/${size}x${size}/apps/${VEYRA_APP_ICON_NAME}.png")
  add_custom_command(OUTPUT "${png}"
    COMMAND "${CMAKE_COMMAND}" -E make_directory "${desktop_build}/hicolor/${size}x${size}/apps"
    COMMAND "${VEYRA_RSVG_CONVERT}" --width ${size} --height ${size} --output "${png}" "${icon_svg}"
    DEPENDS "${icon_svg}"
    VERBATIM)
  list(APPEND icon_pngs "${png}")
endforeach()
add_custom_target(desktop-files ALL DEPENDS ${icon_pngs})

# The bundle. The kernel resource is copied byte for byte: its digest was taken when it was bundled.
install(TARGETS VeyraNetworkAssistant RUNTIME DESTINATION "${VEYRA_INSTALLED_BUNDLE}/Contents/MacOS"
  COMPONENT application)
install(PROGRAMS "${VEYRA_BUNDLE_RESOURCES}/mihomo" DESTINATION "${VEYRA_INSTALLED_BUNDLE}/Contents/Resources"
  COMPONENT application)
install(FILES "${VEYRA_BUNDLE_RESOURCES}/mihomo.sha256" DESTINATION "${VEYRA_INSTALLED_BUNDLE}/Contents/Resources"
  COMPONENT application)

# The desktop: menu entry, icon, software-centre metadata, the command and its manual page.
install(FILES "${desktop_build}/${VEYRA_APP_ICON_NAME}.desktop" DESTINATION "${CMAKE_INSTALL_DATADIR}/applications"
  COMPONENT application)
install(FILES "${desktop_build}/${VEYRA_APP_ICON_NAME}.metainfo.xml" DESTINATION "${CMAKE_INSTALL_DATADIR}/metainfo"
  COMPONENT application)
install(FILES "${icon_svg}" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps"
  COMPONENT application)
install(DIRECTORY "${desktop_build}/hicolor" DESTINATION "${CMAKE_INSTALL_DATADIR}/icons" COMPONENT application)
install(FILES "${desktop_build}/veyra-network-assistant" DESTINATION "${CMAKE_INSTALL_BINDIR}"
  COMPONENT application)
install(FILES "${desktop_source}/veyra-network-assistant.1" DESTINATION "${CMAKE_INSTALL_MANDIR}/man1"
  COMPONENT application)

# The root helper beside the executable it serves, and the units that start it on demand.
install(TARGETS VeyraProxyHelper RUNTIME DESTINATION "${VEYRA_INSTALLED_BUNDLE}/Contents/MacOS" COMPONENT helper)
install(FILES
  "${PROJECT_SOURCE_DIR}/packaging/net.veyra.networkassistant.proxy-helper.socket"
  "${PROJECT_SOURCE_DIR}/packaging/net.veyra.networkassistant.proxy-helper.service"
  DESTINATION "${VEYRA_SYSTEMD_UNIT_DIR}" COMPONENT helper)
