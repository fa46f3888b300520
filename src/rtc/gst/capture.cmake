# What the screen and window capture sources of the engine link: X11 and its extensions, libyuv.
target_link_libraries(zushare_zuwebrtc PUBLIC zushare_libyuv X11::X11 X11::Xrandr X11::Xext X11::Xfixes
                                              X11::Xcomposite)
