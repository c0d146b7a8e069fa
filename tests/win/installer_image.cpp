#include "tests/win/installer_image.h"

#include "install/install_state.h"
#include "install/installer_image_path.h"
#include "resources/resource_ids.h"

namespace {

char g_image[kLongTextSize];

} // namespace

void SetInstallerImageForTests(const char* path)
{
    lstrcpynA(g_image, path ? path : "", kLongTextSize);
}

void GetInstallerImagePath(char* path)
{
    if (g_image[0])
        lstrcpynA(path, g_image, kLongTextSize);
    else
        GetModuleFileNameA(GetModuleHandleA(NULL), path, kLongTextSize - 1);
}

std::string OwnPayload()
{
    HRSRC found = FindResourceA(NULL, MAKEINTRESOURCEA(IDR_PAYLOAD), RT_RCDATA);
    HGLOBAL loaded = found ? LoadResource(NULL, found) : NULL;
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : NULL;
    return data ? std::string(data, SizeofResource(NULL, found)) : std::string();
}
