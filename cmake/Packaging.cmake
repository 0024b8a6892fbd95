# The installed files (the tool, its manual page and, for the Debian package, the copyright,
# change log and lintian overrides) and their Debian package: `cpack -G DEB` in the build
# folder writes qmjpeg_<version>_<architecture>.deb.

# The manual page and the change log are installed compressed, as Debian's policy asks, where
# gzip is at hand.
find_program(QMJPEG_GZIP gzip)
set(qmjpeg_changelog ${CMAKE_CURRENT_BINARY_DIR}/changelog)
configure_file(${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/changelog.in ${qmjpeg_changelog} @ONLY)
set(qmjpeg_manual ${CMAKE_CURRENT_SOURCE_DIR}/man/qmjpeg.1)
if(QMJPEG_GZIP)
    foreach(file manual changelog)
        get_filename_component(name ${qmjpeg_${file}} NAME)
        set(compressed ${CMAKE_CURRENT_BINARY_DIR}/${name}.gz)
        add_custom_command(OUTPUT ${compressed}
            COMMAND ${QMJPEG_GZIP} -9 -n -c ${qmjpeg_${file}} > ${compressed}
            DEPENDS ${qmjpeg_${file}} VERBATIM)
        set(qmjpeg_${file} ${compressed})
    endforeach()
    add_custom_target(qmjpeg_documents DEPENDS ${qmjpeg_manual} ${qmjpeg_changelog})
    add_dependencies(qmjpeg qmjpeg_documents) # built with the tool, so that it installs whole
endif()
install(FILES ${qmjpeg_manual} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/copyright ${qmjpeg_changelog}
        DESTINATION ${CMAKE_INSTALL_DOCDIR})
if(qmjpeg_fully_static)
    install(FILES ${CMAKE_CURRENT_SOURCE_DIR}/cmake/debian/lintian-overrides
            DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME qmjpeg)
endif()
set(CPACK_PACKAGE_NAME qmjpeg)
set(CPACK_PACKAGE_VENDOR "qmjpeg maintainers")
set(CPACK_PACKAGE_CONTACT "qmjpeg maintainers <maintainers@users.noreply.c-seed-ffb44204.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "qmjpeg writes one JPEG file per run: the JPEG embedded in a
QM model file, byte for byte, or the shading-ratio image of two Windows
bitmaps, encoded by its own baseline JPEG encoder.")
set(CPACK_PACKAGE_INSTALL_DIRECTORY qmjpeg)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION graphics)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The C and C++ runtime libraries, with the versions the binary needs.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
include(CPack)
