# The Debian package that scripts/package deb makes with CPack: the program folder in
# /opt/quillon-publisher (the program finds everything beside itself), the command in /usr/bin,
# the desktop entry that handles quillon.publish links, the icon in the hicolor theme, and the
# copyright and changelog. The dependencies come from the binaries (dpkg-shlibdeps) and, for
# what is loaded at run time, from the list below.
set(quillon_folder opt/quillon-publisher)
set(quillon_doc usr/share/doc/quillon-publisher)
install(TARGETS quillon-publisher RUNTIME DESTINATION ${quillon_folder})
if(TARGET verbena)
  install(TARGETS verbena LIBRARY DESTINATION ${quillon_folder})
endif()
install(FILES resources/config.ini resources/Tindlekit.dll resources/face.dll
        DESTINATION ${quillon_folder})
install(FILES packaging/quillon-publisher.desktop DESTINATION usr/share/applications)
install(FILES packaging/copyright DESTINATION ${quillon_doc})
install(FILES packaging/lintian-overrides DESTINATION usr/share/lintian/overrides
        RENAME quillon-publisher)

# Made at install time into the staging folder: the links, the icons (drawn by export_pictures)
# and the compressed changelog.
string(TIMESTAMP quillon_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(QUILLON_PACKAGE_MAINTAINER "Quillon Publisher developers <publisher@quillon.example.org>"
    CACHE STRING "The Debian package's maintainer")
file(WRITE "${CMAKE_BINARY_DIR}/package/changelog"
     "quillon-publisher (${PROJECT_VERSION}) unstable; urgency=medium\n\n"
     "  * Built with the default publishing server ${QUILLON_DEFAULT_SERVER}.\n\n"
     " -- ${QUILLON_PACKAGE_MAINTAINER}  ${quillon_date}\n")
install(CODE [[
  set(root "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}")
  file(MAKE_DIRECTORY "${root}/usr/bin")
  file(CREATE_LINK /opt/quillon-publisher/quillon-publisher "${root}/usr/bin/quillon-publisher"
       SYMBOLIC)
]])
install(CODE "set(pictures \"$<TARGET_FILE:export_pictures>\")
  set(changelog \"${CMAKE_BINARY_DIR}/package/changelog\")
  set(scratch \"${CMAKE_BINARY_DIR}/package/pictures\")")
install(CODE [[
  set(icons "${CMAKE_INSTALL_PREFIX}/usr/share/icons/hicolor")  # file(INSTALL) adds DESTDIR
  file(MAKE_DIRECTORY "${scratch}")
  execute_process(COMMAND ${CMAKE_COMMAND} -E env QT_QPA_PLATFORM=offscreen "${pictures}"
                  "${scratch}" RESULT_VARIABLE drawn)
  if(NOT drawn EQUAL 0)
    message(FATAL_ERROR "export_pictures could not draw the icons")
  endif()
  foreach(size 16 24 32 48 64 128)
    file(INSTALL "${scratch}/quillon-publisher-${size}.png" DESTINATION
         "${icons}/${size}x${size}/apps" RENAME quillon-publisher.png)
  endforeach()
  execute_process(COMMAND gzip -9nc "${changelog}"
                  OUTPUT_FILE "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/usr/share/doc/quillon-publisher/changelog.gz")
]])

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME quillon-publisher)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quillon Publisher developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "teacher's live-class publisher of an online classroom")
string(CONCAT CPACK_PACKAGE_DESCRIPTION
    "Quillon Publisher shows the classroom page and publishes the desktop, a camera\n"
    "or both, with the microphone, as H.264/AAC to the classroom's RTMP server. A\n"
    "classroom page starts it with a quillon.publish link.")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${QUILLON_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION video)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_PACKAGING_INSTALL_PREFIX /)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: Qt's X11 platform plugin, the
# GStreamer elements of the camera, the font of the window's Chinese text.
set(CPACK_DEBIAN_PACKAGE_DEPENDS
    "qt6-qpa-plugins, gstreamer1.0-plugins-base, gstreamer1.0-plugins-good, fonts-wqy-microhei | fonts-noto-cjk")
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "xdg-utils, desktop-file-utils")
include(CPack)
