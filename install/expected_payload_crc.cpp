// The expected CRC-32 of the payload, in the image's CRC place. The value
// compiled in is 0, which no payload has (the builder steers its checksum
// away from 0): an image whose place was never filled fails its check.
#include "install/payload_check.h"

#include "payload/crc_place.h"

const volatile uint32_t ExpectedPayloadCrc __attribute__((section(VELK_CRC_SECTION_NAME), used)) = 0;
