// The integrity check at the start of an installation: the installer reads
// its own image back, compares the CRC-32 of the payload's segments with the
// value built into it and, when they agree, opens the image again for the
// extraction driver.
#ifndef VELK_PAYLOAD_PAYLOAD_CHECK_H
#define VELK_PAYLOAD_PAYLOAD_CHECK_H

#include <cstdint>

// The CRC-32 of the payload this program carries; defined by the one source
// file that includes the header velkpack wrote for that payload.
extern const uint32_t ExpectedPayloadCrc;

// True: the installer stream is open at offset 0, the status reads
// "Scanning files..." and the overall bar is drawn. False: message [2],
// [10] or [9] has been shown and no stream is open.
bool CheckPayload();

// Tests only: scan this file instead of the program's own module (null:
// the module again). The path is still stored and used like the module's.
void SetInstallerImageForTests(const char* path);

#endif
