#include "ui/folder_chooser.h"

bool ChooseFolder(HWND)
{
    // Browsing for a folder comes with the folder chooser dialog; until
    // then the folder field keeps what it shows.
    return false;
}
