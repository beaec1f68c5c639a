# The desktop files (entry, AppStream metadata, icons) laid out in the build tree as in
# an installed one, the install rules for a standard tree under any prefix, and the
# Debian package made from it with CPack.

set(DESKTOP_DIR ${CMAKE_SOURCE_DIR}/resources/desktop)
set(APP_ID com.brindlemar.app)
set(ICON_SIZES 16 24 32 48 64 128 256 512)

# ---- desktop entry, AppStream metadata and icons, in the build tree -----------------
find_program(RSVG_CONVERT rsvg-convert REQUIRED)
configure_file(${DESKTOP_DIR}/${APP_ID}.desktop ${CMAKE_BINARY_DIR}/share/applications/${APP_ID}.desktop COPYONLY)
configure_file(${DESKTOP_DIR}/${APP_ID}.metainfo.xml ${CMAKE_BINARY_DIR}/share/metainfo/${APP_ID}.metainfo.xml COPYONLY)
set(ICON_OUTPUTS ${CMAKE_BINARY_DIR}/share/icons/hicolor/scalable/apps/${APP_ID}.svg)
add_custom_command(
  OUTPUT ${CMAKE_BINARY_DIR}/share/icons/hicolor/scalable/apps/${APP_ID}.svg
  COMMAND ${CMAKE_COMMAND} -E copy ${DESKTOP_DIR}/${APP_ID}.svg ${CMAKE_BINARY_DIR}/share/icons/hicolor/scalable/apps/${APP_ID}.svg
  DEPENDS ${DESKTOP_DIR}/${APP_ID}.svg)
foreach(size IN LISTS ICON_SIZES)
  set(png ${CMAKE_BINARY_DIR}/share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png)
  add_custom_command(
    OUTPUT ${png}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/share/icons/hicolor/${size}x${size}/apps
    COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} -o ${png} ${DESKTOP_DIR}/${APP_ID}.svg
    DEPENDS ${DESKTOP_DIR}/${APP_ID}.svg
    COMMENT "Rendering the ${size} px icon")
  list(APPEND ICON_OUTPUTS ${png})
endforeach()
add_custom_target(brindlemar-icons ALL DEPENDS ${ICON_OUTPUTS})
add_dependencies(brindlemar brindlemar-icons)

# Debian wants the changelog and the manual page compressed, without a timestamp.
set(CHANGELOG_GZ ${CMAKE_BINARY_DIR}/generated/changelog.gz)
set(MANPAGE_GZ ${CMAKE_BINARY_DIR}/generated/brindlemar.1.gz)
add_custom_command(
  OUTPUT ${CHANGELOG_GZ} ${MANPAGE_GZ}
  COMMAND gzip -9 -n -c ${DESKTOP_DIR}/changelog > ${CHANGELOG_GZ}
  COMMAND gzip -9 -n -c ${DESKTOP_DIR}/brindlemar.1 > ${MANPAGE_GZ}
  DEPENDS ${DESKTOP_DIR}/changelog ${DESKTOP_DIR}/brindlemar.1)
add_custom_target(brindlemar-changelog ALL DEPENDS ${CHANGELOG_GZ} ${MANPAGE_GZ})

# ---- install: bin/, lib/brindlemar/, share/ under any prefix -------------------------
# The program finds everything relative to its own directory, so these three paths
# are fixed whatever the prefix.
install(TARGETS brindlemar RUNTIME DESTINATION bin)
install(TARGETS brindlemar-page-bridge LIBRARY DESTINATION lib/brindlemar)
install(DIRECTORY ${CMAKE_SOURCE_DIR}/resources/backend/ DESTINATION share/brindlemar/backend
        PATTERN make-sample.sh EXCLUDE)
# share/brindlemar/node: the Node.js found at configure time; relative when it lives
# under the same prefix (as /usr/bin/node does for a package), absolute otherwise.
install(CODE "
  set(prefix \"\${CMAKE_INSTALL_PREFIX}\")
  set(link \"\$ENV{DESTDIR}\${prefix}/share/brindlemar/node\")
  set(target \"${NODE_REAL}\")
  cmake_path(IS_PREFIX prefix \"\${target}\" NORMALIZE under_prefix)
  if(under_prefix)
    file(RELATIVE_PATH target \"\${prefix}/share/brindlemar\" \"\${target}\")
  endif()
  file(REMOVE \"\${link}\")
  message(STATUS \"Linking: \${link} -> \${target}\")
  file(CREATE_LINK \"\${target}\" \"\${link}\" SYMBOLIC)
")
install(FILES ${DESKTOP_DIR}/${APP_ID}.desktop DESTINATION share/applications)
install(FILES ${DESKTOP_DIR}/${APP_ID}.metainfo.xml DESTINATION share/metainfo)
install(FILES ${DESKTOP_DIR}/${APP_ID}.svg DESTINATION share/icons/hicolor/scalable/apps)
foreach(size IN LISTS ICON_SIZES)
  install(FILES ${CMAKE_BINARY_DIR}/share/icons/hicolor/${size}x${size}/apps/${APP_ID}.png
          DESTINATION share/icons/hicolor/${size}x${size}/apps)
endforeach()
install(FILES ${DESKTOP_DIR}/copyright ${CHANGELOG_GZ} DESTINATION share/doc/brindlemar)
install(FILES ${MANPAGE_GZ} DESTINATION share/man/man1)

# ---- the Debian package: cpack -G DEB in the build directory (or the `deb` target) ----
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME brindlemar)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Equipo de Brindlemar <paquetes@brindlemar.com>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "biblioteca personal de vídeos")
set(CPACK_PACKAGE_DESCRIPTION "Brindlemar muestra tu biblioteca de películas y series en su propia ventana
y reproduce los vídeos sobre ella, a pantalla completa o en una ventana
flotante en miniatura, con los controles multimedia del escritorio.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links against (GTK, WebKitGTK, libmpv, ...) are found by
# dpkg-shlibdeps. Beside them: Node.js for the library service, and the GStreamer
# plugins that WebKitGTK's own <video> plays the page's videos with (its player when
# the shell is absent, and the durations it reads from the files): Matroska, WebM,
# VP8/VP9, Vorbis and Opus in base and good; H.264, H.265 and AAC in bad and libav.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "nodejs, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, gstreamer1.0-plugins-bad, gstreamer1.0-libav")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
add_custom_target(deb
  COMMAND ${CMAKE_CPACK_COMMAND} -G DEB --config ${CMAKE_BINARY_DIR}/CPackConfig.cmake
  WORKING_DIRECTORY ${CMAKE_BINARY_DIR}
  COMMENT "Building the Debian package")
add_dependencies(deb brindlemar brindlemar-page-bridge brindlemar-icons brindlemar-changelog)
