// Replaces one imported function of this program's own module (its import address table), so
// a child process can record exactly how the code under test called the platform.
#ifndef UPDATER_TESTS_SUPPORT_IMPORT_HOOK_H
#define UPDATER_TESTS_SUPPORT_IMPORT_HOOK_H

// Returns the original function, or nullptr when the module does not import it.
void* HookImport(const char* dll, const char* function, void* replacement);

#endif
