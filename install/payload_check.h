// The integrity check at the start of an installation: the installer reads
// its own image back, compares the CRC-32 of the payload's segments with the
// value in the image's CRC place and, when they agree, opens the image
// again for the extraction driver.
#ifndef VELK_INSTALL_PAYLOAD_CHECK_H
#define VELK_INSTALL_PAYLOAD_CHECK_H

#include <cstdint>
#include <cstdio>

// The CRC-32 of the payload this image carries, in its CRC place (see
// payload/crc_place.h), where the image builder writes it. Volatile: it is
// read from the image every time, never folded into the code.
extern const volatile uint32_t ExpectedPayloadCrc;

// The checksum scan of the file at `path`, from offset 0, with the wait
// cursor shown meanwhile. Returns 0 when the file cannot be opened or a
// read fails. `segments`, when not null, receives the number of segments
// seen.
uint32_t ScanPayloadCrc(const char* path, const char* marker, int* segments = NULL);

// True: the installer stream is open at offset 0, the status reads
// "Scanning files..." and the overall bar is drawn. False: message [2],
// [10] or [9] has been shown and no stream is open.
bool CheckPayload();

#endif
