// Leaks the leak checker reports in the interface tests that are not ours: fontconfig keeps the
// font patterns it hands to Qt's font database in caches it never frees, and libdbus keeps a
// buffer from Qt's look for a status-notifier tray on the session bus.
extern "C" const char* __lsan_default_suppressions();

extern "C" const char* __lsan_default_suppressions() {
    return "leak:libfontconfig.so\n"
           "leak:libdbus-1.so\n";
}
