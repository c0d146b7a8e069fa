// velkpack build: a finished installer from a prebuilt stub (any installer
// image this project builds, i686 or x86_64), the ten files and a licence.
//
// The stub's resources are rebuilt with the licence as raw data 3 and the
// payload container as raw data 4 (the licence's data directly before the
// payload's), the sections after the resources move to make room, the
// payload's CRC-32 goes into the image's CRC place and the checksum is set.
// The result is proven before anyone writes it: it parses, its resources 3
// and 4 read back, a scan from offset 0 meets the first marker at the
// payload's start and finds exactly ten segments that decode back to the
// inputs, with the CRC that the CRC place holds.
#ifndef VELK_TOOLS_BUILD_INSTALLER_H
#define VELK_TOOLS_BUILD_INSTALLER_H

#include <cstdint>
#include <string>
#include <vector>

#include "tools/pack.h"
#include "tools/pe_image.h"
#include "tools/pe_resources.h"

// The most the wizard shows of the licence: it copies at most this many
// bytes of raw data 3 into its text box.
const size_t kMaxLicenceSize = 2900;

struct InstallerBuild {
    std::string stubPath;
    std::vector<uint8_t> stub;
    PeImage stubImage;
    std::vector<PeResource> stubResources;
    std::vector<uint8_t> licence; // the stub's raw data 3 unless replaced
    PackedPayload payload;        // read by ReadPayloadInputs, built here
    std::vector<uint8_t> image;   // the finished installer
};

// Reads the stub and checks that it is a Velk installer image: a PE file
// with the CRC place and raw data 3 and 4, one language each. The licence
// becomes the stub's. ToolOk; ToolIoError when it cannot be read;
// ToolMalformed ("STUB: not a Velk installer image: ...") otherwise.
int ReadInstallerStub(const std::string& path, InstallerBuild* build, std::string* error);

// Checks a licence text: not empty, at most kMaxLicenceSize bytes, plain
// text (no NUL or other control character but tab, and lines ended by
// CR LF, which the wizard's text box needs), no segment marker, and no
// proper prefix of the marker at its end (it would join the payload's
// first marker and hide it). 1 when sound, else 0 and `problem` says why.
int CheckLicence(const std::vector<uint8_t>& text, std::string* problem);

// Reads and checks the licence file that replaces the stub's.
int ReadLicence(const std::string& path, InstallerBuild* build, std::string* error);

// Builds the payload (steered away from checksums the image cannot hold)
// and the installer image, and proves it. ToolOk, or the failure.
int BuildInstallerImage(InstallerBuild* build, std::string* error);

// The proof of a finished installer image (also of a signed one).
int ProveInstallerImage(const std::vector<uint8_t>& image, const PackedPayload& payload,
                        const std::vector<uint8_t>& licence, std::string* error);

// Refuses an output path whose folder does not exist or that names one of
// the inputs (ToolIoError).
int CheckOutputPath(const std::string& output, const std::vector<std::string>& inputs,
                    std::string* error);

#endif
