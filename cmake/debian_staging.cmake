# Run by cpack -G DEB on the staged files of each package before it is
# packed: what Debian's policy asks of every package. Each carries the
# licence (as a machine-readable copyright file) and the changelog in
# /usr/share/doc/PACKAGE, and its manual pages and changelog compressed
# with gzip -9n (no name or time stamp, so that the same files give the
# same package). Binaries lose the compiler's notes as well as their
# symbols (cpack strips those), and archives their debugging information,
# as Debian's own packages do.
if(NOT CPACK_GENERATOR STREQUAL "DEB")
    return()
endif()
find_program(gzip gzip REQUIRED)
find_program(strip strip REQUIRED)
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
    file(GLOB programs ${root}/usr/bin/*)
    file(GLOB_RECURSE libraries ${root}/usr/lib/*.so.*)
    file(GLOB_RECURSE archives ${root}/usr/lib/*.a)
    foreach(binary IN LISTS programs libraries archives)
        if(NOT IS_SYMLINK ${binary})
            set(debug_too)
            if(binary MATCHES "\\.a$")
                set(debug_too --strip-debug --enable-deterministic-archives)
            endif()
            execute_process(COMMAND ${strip} ${debug_too} --remove-section=.comment
                                    --remove-section=.note ${binary} COMMAND_ERROR_IS_FATAL ANY)
        endif()
    endforeach()
endforeach()
