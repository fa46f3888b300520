# Every dependency comes from Debian's packages (see scripts/packages.txt).
find_package(Qt5 5.15 REQUIRED COMPONENTS Core Gui Widgets Network WebSockets OpenGL Test Concurrent)
find_package(PkgConfig REQUIRED)
find_package(spdlog REQUIRED)
find_package(fmt REQUIRED)
pkg_check_modules(JSONCPP REQUIRED IMPORTED_TARGET jsoncpp)
find_library(LIBYUV_LIBRARY NAMES yuv REQUIRED)
find_path(LIBYUV_INCLUDE_DIR NAMES libyuv.h REQUIRED)
add_library(zushare_libyuv INTERFACE)
target_link_libraries(zushare_libyuv INTERFACE ${LIBYUV_LIBRARY})
target_include_directories(zushare_libyuv INTERFACE ${LIBYUV_INCLUDE_DIR})
# X11 screen and window capture: monitors (RandR), shared-memory images (Xext), covered windows
# (Composite) and the pointer (XFixes).
find_package(X11 REQUIRED)
foreach(zu_x11_part Xrandr Xext Xfixes Xcomposite)
    if(NOT TARGET X11::${zu_x11_part})
        string(TOLOWER ${zu_x11_part} zu_x11_pkg)
        message(FATAL_ERROR "X11 ${zu_x11_part} is missing: install the lib${zu_x11_pkg}-dev package")
    endif()
endforeach()
# Media engine: GStreamer 1.22 with webrtcbin and libnice; GIO for the desktop portal (Wayland capture).
pkg_check_modules(GST REQUIRED IMPORTED_TARGET gstreamer-1.0>=1.22 gstreamer-app-1.0 gstreamer-video-1.0
                  gstreamer-sdp-1.0 gstreamer-webrtc-1.0 gstreamer-rtp-1.0 gio-unix-2.0)
# User interface: pictures are rendered from SVG at build time; window tests drive the real pointer.
find_package(Qt5 5.15 REQUIRED COMPONENTS Svg)
# lrelease, which compiles the English texts into the program.
find_package(Qt5LinguistTools 5.15 REQUIRED)
pkg_check_modules(XTST IMPORTED_TARGET xtst x11)
find_package(Threads REQUIRED)
# File transfer digests (MD5 per chunk) through OpenSSL's EVP interface.
find_package(OpenSSL REQUIRED COMPONENTS Crypto)
# Browser attendees: the page's HTTP server and the QR code of its address.
pkg_check_modules(MICROHTTPD REQUIRED IMPORTED_TARGET libmicrohttpd)
pkg_check_modules(QRENCODE REQUIRED IMPORTED_TARGET libqrencode)
