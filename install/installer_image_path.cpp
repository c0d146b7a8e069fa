#include "install/installer_image_path.h"

#include "install/install_state.h"

void GetInstallerImagePath(char* path)
{
    GetModuleFileNameA(GetModuleHandleA(NULL), path, kLongTextSize - 1);
}
