// velkpack build as a whole on hostile stubs. Whatever the bytes, the stub
// check must end without a fault; a stub it accepts is then
// built into an installer for a small fixed payload, which must either be
// refused with a message or come out as an image that passes the build's
// own proof and is accepted as a stub again (the same check it started
// with), carrying the payload at its place.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "payload/install_file_table.h"
#include "tools/build_installer.h"
#include "tools/file_io.h"

namespace {

// Ten small files; the client a little longer, with bytes that begin the
// marker, so that the encoder's clean-segment repair has work.
void SetPayloadInputs(PackedPayload* payload)
{
    for (int k = 0; k < kInstallFileCount; k++) {
        PackedFile& file = payload->files[k];
        file.name = InstallFileTable[k];
        std::string text = k == 0 ? std::string("MZ client KW KWA K ") + std::string(200, 'x') : file.name + "\r\n";
        file.input.assign(text.begin(), text.end());
        file.stream.clear();
        file.variant = 0;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static InstallerBuild build;
    build = InstallerBuild();
    build.stub.assign(data, data + size);
    std::string error;
    int status = CheckInstallerStub("stub", &build, &error);
    if (status != ToolOk) {
        if (status != ToolMalformed || error.empty())
            abort(); // in memory, a stub is either a Velk image or refused
        return 0;
    }
    SetPayloadInputs(&build.payload);
    status = BuildInstallerImage(&build, &error);
    if (status != ToolOk) {
        if (error.empty())
            abort();
        return 0;
    }
    if (ProveInstallerImage(build.image, build.payload, build.licence, &error) != ToolOk)
        abort(); // built, yet it fails the proof
    static InstallerBuild again;
    again = InstallerBuild();
    again.stub = build.image;
    if (CheckInstallerStub("installer", &again, &error) != ToolOk)
        abort(); // an installer is a stub too
    return 0;
}
