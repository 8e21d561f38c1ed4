#pragma once
// Keeps every shared library loaded so far in memory until the process ends. Under LeakSanitizer,
// drivers and plug-ins that are unloaded at exit (GL, audio) would otherwise leave the memory they
// still hold looking leaked, from a module that can no longer be named.

namespace veraxo_test {

void pin_loaded_libraries();

} // namespace veraxo_test
