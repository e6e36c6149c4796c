// Fontconfig loses track of a few hundred bytes when Cairo first asks it for a font; the
// memory is not ours and does not grow with use. LeakSanitizer reads these suppressions from
// the program under test, so the programs that draw text link this file.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig.so\n"; }
