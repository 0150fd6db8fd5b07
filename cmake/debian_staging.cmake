# Run by cpack -G DEB on the staged files of each package before it is
# packed: what Debian's policy asks of every package. Each carries the
# licence (as a machine-readable copyright file) and the changelog in
# /usr/share/doc/PACKAGE, and its manual pages and changelog compressed
# with gzip -9n (no name or time stamp, so that the same files give the
# same package).
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
find_program(gzip gzip REQUIRED)
set(readable OWNER_READ OWNER_WRITE GROUP_READ WORLD_READ)

function(compress file)
    execute_process(COMMAND ${gzip} -9nf ${file} COMMAND_ERROR_IS_FATAL ANY)
endfunction()

foreach(component IN LISTS CPACK_COMPONENTS_ALL)
    string(TOUPPER ${component} upper)
    set(package ${CPACK_DEBIAN_${upper}_PACKAGE_NAME})
    set(root ${CPACK_TEMPORARY_DIRECTORY}/${component})
    set(doc ${root}/usr/share/doc/${package})
    file(MAKE_DIRECTORY ${doc})
    file(COPY_FILE ${CPACK_TARNWEL_COPYRIGHT} ${doc}/copyright)
    file(COPY_FILE ${CPACK_TARNWEL_CHANGELOG} ${doc}/changelog)
    file(CHMOD ${doc}/copyright ${doc}/changelog PERMISSIONS ${readable})
    compress(${doc}/changelog)
    file(GLOB_RECURSE pages ${root}/usr/share/man/*.[1-9])
    foreach(page IN LISTS pages)
        compress(${page})
    endforeach()
endforeach()
