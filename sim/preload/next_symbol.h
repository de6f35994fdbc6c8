/* What a preload library's wrappers call on to: the C library's own function. */
#pragma once
#include <dlfcn.h>
#include <stdio.h>
#include <stdlib.h>

/* `name` as the next library after `library` defines it. A wrapper without the
 * function it wraps cannot do its job at all, so a missing one ends the process. */
static inline void* NextSymbol(const char* library, const char* name) {
    void* f = dlsym(RTLD_NEXT, name);
    if (!f) {
        fprintf(stderr, "%s: %s not found\n", library, name);
        abort();
    }
    return f;
}
