# The documents a Debian package carries, and the package itself:
# `cpack -G DEB` in a build configured with CMAKE_INSTALL_PREFIX=/usr (the
# Makefile's `package` target does both).
set(CORVANE_MAINTAINER "The Corvane developers <developers@corvane.org>")
set(docdir ${CMAKE_INSTALL_DATADIR}/doc/corvane)

# The licence in the machine-readable copyright format: the MIT text, each
# line indented by one space and blank lines written as " .".
file(READ ${PROJECT_SOURCE_DIR}/LICENSE license)
string(REGEX REPLACE "^MIT License\n\nCopyright \\(c\\) ([^\n]*)\n\n" "" license_text "${license}")
set(license_holder "${CMAKE_MATCH_1}")
string(STRIP "${license_text}" license_text)
string(REPLACE "\n\n" "\n.\n" license_text "${license_text}")
string(REPLACE "\n" "\n " license_text "${license_text}")
file(WRITE ${CMAKE_BINARY_DIR}/doc/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: Corvane
Source: ${CORVANE_HOMEPAGE}

Files: *
Copyright: ${license_holder}
License: Expat
 ${license_text}
")
find_program(GZIP gzip REQUIRED)
add_custom_command(OUTPUT ${CMAKE_BINARY_DIR}/doc/changelog.gz
  COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/resources/debian/changelog
          > ${CMAKE_BINARY_DIR}/doc/changelog.gz
  DEPENDS resources/debian/changelog)
add_custom_target(changelog ALL DEPENDS ${CMAKE_BINARY_DIR}/doc/changelog.gz)
install(FILES ${CMAKE_BINARY_DIR}/doc/copyright ${CMAKE_BINARY_DIR}/doc/changelog.gz
        DESTINATION ${docdir})

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME corvane)
set(CPACK_PACKAGE_VENDOR "The Corvane developers")
set(CPACK_PACKAGE_CONTACT "${CORVANE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "register automation servers and set how their classes are activated")
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "TALVO - Corvane is a desktop utility for automation servers: programs that
offer creatable classes named by a programmatic identifier. It registers a
new server through a wizard, shows and changes whether a class is activated
on this machine or on a remote one, and tests a class by creating an object.
.
The package also carries the automation layer's tools: automationctl, the
command-line tool, and automation-host, which activates classes for clients
on other machines and runs as a systemd user service.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE "${CORVANE_HOMEPAGE}")
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Loaded at run time, so dpkg-shlibdeps cannot see them: the platform plugins
# that put windows on the screen.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "qt6-qpa-plugins")
# The windows' Arial is drawn with Liberation Sans; Qt's own translations
# put its standard buttons and file dialog in the user's language too.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "fonts-liberation, qt6-translations-l10n")
set(CPACK_STRIP_FILES ON)
include(CPack)
