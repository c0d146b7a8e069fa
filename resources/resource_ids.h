/* Resource and control ids of the installer, shared by the code and the
   resource scripts (so plain C preprocessor definitions only). */
#ifndef VELK_RESOURCE_IDS_H
#define VELK_RESOURCE_IDS_H

/* Icons */
#define IDI_MAIN 1   /* the main window's class icon */
#define IDI_WIZARD 2 /* painted at the top right of every page */

/* Raw data resources */
#define IDR_LICENCE 3
#define IDR_PAYLOAD 4

/* Folder chooser template and its own edit field; the other controls are
   the system open-file dialog's (1088 current folder, 1121 folder list,
   1137 drive list, 1152 file name) */
#define IDD_CHOOSE_FOLDER 1537
#define IDC_CHOSEN_FOLDER 102
#define IDC_CURRENT_FOLDER 1088
#define IDC_FOLDER_LIST 1121
#define IDC_DRIVE_LIST 1137
#define IDC_FILE_NAME 1152

/* Buttons and controls outside the page groups */
#define IDC_FORWARD 1 /* IDOK */
#define IDC_CANCEL 2  /* IDCANCEL */
#define IDC_ICON_PLACE 120
#define IDC_BACK 121

/* Welcome page */
#define IDC_WELCOME_GROUP 130
#define IDC_WELCOME_TEXT 130
#define IDC_WELCOME_RUNNING 131
#define IDC_WELCOME_CLOSE 132
#define IDC_WELCOME_CONTINUE 133

/* Licence page */
#define IDC_LICENCE_GROUP 140
#define IDC_LICENCE_INTRO 140
#define IDC_LICENCE_TEXT 141
#define IDC_LICENCE_QUESTION 142

/* Options page */
#define IDC_OPTIONS_GROUP 150
#define IDC_OPTIONS_INTRO 150
#define IDC_OPTIONS_BROWSE_HINT 151
#define IDC_FOLDER 152
#define IDC_BROWSE 153
#define IDC_FOLDER_FRAME 154
#define IDC_OPTIONS_HINT 155
#define IDC_BACKUP 156
#define IDC_KEEP_SETTINGS 157
#define IDC_SHORTCUTS 158
#define IDC_OPTIONS_READY 159

/* Installing page */
#define IDC_PROGRESS_GROUP 170
#define IDC_STATUS 170
#define IDC_FILE_BAR 171
#define IDC_PROGRESS_LABEL 172
#define IDC_OVERALL_BAR 173

/* Finish page */
#define IDC_FINISH_GROUP 180
#define IDC_FINISH_DONE 180
#define IDC_FINISH_RUN 181
#define IDC_FINISH_HELP_HINT 182
#define IDC_READ_HELP 183
#define IDC_LAUNCH 184
#define IDC_FINISH_CLOSE 185

#endif
