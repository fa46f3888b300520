#pragma once

#include <dlfcn.h>
#include <link.h>

// Plug-ins and drivers that Qt loads for a display (xcb, GLX, Mesa) are unloaded at exit, and
// LeakSanitizer then reports their lasting one-time allocations as leaks of an unknown module that
// no suppression can name. Keeping every loaded library mapped lets the suppressions apply.
inline void pinLoadedLibraries() {
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *) {
            if (info->dlpi_name && info->dlpi_name[0] != '\0')
                dlopen(info->dlpi_name, RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
            return 0;
        },
        nullptr);
}
