// The installing page's status line and its two bars, drawn straight onto
// the wizard's client area inside the rectangles of the (never shown) frame
// controls: a thin per-file bar that follows the decoder, and an overall bar
// with a percent figure that follows the read position in the installer.
#ifndef VELK_UI_PROGRESS_DISPLAY_H
#define VELK_UI_PROGRESS_DISPLAY_H

#include <windows.h>

#include <cstdint>
#include <cstdio>

#include "payload/lzhuf_decoder.h"
#include "resources/resource_ids.h"

const int kStatusControl = IDC_STATUS;
const int kFileBarControl = IDC_FILE_BAR;
const int kOverallBarControl = IDC_OVERALL_BAR;

const COLORREF kOverallFillColour = 0x008C4600; // RGB 0, 70, 140
const COLORREF kFileFillColour = 0x0064C800;    // RGB 0, 200, 100
const COLORREF kPercentTextColour = 0x000000FF;
const COLORREF kPercentBackColour = 0x00FFFFFF;

// "Scanning file: NAME.EXT" for the current file index once the overall bar
// has some fill, otherwise "Scanning files...", in the status control.
void UpdateStatusText();

// Redraws the overall bar; with a stream, first recomputes the fill from its
// position. `dc` may be null (a context of the wizard is taken and released).
void DrawOverallProgress(HDC dc, FILE* installer);

// Draws the per-file bar for `done` of `total` bytes.
void DrawFileProgress(HDC dc, uint32_t done, uint32_t total);

// The stream's length; its position is left where it was.
int32_t MeasureFileLength(FILE* stream);

// The decoder's hooks that drive the per-file bar of the wizard: its width,
// the report of each step (the first of a file draws the whole bar, later
// ones add what their fill adds: the bar looks as DrawFileProgress would
// draw it after every report), and the wipe after the file's last byte.
const DecodeProgress* FileBarProgress();

// Connects the decoder to the per-file bar of the wizard.
void ConnectDecoderToFileBar();

#endif
