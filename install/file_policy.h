// The existing-file policy: what happens to a file that already stands at a
// destination path before its segment is decoded there.
#ifndef VELK_INSTALL_FILE_POLICY_H
#define VELK_INSTALL_FILE_POLICY_H

// Returns Install (decode into the path; an existing file has been moved to
// the backup folder or will be overwritten), Skip (keep the existing file)
// or Error (message [6] or [7] has been shown). Leaves `destination` as is.
int ApplyExistingFilePolicy(const char* destination);

#endif
