# Debian packages of the Linux programs, written by `cpack` in a build folder into packages/:
# ravdel (the desktop program, its .desktop file and icon) and ravdel-monitor (ravdel-monitor,
# its systemd user unit, ravdel-analyse). Versions come from the project's, dependencies from
# the binaries (dpkg-shlibdeps; for arm64 through the arm64 packages installed by multiarch).
if(NOT CMAKE_SYSTEM_NAME STREQUAL "Linux")
  return()
endif()
include(GNUInstallDirs)

set(RAVDEL_PACKAGE_MAINTAINER "Ravdel developers <support@ravdel.example.org>"
    CACHE STRING "Maintainer field of the Debian packages")
set(RAVDEL_PACKAGE_HOMEPAGE "https://ravdel.example.org" CACHE STRING
    "Homepage field of the Debian packages")

# Debian's name for the processor the programs are built for.
if(CMAKE_SYSTEM_PROCESSOR MATCHES "aarch64|arm64")
  set(_ravdel_deb_arch arm64)
elseif(CMAKE_SYSTEM_PROCESSOR MATCHES "x86_64|AMD64")
  set(_ravdel_deb_arch amd64)
else()
  set(_ravdel_deb_arch "")  # dpkg's own
endif()

# What every package carries in /usr/share/doc/<package>/: the copyright and the Debian
# changelog, compressed as Debian wants it (gzip -9n: no name or time inside).
set(_ravdel_release 1)
function(ravdel_package_docs component package)
  set(doc ${PROJECT_BINARY_DIR}/package-docs/${package})
  file(MAKE_DIRECTORY ${doc})
  string(TIMESTAMP date "%a, %d %b %Y %H:%M:%S +0000" UTC)  # SOURCE_DATE_EPOCH when set
  file(WRITE ${doc}/changelog.Debian
       "${package} (${PROJECT_VERSION}-${_ravdel_release}) unstable; urgency=medium\n\n"
       "  * Ravdel ${PROJECT_VERSION}.\n\n"
       " -- ${RAVDEL_PACKAGE_MAINTAINER}  ${date}\n")
  find_program(RAVDEL_GZIP gzip REQUIRED)
  execute_process(COMMAND ${RAVDEL_GZIP} -9nf ${doc}/changelog.Debian COMMAND_ERROR_IS_FATAL ANY)
  install(FILES ${doc}/changelog.Debian.gz ${PROJECT_SOURCE_DIR}/packaging/debian/copyright
          DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
endfunction()

set(CPACK_COMPONENTS_ALL monitor)
ravdel_package_docs(monitor ravdel-monitor)
if(RAVDEL_BUILD_APP)
  list(APPEND CPACK_COMPONENTS_ALL ravdel)
  ravdel_package_docs(ravdel ravdel)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME ravdel)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "${RAVDEL_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE ${_ravdel_release})
set(CPACK_DEBIAN_PACKAGE_ARCHITECTURE ${_ravdel_deb_arch})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${RAVDEL_PACKAGE_HOMEPAGE}")

set(CPACK_DEBIAN_MONITOR_PACKAGE_NAME ravdel-monitor)
set(CPACK_DEBIAN_MONITOR_PACKAGE_SECTION science)
string(CONCAT CPACK_COMPONENT_MONITOR_DESCRIPTION
       "webcam particle-hit detector, console programs\n"
       "Ravdel counts particle hits on the image sensor of a webcam whose lens\n"
       "is covered: a frame whose brightest pixel has a channel above a limit\n"
       "is an event, stored as a PNG picture and a JSON line. This package\n"
       "holds ravdel-monitor, the detector without a screen (with a systemd\n"
       "user unit), and ravdel-analyse for recorded samples.")
set(CPACK_DEBIAN_RAVDEL_PACKAGE_NAME ravdel)
set(CPACK_DEBIAN_RAVDEL_PACKAGE_SECTION science)
# The Qt libraries come from the binary; the platform plugins that open its window do not.
set(CPACK_DEBIAN_RAVDEL_PACKAGE_DEPENDS "qt6-qpa-plugins")
string(CONCAT CPACK_COMPONENT_RAVDEL_DESCRIPTION
       "webcam particle-hit detector, desktop program\n"
       "Ravdel counts particle hits on the image sensor of a webcam whose lens\n"
       "is covered: a frame whose brightest pixel has a channel above a limit\n"
       "is an event, stored as a PNG picture. This package holds the desktop\n"
       "program, which lives in the notification area, with its menu entry\n"
       "and icon.")

include(CPack)
