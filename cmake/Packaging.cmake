# The Debian package of the whole program: the dialog, arcfile, the component library, the
# archiver libraries, their headers and manual pages. `cmake --build <dir> --target package`
# (or cpack in the build folder) writes quorvel_<version>_<arch>.deb.
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGE_NAME "quorvel")
set(CPACK_PACKAGE_VENDOR "Quorvel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "MERIDEX Dialog, the arcfile tool and the Quorvel archive component")
set(CPACK_PACKAGE_DESCRIPTION
    "A job dialog (QUORVEL) that copies, compresses or deletes one configured file, the arcfile\n\
command-line tool for listing, testing, extracting and making archives, and the Quorvel archive\n\
component with its archiver libraries for LHA, ZIP, TAR (gzip, bzip2) and 7z.")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorvel developers <maintainers@quorvel.invalid>")
set(CPACK_DEBIAN_PACKAGE_SECTION "utils")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The dependencies come from the libraries the programs and archiver libraries link (libarchive,
# zlib, Qt, the C++ runtime); the component's own libraries are in the package.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS_PRIVATE_DIRS "${CMAKE_BINARY_DIR}/lib")
# 7-Zip's console self-extractor module makes 7z self-extracting archives that run on Linux.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "7zip | p7zip-full")

include(CPack)
