# Debian package of the installed files (the tool and its manual page): `cpack -G DEB` in the
# build folder writes qmjpeg_<version>_<architecture>.deb.
set(CPACK_PACKAGE_NAME qmjpeg)
set(CPACK_PACKAGE_VENDOR "qmjpeg maintainers")
set(CPACK_PACKAGE_CONTACT "qmjpeg maintainers <maintainers@users.noreply.c-seed-ffb44204.example>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
set(CPACK_PACKAGE_DESCRIPTION "qmjpeg writes one JPEG file per run: the JPEG embedded in a \
QM model file, byte for byte, or the shading-ratio image of two Windows bitmaps, encoded by \
its own baseline JPEG encoder.")
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
