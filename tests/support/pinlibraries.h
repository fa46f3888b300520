#pragma once

#include <dlfcn.h>
#include <link.h>

#include <string>
#include <vector>

// Plug-ins and drivers that Qt loads for a display (xcb, GLX, Mesa) are unloaded at exit, and
// LeakSanitizer then reports their lasting one-time allocations as leaks of an unknown module that
// no suppression can name. Keeping every loaded library mapped lets the suppressions apply.
inline void pinLoadedLibraries() {
    std::vector<std::string> names;
    dl_iterate_phdr(
        [](dl_phdr_info *info, size_t, void *data) {
            if (info->dlpi_name && info->dlpi_name[0] != '\0')
                static_cast<std::vector<std::string> *>(data)->emplace_back(info->dlpi_name);
            return 0;
        },
        &names);
    // Not from inside the walk: it holds the loader's list lock, and a dlopen there waits for the
    // load lock that another thread's dlopen (a GStreamer or GL plug-in) may hold while it waits
    // for the list lock.
    for (const std::string &name : names)
        dlopen(name.c_str(), RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE);
}
