# Debian packages made by CPack from the install rules, one per component:
#   libtarnwellfunctions1     (runtime) the shared library with its SONAME
#   libtarnwellfunctions-dev  (dev)     header, .so link, CMake package, .pc
#   tarnwell-tools            (tools)   twcall
# Each carries the licence as its copyright file and a changelog. The
# library's dependencies come from dpkg-shlibdeps. tools/build-debs.sh
# configures, builds, packs and runs lintian in one command.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME tarnwellfunctions)
set(CPACK_PACKAGE_VENDOR "The TarnwellFunctions developers")
set(CPACK_PACKAGE_CONTACT "TarnwellFunctions developers <tarnwellfunctions@example.org>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_HOMEPAGE_URL "https://example.org/tarnwellfunctions")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_PACKAGE_DIRECTORY ${PROJECT_BINARY_DIR}/packages)

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL runtime dev tools)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps must find the library itself when it looks at twcall's and
# the -dev package's neighbours.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR})
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)

# CPack indents every line after the synopsis and writes " ." for an empty one.
set(TW_DEB_LONG_DESCRIPTION
  "TarnwellFunctions lets a scripting host talk HTTP: it loads the library,\nfinds its exported C functions by plain name, passes zero-terminated\nstrings and int flags, and gets back the status code, the response\nheaders as JSON and the body. Every failure comes back as a message.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libtarnwellfunctions${PROJECT_VERSION_MAJOR})
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
# A shlibs file for packages built against the library, and ldconfig run
# through dpkg's trigger (CPack's own postinst call of ldconfig stays too).
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
file(WRITE ${PROJECT_BINARY_DIR}/deb-control/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/deb-control/triggers)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
  "HTTP(S) requests for scripting hosts - shared library\n${TW_DEB_LONG_DESCRIPTION}\n\nThis package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libtarnwellfunctions-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_DEV_DESCRIPTION
  "HTTP(S) requests for scripting hosts - development files\n${TW_DEB_LONG_DESCRIPTION}\n\nThis package holds the header, the CMake package and the pkg-config file.")

set(CPACK_DEBIAN_TOOLS_PACKAGE_NAME tarnwell-tools)
set(CPACK_DEBIAN_TOOLS_PACKAGE_SECTION net)
# twcall loads the library at run time, so dpkg-shlibdeps cannot see it.
set(CPACK_COMPONENT_TOOLS_DEPENDS runtime)
set(CPACK_DEBIAN_TOOLS_DESCRIPTION
  "HTTP(S) requests for scripting hosts - command-line host\n${TW_DEB_LONG_DESCRIPTION}\n\nThis package holds twcall, which calls any export of the library from a\nshell exactly as a host calls it.")

# /usr/share/doc/<package>/: the licence as copyright, CHANGELOG.md as the
# upstream changelog and a one-entry Debian changelog, both compressed as
# Debian wants them (gzip -9n: no name, no time stamp).
find_program(TW_GZIP gzip REQUIRED)
string(TIMESTAMP TW_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
set(TW_DEB_VERSION ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
foreach(component runtime dev tools)
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(docs ${PROJECT_BINARY_DIR}/deb-docs/${package})
  file(MAKE_DIRECTORY ${docs})
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE TW_LICENSE_TEXT)
  string(REGEX REPLACE "\n\n" "\n.\n" TW_LICENSE_TEXT "${TW_LICENSE_TEXT}")
  string(REGEX REPLACE "\n([^\n])" "\n \\1" TW_LICENSE_TEXT "${TW_LICENSE_TEXT}")
  file(WRITE ${docs}/copyright
    "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
    "Upstream-Name: TarnwellFunctions\n\n"
    "Files: *\nCopyright: 2026 The TarnwellFunctions developers\nLicense: Expat\n ${TW_LICENSE_TEXT}")
  file(WRITE ${docs}/changelog.Debian
    "${package} (${TW_DEB_VERSION}) unstable; urgency=medium\n\n"
    "  * Built from TarnwellFunctions ${PROJECT_VERSION}; changelog.gz beside\n"
    "    this file tells what the version added.\n\n"
    " -- ${CPACK_PACKAGE_CONTACT}  ${TW_DEB_DATE}\n")
  configure_file(${PROJECT_SOURCE_DIR}/CHANGELOG.md ${docs}/changelog COPYONLY)
  foreach(file changelog changelog.Debian)
    execute_process(COMMAND ${TW_GZIP} -9nf ${docs}/${file} RESULT_VARIABLE gzip_failed)
    if(gzip_failed)
      message(FATAL_ERROR "gzip ${docs}/${file} failed")
    endif()
  endforeach()
  install(FILES ${docs}/copyright ${docs}/changelog.gz ${docs}/changelog.Debian.gz
    DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/doc/${package} COMPONENT ${component})
endforeach()

include(CPack)
