#include "shell/post_install.h"

int gFinishFlag = 0;
int gHelpFlag = 0;
int gLaunchFlag = 0;

void RunPostInstallActions()
{
    // The uninstall entry, the settings default, the launch and the help
    // follow with the post-install work; nothing is done here yet.
}
