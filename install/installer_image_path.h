// Where the integrity check finds the installer's own image file.
#ifndef VELK_INSTALL_INSTALLER_IMAGE_PATH_H
#define VELK_INSTALL_INSTALLER_IMAGE_PATH_H

// Writes the full path of the installer's own module into `path`
// (kLongTextSize characters; at most kLongTextSize - 1 are requested).
//
// Defined in a source file of its own, so that a test program can link its
// own definition instead and point the check at another image.
void GetInstallerImagePath(char* path);

#endif
