# The four Debian packages, made by cpack -G DEB. Their dependencies on
# other packages come from the binaries (dpkg-shlibdeps, from dpkg-dev);
# only those between the four are written here.
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_VERSION ${PROJECT_VERSION})
set(TARNWEL_PACKAGE_MAINTAINER "The tarnwel developers <tarnwel@example.org>" CACHE STRING
    "Who the Debian packages name as their maintainer")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${TARNWEL_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(exact_version "(= ${PROJECT_VERSION})")

set(CPACK_DEBIAN_COMMAND_PACKAGE_NAME tarnwel)
set(CPACK_DEBIAN_COMMAND_PACKAGE_SECTION utils)
set(CPACK_COMPONENT_COMMAND_DESCRIPTION
    "LZW file compressor that chooses its code width\n"
    "tarnwel compresses one file into another with LZW dictionary coding and\n"
    "expands it back byte for byte. It chooses the code width (11 to 25 bits)\n"
    "for each input and keeps it in the file bits.txt beside the run.")

set(CPACK_DEBIAN_LIBRARY_PACKAGE_NAME libtarnwel1)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_SECTION libs)
# The shlibs file that lets programs built against it depend on it, and the
# trigger that has ldconfig pick it up.
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS ON)
set(CPACK_DEBIAN_PACKAGE_GENERATE_SHLIBS_POLICY ">=")
# (CPack also calls ldconfig from the scripts it writes for a library.)
set(CPACK_DEBIAN_LIBRARY_PACKAGE_CONTROL_EXTRA ${CMAKE_CURRENT_LIST_DIR}/debian/libtarnwel1/triggers)
set(CPACK_COMPONENT_LIBRARY_DESCRIPTION
    "LZW compression that chooses its code width - shared library\n"
    "libtarnwel compresses and expands LZW streams whose code width (11 to 25\n"
    "bits) fits the input, in one call or in steps of any size, with the\n"
    "expander in fixed memory.\n"
    ".\n"
    "This package holds the shared library.")

set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_NAME libtarnwel-dev)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_SECTION libdevel)
set(CPACK_DEBIAN_DEVELOPMENT_PACKAGE_DEPENDS "libtarnwel1 ${exact_version}")
set(CPACK_COMPONENT_DEVELOPMENT_DESCRIPTION
    "LZW compression that chooses its code width - development files\n"
    "libtarnwel compresses and expands LZW streams whose code width (11 to 25\n"
    "bits) fits the input, in one call or in steps of any size, with the\n"
    "expander in fixed memory.\n"
    ".\n"
    "This package holds the header, the static library, the pkg-config file\n"
    "and the CMake package (find_package(tarnwel)).")

# The module finds the library by its place under /usr/lib/<multiarch>, so
# it is built for one architecture though it holds no binary.
set(CPACK_DEBIAN_PYTHON_PACKAGE_NAME python3-tarnwel)
set(CPACK_DEBIAN_PYTHON_PACKAGE_SECTION python)
set(CPACK_DEBIAN_PYTHON_PACKAGE_DEPENDS "python3:any, libtarnwel1 ${exact_version}")
set(CPACK_DEBIAN_PYTHON_PACKAGE_CONTROL_EXTRA
    ${CMAKE_CURRENT_LIST_DIR}/debian/python3-tarnwel/postinst
    ${CMAKE_CURRENT_LIST_DIR}/debian/python3-tarnwel/prerm)
set(CPACK_COMPONENT_PYTHON_DESCRIPTION
    "LZW compression that chooses its code width - Python 3 module\n"
    "The module tarnwel compresses and expands tarnwel streams over\n"
    "libtarnwel: whole in memory, or a piece at a time through file objects\n"
    "as gzip does.")

# What every Debian package carries in /usr/share/doc/PACKAGE: the licence
# in Debian's machine-readable form, and the changelog. The staging script
# puts them there and compresses what Debian wants compressed.
file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
string(REGEX REPLACE "\n$" "" licence "${licence}")
string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
string(REGEX REPLACE "\n" "\n " licence "${licence}")
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright
     "Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/\n"
     "Upstream-Name: tarnwel\n\n"
     "Files: *\n"
     "Copyright: 2026 The tarnwel developers\n"
     "License: Expat\n"
     " ${licence}\n")
file(STRINGS ${CMAKE_CURRENT_LIST_DIR}/debian/changelog newest LIMIT_COUNT 1)
if(NOT newest MATCHES "^tarnwel \\(${PROJECT_VERSION}\\) ")
    message(WARNING "cmake/debian/changelog has no entry for ${PROJECT_VERSION} at its top")
endif()
set(CPACK_TARNWEL_COPYRIGHT ${CMAKE_CURRENT_BINARY_DIR}/debian/copyright)
set(CPACK_TARNWEL_CHANGELOG ${CMAKE_CURRENT_LIST_DIR}/debian/changelog)
set(CPACK_PRE_BUILD_SCRIPTS ${CMAKE_CURRENT_LIST_DIR}/debian_staging.cmake)
