# The Debian package. After building, `cpack -G DEB` in the build folder (or
# `cpack --config <build>/CPackConfig.cmake -G DEB`) makes
# trustcheck_<version>-<release>_<arch>.deb from what `cmake --install`
# installs: the tool in /usr/bin, its manual page and the licence in Debian's
# machine-readable copyright format. scripts/check-package builds and
# inspects it.

# Whoever builds a package to hand out puts their own name and address here;
# the default names the project and an address that cannot reach anyone by
# mistake (.example is reserved).
set(TRUSTCHECK_PACKAGE_MAINTAINER "trustcheck developers <maintainers@trustcheck.example>"
    CACHE STRING "Maintainer field of the Debian package: Name <address>")
set(TRUSTCHECK_PACKAGE_RELEASE "1" CACHE STRING "Debian revision of the package")

set(CPACK_PACKAGE_NAME trustcheck)
set(CPACK_PACKAGE_VENDOR "trustcheck developers")
set(CPACK_PACKAGE_CONTACT "${TRUSTCHECK_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "check Authenticode signatures and trust of Windows files")
set(CPACK_STRIP_FILES ON)
if(NOT WIN32)
  set(CPACK_GENERATOR DEB)
endif()

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE "${TRUSTCHECK_PACKAGE_RELEASE}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${TRUSTCHECK_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The synopsis line is the summary above; CPack indents this long text and
# writes its empty line as " .".
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "trustcheck tells whether the Authenticode signature of a signed Windows file,
such as a program or a library, verifies and chains to a root that this
machine trusts for code signing. It takes one file, prints one line with the
result code the Windows trust verifier gives for that file and what the code
means, and returns the verdict as its exit status.

It uses the system's OpenSSL trust store (/etc/ssl/certs), with roots
trusted for code signing only in /etc/trustcheck/code-signing, and works
offline: it fetches nothing and does not check revocation. trustcheck-roots
builds a store from Microsoft's root program, to judge files as a default
Windows machine would; trustcheck-inspect explains verdicts.")

# The libraries come from the binary itself, through dpkg-shlibdeps, with the
# versions it was built against. Without a root certificate store the tool
# could only ever answer "no trusted root", so the store is a dependency too.
find_program(TRUSTCHECK_DPKG_SHLIBDEPS dpkg-shlibdeps)
mark_as_advanced(TRUSTCHECK_DPKG_SHLIBDEPS)
if(TRUSTCHECK_DPKG_SHLIBDEPS)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "ca-certificates")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6, libssl3, zlib1g, ca-certificates")
endif()

# Debian keeps each package's licence in /usr/share/doc/<package>/copyright,
# and its changelog beside it, compressed like the manual page (gzip -9n, so
# the same entry always gives the same bytes). The entry names this version,
# revision and maintainer.
install(FILES ${PROJECT_SOURCE_DIR}/packaging/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
if(NOT WIN32 AND TRUSTCHECK_GZIP)
  set(changelog ${PROJECT_BINARY_DIR}/packaging/changelog.Debian)
  configure_file(${PROJECT_SOURCE_DIR}/packaging/changelog.Debian.in ${changelog} @ONLY)
  add_custom_command(OUTPUT ${changelog}.gz
    COMMAND ${TRUSTCHECK_GZIP} -9 -n -k -f ${changelog}
    DEPENDS ${changelog}
    COMMENT "Compressing the Debian changelog"
    VERBATIM)
  add_custom_target(debian_changelog ALL DEPENDS ${changelog}.gz)
  install(FILES ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/build[^/]*/")

include(CPack)
