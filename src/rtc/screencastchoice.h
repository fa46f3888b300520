#pragma once

// The screen or window the user chose in a Wayland desktop's picker, remembered in the program's
// settings through the portal's token so that the next share, in this run or a later one, does
// not ask again. Without a portal nothing is kept.
class ScreenCastChoice {
public:
    // A capturer of the engine, created with the remembered choice handed to the portal; the choice
    // it brings is kept for the next one.
    static int createCapturer();
    // The next capturer opens the desktop's picker; the remembered choice stays until one is made.
    static void askAgain();
};
