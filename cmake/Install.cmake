# Installing Skarvel like a desktop program (GNU install directories) and packaging it
# as a Debian package with CPack.
include(GNUInstallDirs)

set(SKARVEL_PACKAGING_DIR ${PROJECT_SOURCE_DIR}/packaging)

# The settings code tells an installed program from a build folder by its bin folder,
# and finds the installed data folder relative to the executable (so a package
# installed under /usr finds it as well as `cmake --install` under /usr/local).
file(RELATIVE_PATH _skarvel_data_from_bin ${CMAKE_INSTALL_FULL_BINDIR} ${CMAKE_INSTALL_FULL_DATADIR}/skarvel)
target_compile_definitions(skarvel_common PRIVATE
  SKARVEL_INSTALL_BINDIR="${CMAKE_INSTALL_FULL_BINDIR}"
  SKARVEL_DATADIR_FROM_BINDIR="${_skarvel_data_from_bin}")

install(TARGETS skarvel-service RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

# The SVG helper is no command of its own: it lies in libexec, found from bin.
if(SKARVEL_SVG)
  install(TARGETS skarvel-svg RUNTIME DESTINATION ${CMAKE_INSTALL_LIBEXECDIR}/skarvel)
  file(RELATIVE_PATH _skarvel_svg_from_bin ${CMAKE_INSTALL_FULL_BINDIR}
    ${CMAKE_INSTALL_FULL_LIBEXECDIR}/skarvel/skarvel-svg)
  target_compile_definitions(skarvel_pictures PRIVATE SKARVEL_SVG_HELPER_FROM_BINDIR="${_skarvel_svg_from_bin}")
endif()

# Debian keeps man pages compressed; -n leaves the time out so the package is reproducible.
set(_skarvel_man_pages skarvel-service.1)
if(SKARVEL_BUILD_GUI)
  list(APPEND _skarvel_man_pages skarvel.1)
endif()
set(_skarvel_man_outputs)
foreach(_page IN LISTS _skarvel_man_pages)
  set(_out ${PROJECT_BINARY_DIR}/packaging/${_page}.gz)
  add_custom_command(OUTPUT ${_out}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${PROJECT_BINARY_DIR}/packaging
    COMMAND gzip -9 -n -c ${SKARVEL_PACKAGING_DIR}/man/${_page} > ${_out}
    DEPENDS ${SKARVEL_PACKAGING_DIR}/man/${_page}
    VERBATIM)
  list(APPEND _skarvel_man_outputs ${_out})
endforeach()
add_custom_target(skarvel_man_pages ALL DEPENDS ${_skarvel_man_outputs})
install(FILES ${_skarvel_man_outputs} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(SKARVEL_BUILD_GUI)
  install(TARGETS skarvel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  # Styles and button images are compiled into the executable: no data file is read
  # at run time except the help file, when there is one.
  install(FILES ${PROJECT_SOURCE_DIR}/docs/Skarvel.chm DESTINATION ${CMAKE_INSTALL_DATADIR}/skarvel OPTIONAL)
  install(FILES ${SKARVEL_PACKAGING_DIR}/skarvel.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${SKARVEL_PACKAGING_DIR}/skarvel.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${SKARVEL_PACKAGING_DIR}/icons/skarvel.svg
    DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  # The PNG sizes are rendered from the SVG by packaging/icons/render.sh.
  foreach(_size 16 22 24 32 48 64 128 256)
    install(FILES ${SKARVEL_PACKAGING_DIR}/icons/skarvel-${_size}.png
      DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${_size}x${_size}/apps RENAME skarvel.png)
  endforeach()
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME skarvel)
set(CPACK_PACKAGE_VENDOR Orvantic)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Builds media collections from web pages")
set(CPACK_PACKAGE_DESCRIPTION
  "Skarvel finds the pictures, sounds, videos and texts of web pages, downloads them into a\n"
  "work folder, narrows the collection with selection rules and saves it into a folder or an\n"
  "SQLite database. It carries its own page-analysis web service, skarvel-service.")
string(REPLACE ";" "" CPACK_PACKAGE_DESCRIPTION "${CPACK_PACKAGE_DESCRIPTION}")
set(CPACK_PACKAGE_CONTACT "Orvantic <skarvel@orvantic.invalid>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)
# Libraries come from dpkg-shlibdeps; these are loaded as plugins at run time, where
# shlibdeps cannot see them.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
if(SKARVEL_BUILD_GUI)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
  # Playing sounds and videos (the GStreamer backend of Qt Multimedia), and the condensed
  # font the window uses where Tahoma is missing.
  set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "gstreamer1.0-plugins-good, gstreamer1.0-libav, fonts-dejavu-extra")
endif()
include(CPack)
