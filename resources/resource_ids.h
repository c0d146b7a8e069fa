/* Resource and control ids of the installer, shared by the code and the
   resource scripts (so plain C preprocessor definitions only). */
#ifndef VELK_RESOURCE_IDS_H
#define VELK_RESOURCE_IDS_H

/* Raw data resources */
#define IDR_LICENCE 3
#define IDR_PAYLOAD 4

/* Installing page: status line and the two bars' frames */
#define IDC_STATUS 170
#define IDC_FILE_BAR 171
#define IDC_PROGRESS_LABEL 172
#define IDC_OVERALL_BAR 173

#endif
