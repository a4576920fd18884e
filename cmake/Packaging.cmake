# Debian packages, one per install component (cpack -G DEB in the build tree):
#   libzentra3     library      libzentra.so.3
#   libzentra-dev  development  headers, libzentra.so, zentra.pc, the CMake package
#   orvanta        shell        orva, its manual page and bash completion, the README
#   worva          gui          worva, its manual page, desktop entry, AppStream data and icons
# The files are named orvanta-<version>-<arch>-<component>.deb, so that
# `apt install ./orvanta-*.deb` installs them all.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME orvanta)
set(CPACK_PACKAGE_VENDOR "Orvanta")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_CONTACT "Orvanta maintainers <orvanta@localhost>")
# Each package's description is its component's: the first line is the package's summary (a
# CPACK_PACKAGE_DESCRIPTION_SUMMARY would be put before every one of them).
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)

find_program(ORVANTA_DPKG dpkg)
if(ORVANTA_DPKG)
  execute_process(COMMAND ${ORVANTA_DPKG} --print-architecture OUTPUT_VARIABLE ORVANTA_DEB_ARCH
                  OUTPUT_STRIP_TRAILING_WHITESPACE)
else()
  set(ORVANTA_DEB_ARCH ${CMAKE_SYSTEM_PROCESSOR})
endif()
set(CPACK_PACKAGE_FILE_NAME orvanta-${PROJECT_VERSION}-${ORVANTA_DEB_ARCH})

set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL library development shell)
if(ORVANTA_BUILD_GUI)
  list(APPEND CPACK_COMPONENTS_ALL gui)
endif()

set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_COMPRESSION_TYPE gzip)
# The shared-library dependencies (unixODBC, libedit, libxml2, Qt 6, the C++ runtime) are read
# from the binaries by dpkg-shlibdeps; the packages' dependencies on each other come from the
# component dependencies, with the exact version.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_ENABLE_COMPONENT_DEPENDS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY "=")
# dpkg-shlibdeps runs in each component's staging folder; libzentra is found in the library's.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS ../library${CPACK_PACKAGING_INSTALL_PREFIX}/${CMAKE_INSTALL_LIBDIR})

set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "Orvanta's data-access library: DBMS catalogue, ODBC connections, recordsets
libzentra carries the catalogue of 25 DBMS types with their connection-string templates, \
connections, recordsets, commands and parameters over unixODBC, console output with a spool \
file, the settings store, the command history and text-file reading.")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libzentra3)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# ldconfig runs after the library is installed or removed.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${PROJECT_SOURCE_DIR}/cmake/deb/triggers)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
# Connecting needs the ODBC driver of the DBMS; these are the ones Debian ships for the servers
# it packages.
set(CPACK_DEBIAN_LIBRARY_PACKAGE_RECOMMENDS "libsqliteodbc, odbc-postgresql, odbc-mariadb")
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SUGGESTS "unixodbc")

set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "development files for libzentra
The C++20 headers of libzentra, the link to the shared library, a pkg-config file (zentra) and \
a CMake package (find_package(zentra), target zentra::zentra).")
set(CPACK_COMPONENT_DEVELOPMENT_DEPENDS library)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libzentra-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)

set(CPACK_COMPONENT_SHELL_DESCRIPTION
    "interactive SQL shell for many database systems over ODBC
orva connects to one of 25 kinds of database systems (SQLite, PostgreSQL, MySQL and MariaDB, \
SQL Server, Oracle, DB2 and more) through their ODBC drivers, and reads SQL statements and its \
own commands at a prompt, printing results as bordered tables or record lists.")
set(CPACK_COMPONENT_SHELL_DEPENDS library)
set(CPACK_DEBIAN_SHELL_PACKAGE_NAME orvanta)

set(CPACK_COMPONENT_GUI_DESCRIPTION
    "windowed front end of the Orvanta SQL shell
worva runs orva in a window, with a connect dialog, a prompt line with a command history, find \
and script opening.")
set(CPACK_COMPONENT_GUI_DEPENDS shell library)
set(CPACK_DEBIAN_GUI_PACKAGE_NAME worva)
# Qt needs a platform plugin to open a window at all.
set(CPACK_DEBIAN_GUI_PACKAGE_DEPENDS "qt6-qpa-plugins")

include(CPack)
