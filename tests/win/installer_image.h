// The test programs' own definition of GetInstallerImagePath (linked in
// place of the installer's): the integrity check scans the image a test
// chose, or the program's own module when none is chosen.
#ifndef VELK_TESTS_WIN_INSTALLER_IMAGE_H
#define VELK_TESTS_WIN_INSTALLER_IMAGE_H

#include <string>

// Scan this file instead of the program's own module (null: the module
// again). The path is still stored and used like the module's.
void SetInstallerImageForTests(const char* path);

// The payload this program carries as its own raw data resource 4 (put
// there, with its CRC, by velkpack build); empty when it has none.
std::string OwnPayload();

#endif
