// Linked into every test executable of the sanitizer build. Shared libraries' initialisers keep what
// they allocate for the process's life (GLib's first quark block, dropped unfreed once GStreamer's types
// outgrow it), and without frame pointers no suppression can tell that from a real leak. So nothing
// allocated before the executable's own constructors is leak-checked: its pre-initialisers run first.
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
