# The Debian package: `cmake --build build --target package` makes
# kx5-editor_<version>_<arch>.deb of everything `cmake --install` installs,
# under /usr. Its run-time dependencies come from the binaries
# (dpkg-shlibdeps), not from a list kept by hand.
set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kx5-editor)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR Velmar)
set(CPACK_PACKAGE_CONTACT "${KX5_PACKAGE_MAINTAINER}")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KX5_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_SECTION sound)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DESCRIPTION
    "editor and impulse-response loader for the KX-5 pedal
Edits the patches and system settings of the KX-5 guitar amp and
cabinet-simulator pedal over USB MIDI, and loads cabinet impulse responses
from WAV files into its eleven slots, showing each file before it goes in.
It backs up and restores the whole unit, decodes MIDI traffic in a monitor,
and works without a pedal on a simulated unit built into the program.")
include(CPack)
