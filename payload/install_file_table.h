// The install file table: the name of the file that each segment of the
// payload becomes, by file index. Segment k is the file with index k.
#ifndef VELK_PAYLOAD_INSTALL_FILE_TABLE_H
#define VELK_PAYLOAD_INSTALL_FILE_TABLE_H

const int kInstallFileCount = 10;

extern const char* const InstallFileTable[kInstallFileCount];

// The table's name for `fileIndex`, or null when the index has no row.
const char* InstallFileName(int fileIndex);

#endif
