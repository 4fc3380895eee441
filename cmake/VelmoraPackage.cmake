# `make package`: a Debian package of what `cmake --install` puts in place,
# installed under /usr. Its library dependencies come from dpkg-shlibdeps.
set(VELMORA_PACKAGE_MAINTAINER "Velmora maintainers <maintainers@velmora.org>"
    CACHE STRING "Maintainer field of the Debian package")

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME velmora)
set(CPACK_PACKAGE_VENDOR "Orvane Strandel")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "software OTP token that keeps one-time passwords behind a PIN")
set(CPACK_PACKAGE_DESCRIPTION
    "Velmora is a small desktop window that holds HOTP and TOTP tokens (RFC 4226,
RFC 6238) and shows the one-time password of the selected one. Every start asks
for the PIN before a token can be used; tokens are installed from a serial and
an 18-digit seed.

velmora-seed makes and checks seeds and prints the key an OTP server needs.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_RELEASE 1)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER ${VELMORA_PACKAGE_MAINTAINER})
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# Qt's Wayland platform plugin: without it Velmora runs through XWayland in a
# Wayland session.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS qt6-wayland)
# Keyring protection keeps its store key in the desktop keyring; any Secret
# Service or KWallet does.
set(CPACK_DEBIAN_PACKAGE_SUGGESTS "gnome-keyring | libkf5wallet-bin")
# Named as well, since dpkg-shlibdeps finds them only in the programs that link
# them: QR codes in imported images are read with ZXing, the window draws a
# token's QR code with libqrencode, and the window and velmora-cli link
# QtKeychain for keyring protection.
set(CPACK_DEBIAN_PACKAGE_DEPENDS "libzxing2 (>= 1.4), libqrencode4 (>= 4.1), libqt6keychain1")
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
include(CPack)
