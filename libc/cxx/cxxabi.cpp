// What the compiler's C++ code calls besides new and delete.
#include "fatal.h"

extern "C" {

// The handle that names this image to __cxa_atexit; a kivos image is never unloaded.
void *__dso_handle = nullptr;

// Destructors of globals and of static locals register here. exit runs no
// handlers, so, as with atexit, none is kept and none ever runs.
int __cxa_atexit(void (*)(void *), void *, void *) {
    return 0;
}

// Only a call made while an abstract class is being built or torn down gets here.
void __cxa_pure_virtual() {
    fatal_error({"pure virtual function called"});
}

}  // extern "C"
