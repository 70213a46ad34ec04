# Debian packages with CPack (scripts/package.sh): each install component becomes one package.
#   runtime  libqninetxe0     libQNInetXE.so.0, the components
#   dev      libqninet-dev    headers, CMake package, qninet.pc, the libQNInetXE.so link
#   qt       libqninetqt0     libQNInetQt.so.0, the Qt 6 windows (loaded by the library at run time)
#   qt_dev   libqninetqt-dev  its header, CMake targets and link; it needs Qt's development files,
#                             which QNInetConfig.cmake then looks for, so it is a package apart
#   program  qninet           the program, its manual page and its bash completion
# Each package's other dependencies come from dpkg-shlibdeps; its own are declared below.
# lintian (scripts/test.sh) finds no error; the warnings left: initial-upload-closes-no-bugs (the
# changelog closes no Debian bug: these packages are not uploaded to Debian), and
# maintscript-calls-ldconfig for the two libraries (CPack's own postinst and postrm beside the
# trigger; empty scripts in their place only trade it for maintainer-script-empty).

set(QNINET_PACKAGE_COMPONENTS runtime dev program)
if(TARGET QNInetQt)
  list(APPEND QNINET_PACKAGE_COMPONENTS qt qt_dev)
endif()

set(CPACK_GENERATOR DEB)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL ${QNINET_PACKAGE_COMPONENTS})
set(CPACK_PACKAGE_NAME qninet)
set(CPACK_PACKAGE_VENDOR "The QNInet developers")
set(CPACK_PACKAGE_CONTACT "The QNInet developers <qninet@example.org>")
set(CPACK_PACKAGE_HOMEPAGE_URL "https://qninet.example.org/")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
# Each package's description starts with its own summary line, not the project's.
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "")
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# dpkg-shlibdeps finds libQNInetXE.so.0 in the build tree (it is in no installed package); the
# dependency on its package is declared through the components instead.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ${PROJECT_BINARY_DIR}/qninet)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
# A shared library's package activates dpkg's ldconfig trigger, as Debian asks (CPack adds
# postinst and postrm scripts calling ldconfig as well, unless given scripts of its own).
file(WRITE ${PROJECT_BINARY_DIR}/packaging/triggers "activate-noawait ldconfig\n")
set(CPACK_DEBIAN_RUNTIME_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/triggers)
set(CPACK_DEBIAN_QT_PACKAGE_CONTROL_EXTRA ${PROJECT_BINARY_DIR}/packaging/triggers)

set(debian_version ${PROJECT_VERSION}-${CPACK_DEBIAN_PACKAGE_RELEASE})
set(QNINET_DESCRIPTION_TAIL
    "QNInet wraps network tasks (HTTP, FTP, SMTP, DNS, WHOIS, RDAP, time, feeds,\nupdates) in components with published properties, one Execute and a few\nevents.")

set(CPACK_DEBIAN_RUNTIME_PACKAGE_NAME libqninetxe0)
set(CPACK_DEBIAN_RUNTIME_PACKAGE_SECTION libs)
set(CPACK_DEBIAN_RUNTIME_DESCRIPTION
    "internet client components for C++ (shared library)\n${QNINET_DESCRIPTION_TAIL}\nThis package holds the shared library.")

set(CPACK_DEBIAN_DEV_PACKAGE_NAME libqninet-dev)
set(CPACK_DEBIAN_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_DEV_DEPENDS runtime)
set(CPACK_DEBIAN_DEV_PACKAGE_SUGGESTS "cmake, pkgconf | pkg-config")
set(CPACK_DEBIAN_DEV_DESCRIPTION
    "internet client components for C++ (development files)\n${QNINET_DESCRIPTION_TAIL}\nThis package holds the C++20 headers, the CMake package QNInet and qninet.pc.")

set(CPACK_DEBIAN_QT_PACKAGE_NAME libqninetqt0)
set(CPACK_DEBIAN_QT_PACKAGE_SECTION libs)
set(CPACK_COMPONENT_QT_DEPENDS runtime)
set(CPACK_DEBIAN_QT_DESCRIPTION
    "internet client components for C++ (Qt 6 windows)\n${QNINET_DESCRIPTION_TAIL}\nThis package holds the Qt 6 Widgets backend of the components' prompts and\nstatus windows, which the library loads when an application asks for it.")

set(CPACK_DEBIAN_QT_DEV_PACKAGE_NAME libqninetqt-dev)
set(CPACK_DEBIAN_QT_DEV_PACKAGE_SECTION libdevel)
set(CPACK_COMPONENT_QT_DEV_DEPENDS dev qt)
set(CPACK_DEBIAN_QT_DEV_PACKAGE_DEPENDS "qt6-base-dev")
set(CPACK_DEBIAN_QT_DEV_DESCRIPTION
    "internet client components for C++ (Qt 6 windows, development files)\n${QNINET_DESCRIPTION_TAIL}\nThis package holds the header and the CMake target QNInet::Qt of the Qt 6\nbackend.")

set(CPACK_DEBIAN_PROGRAM_PACKAGE_NAME qninet)
set(CPACK_DEBIAN_PROGRAM_PACKAGE_SECTION net)
set(CPACK_COMPONENT_PROGRAM_DEPENDS runtime)
if(TARGET QNInetQt)
  set(CPACK_DEBIAN_PROGRAM_PACKAGE_SUGGESTS "libqninetqt0 (= ${debian_version})")
endif()
set(CPACK_DEBIAN_PROGRAM_DESCRIPTION
    "internet client components from the command line\n${QNINET_DESCRIPTION_TAIL}\nThe program qninet drives each component from the command line; qninet demo\ntours them against loopback servers of its own.")

# Every package carries the licence and a changelog in its documentation folder, as Debian
# requires. The date follows SOURCE_DATE_EPOCH when it is set, so a rebuild is the same.
string(TIMESTAMP changelog_date "%a, %d %b %Y %H:%M:%S +0000" UTC)
foreach(component ${QNINET_PACKAGE_COMPONENTS})
  string(TOUPPER ${component} upper)
  set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
  set(changelog ${PROJECT_BINARY_DIR}/packaging/${package}/changelog.Debian)
  file(WRITE ${changelog}
       "${package} (${debian_version}) unstable; urgency=medium\n\n"
       "  * Release ${PROJECT_VERSION}.\n\n"
       " -- ${CPACK_PACKAGE_CONTACT}  ${changelog_date}\n")
  execute_process(COMMAND gzip -9nf ${changelog})
  install(FILES ${changelog}.gz DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package}
          RENAME copyright COMPONENT ${component})
endforeach()

include(CPack)
