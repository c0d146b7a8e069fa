#include "payload/install_file_table.h"

const char* const InstallFileTable[kInstallFileCount] = {
    "velk32.exe",   // the client executable
    "velk.hlp",     // the client's help file
    "ircintro.hlp", // introductory help file
    "readme.txt",
    "versions.txt", // version history
    "velk.ini",     // main settings file
    "aliases.ini",
    "popups.ini",
    "servers.ini",
    "urls.ini",
};

const char* InstallFileName(int fileIndex)
{
    if (fileIndex < 0 || fileIndex >= kInstallFileCount)
        return 0;
    return InstallFileTable[fileIndex];
}
