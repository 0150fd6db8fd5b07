# What cmake --install puts under the prefix, in four parts that cpack makes
# into packages: the command (tarnwel), the shared library (libtarnwel1),
# what a program needs to build against it (libtarnwel-dev) and the Python
# module (python3-tarnwel). On Windows the same parts go into one zip.
include(GNUInstallDirs)

install(TARGETS tarnwel RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT command)
if(NOT WIN32)
    install(FILES tarnwel.1 DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT command)
endif()

# The library: header, shared and static libraries, the CMake package
# (find_package(tarnwel) gives tarnwel::tarnwel, and tarnwel::tarnwel_static)
# and the pkg-config file. A shared library is not a program: no execute bits.
install(FILES include/tarnwel.h DESTINATION ${CMAKE_INSTALL_INCLUDEDIR} COMPONENT development)
install(TARGETS tarnwel_shared tarnwel_static EXPORT tarnwelTargets
        LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT library
                PERMISSIONS OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ
                NAMELINK_COMPONENT development
        ARCHIVE DESTINATION ${CMAKE_INSTALL_LIBDIR} COMPONENT development
        RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT library)
install(EXPORT tarnwelTargets NAMESPACE tarnwel::
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tarnwel COMPONENT development)
include(CMakePackageConfigHelpers)
write_basic_package_version_file(${CMAKE_CURRENT_BINARY_DIR}/tarnwelConfigVersion.cmake
                                 COMPATIBILITY SameMajorVersion)
install(FILES cmake/tarnwelConfig.cmake ${CMAKE_CURRENT_BINARY_DIR}/tarnwelConfigVersion.cmake
        DESTINATION ${CMAKE_INSTALL_LIBDIR}/cmake/tarnwel COMPONENT development)
# Relative to where the file lies, so that the prefix given at install time holds.
file(RELATIVE_PATH pc_to_prefix "/p/${CMAKE_INSTALL_LIBDIR}/pkgconfig" "/p")
configure_file(cmake/tarnwel.pc.in ${CMAKE_CURRENT_BINARY_DIR}/tarnwel.pc @ONLY)
install(FILES ${CMAKE_CURRENT_BINARY_DIR}/tarnwel.pc DESTINATION ${CMAKE_INSTALL_LIBDIR}/pkgconfig
        COMPONENT development)

# The Python module, where Debian's python3 looks for a prefix of /usr, with
# the way to the installed library beside it, relative, as for pkg-config.
set(TARNWEL_PYTHON_DIR "lib/python3/dist-packages" CACHE STRING
    "Where under the prefix the Python module tarnwel is installed")
if(NOT WIN32)
    install(DIRECTORY python/tarnwel DESTINATION ${TARNWEL_PYTHON_DIR} COMPONENT python
            FILES_MATCHING PATTERN "*.py" PATTERN "__pycache__" EXCLUDE)
    file(RELATIVE_PATH python_to_library "/p/${TARNWEL_PYTHON_DIR}/tarnwel"
         "/p/${CMAKE_INSTALL_LIBDIR}/libtarnwel${CMAKE_SHARED_LIBRARY_SUFFIX}.${PROJECT_VERSION_MAJOR}")
    configure_file(cmake/python_location.py.in ${CMAKE_CURRENT_BINARY_DIR}/_location.py @ONLY)
    install(FILES ${CMAKE_CURRENT_BINARY_DIR}/_location.py
            DESTINATION ${TARNWEL_PYTHON_DIR}/tarnwel COMPONENT python)
endif()

# A zip unpacked anywhere on Windows says what it is and under what terms.
if(WIN32)
    install(FILES README.md LICENSE DESTINATION . COMPONENT command)
endif()

# cpack -G DEB in a build folder configured with -DCMAKE_INSTALL_PREFIX=/usr
# (the library then lands in Debian's multiarch folder); cpack -G ZIP in the
# Windows one.
set(CPACK_PACKAGE_NAME tarnwel)
set(CPACK_PACKAGE_VENDOR "The tarnwel developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "LZW compressor that chooses its code width")
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_COMPONENTS_ALL command library development python)
set(CPACK_PROJECT_CONFIG_FILE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake)
# Read by cpack, not here: a Debian package must only be made from a build
# for the prefix /usr.
file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/CPackProjectConfig.cmake
     "if(CPACK_GENERATOR STREQUAL \"DEB\" AND NOT \"${CMAKE_INSTALL_PREFIX}\" STREQUAL \"/usr\")\n"
     "    message(FATAL_ERROR \"Debian packages are made from a build configured with \"\n"
     "            \"-DCMAKE_INSTALL_PREFIX=/usr; this one has ${CMAKE_INSTALL_PREFIX}\")\n"
     "endif()\n")

if(WIN32)
    set(CPACK_ARCHIVE_COMPONENT_INSTALL OFF)
    set(CPACK_PACKAGE_FILE_NAME "tarnwel-${PROJECT_VERSION}-windows-x86_64")
else()
    include(cmake/debian_packages.cmake)
endif()
include(CPack)
