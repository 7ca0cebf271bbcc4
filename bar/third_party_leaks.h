// What LeakSanitizer should not report: libraries under Qt that keep their
// allocations until the process ends (fontconfig's configuration and caches,
// loaded by the font database; D-Bus data of the X11 platform). Include it
// once, in the file that holds main(); it is empty without the sanitizer.
#pragma once

#if defined(__SANITIZE_ADDRESS__)
extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}
// Without the table of suppressions used, which would land on stderr.
extern "C" const char* __lsan_default_options() { return "print_suppressions=0"; }
#endif
