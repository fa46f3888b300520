// Linked into every test executable of the sanitizer build.
//
// Shared libraries' initialisers run before main and keep what they allocate for the life of the
// process; GLib's first quark block is one, which it drops unfreed once GStreamer's type registrations
// outgrow it. Those libraries have no frame pointers, so a leak report's stack stops at their
// allocator and no suppression can tell such a block from a real leak. Allocations made while the
// libraries initialise are therefore left out of leak checking: the executable's pre-initialisers run
// before every shared library's initialisers, its own constructors after them.
#include <sanitizer/lsan_interface.h>

namespace {

void stopTrackingLeaks() {
    __lsan_disable();
}

__attribute__((constructor)) void resumeTrackingLeaks() {
    __lsan_enable();
}

}  // namespace

__attribute__((section(".preinit_array"),
               used)) static void (*const zuStopTrackingLeaks)() = stopTrackingLeaks;
