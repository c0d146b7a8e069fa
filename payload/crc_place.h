// The place of the payload's expected CRC-32 in the installer image: a PE
// section of its own with this name, holding the four bytes of the value,
// least significant first. The installer reads the value from there; the
// image builder finds the section by the section table and writes it, so
// that a new payload needs no compiler.
#ifndef VELK_PAYLOAD_CRC_PLACE_H
#define VELK_PAYLOAD_CRC_PLACE_H

// Eight characters: the name fits the section table's name field whole.
#define VELK_CRC_SECTION_NAME ".velkcrc"

const int kCrcPlaceSize = 4;

#endif
