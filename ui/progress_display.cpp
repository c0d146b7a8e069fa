#include "ui/progress_display.h"

#include "install/install_state.h"
#include "payload/lzhuf_decoder.h"

namespace {

// The control's window rectangle in the wizard's client coordinates.
RECT ControlClientRect(int id)
{
    RECT r = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(gInstall.wizard, id), &r);
    POINT topLeft = {r.left, r.top};
    POINT bottomRight = {r.right, r.bottom};
    ScreenToClient(gInstall.wizard, &topLeft);
    ScreenToClient(gInstall.wizard, &bottomRight);
    RECT c = {topLeft.x, topLeft.y, bottomRight.x, bottomRight.y};
    return c;
}

// Frames the bar, then splits its inside (one pixel in at every side) into a
// filled part of `fill` pixels from the left, clamped to the inner end, and
// the unfilled rest. Returns 1 when there is an unfilled part.
int FrameAndSplit(HDC dc, RECT* bar, int fill, RECT* filled, RECT* unfilled)
{
    if (dc) // without a context: only the split
        FrameRect(dc, bar, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    bar->top += 1;
    bar->bottom -= 1;
    *filled = *bar;
    *unfilled = *bar;
    filled->right = filled->left; // empty
    if (fill > 0) {
        filled->left = bar->left + 1;
        filled->right = bar->left + fill;
        if (bar->right - 1 <= bar->left + fill) {
            filled->right = bar->right - 1;
            return 0;
        }
        unfilled->left = bar->left + fill;
    } else {
        unfilled->left = bar->left + 1;
    }
    unfilled->right = bar->right - 1;
    return 1;
}

// The filled width of the per-file bar `bar` (client coordinates, frame
// included) for done of total bytes. Formed in 64 bits: width times done
// overflows 32 bits for files of some tens of megabytes.
int FileBarFill(const RECT& bar, uint32_t done, uint32_t total)
{
    uint64_t width = static_cast<uint32_t>(bar.right - bar.left);
    return total > 0 ? static_cast<int>(width * done / total) : 0;
}

// The per-file bar while one file is decoded. The decoder reports without
// handling a window message in between, so nothing but the reports draws on
// the bar from the first report of a file to the wipe after its last: the
// first report draws the whole bar, every later one only the part that its
// larger fill adds (done only grows), which leaves the bar looking exactly
// as a whole redraw would, for a fraction of the drawing.
struct FileBarSession {
    int drawn;      // the bar has been drawn whole since the file began
    RECT bar;       // its rectangle, frame included
    int filledEnd;  // right edge of the filled part as drawn
};
FileBarSession g_fileBar;

int FileBarWidth()
{
    g_fileBar.drawn = 0;
    RECT r = {0, 0, 0, 0};
    GetClientRect(GetDlgItem(gInstall.wizard, kFileBarControl), &r);
    return r.right - r.left;
}

void ReportFileProgress(uint32_t written, uint32_t length)
{
    if (!g_fileBar.drawn) {
        DrawFileProgress(NULL, written, length);
        g_fileBar.bar = ControlClientRect(kFileBarControl);
        RECT bar = g_fileBar.bar, filled, unfilled;
        HDC none = NULL;
        FrameAndSplit(none, &bar, FileBarFill(g_fileBar.bar, written, length), &filled, &unfilled);
        g_fileBar.filledEnd = filled.right > filled.left ? filled.right : filled.left;
        g_fileBar.drawn = 1;
        return;
    }
    RECT bar = g_fileBar.bar, filled, unfilled;
    HDC none = NULL;
    FrameAndSplit(none, &bar, FileBarFill(g_fileBar.bar, written, length), &filled, &unfilled);
    if (filled.right <= g_fileBar.filledEnd)
        return; // the bar already shows this fill
    RECT added = filled;
    if (added.left < g_fileBar.filledEnd)
        added.left = g_fileBar.filledEnd;
    HDC dc = GetDC(gInstall.wizard);
    if (!dc)
        return;
    HBRUSH brush = CreateSolidBrush(kFileFillColour);
    FillRect(dc, &added, brush);
    DeleteObject(brush);
    ReleaseDC(gInstall.wizard, dc);
    g_fileBar.filledEnd = filled.right;
}

// After the last byte of a file: the per-file bar's area is erased at once.
void WipeFileBar()
{
    g_fileBar.drawn = 0;
    RECT r = ControlClientRect(kFileBarControl);
    InvalidateRect(gInstall.wizard, &r, TRUE);
    UpdateWindow(gInstall.wizard);
}

const DecodeProgress kFileBarProgress = {FileBarWidth, ReportFileProgress, WipeFileBar};

} // namespace

void UpdateStatusText()
{
    BuildDestinationPath(gInstall.scratch, gInstall.fileIndex);
    SplitPathParts(gInstall.scratch);
    if (gInstall.overallFill > 0 && gInstall.namePart[0])
        wsprintfA(gInstall.scratch, "Scanning file: %s%s", gInstall.namePart, gInstall.extPart);
    else
        lstrcpyA(gInstall.scratch, "Scanning files...");
    SetDlgItemTextA(gInstall.wizard, kStatusControl, gInstall.scratch);
}

int32_t MeasureFileLength(FILE* stream)
{
    long saved = ftell(stream);
    fseek(stream, 0, SEEK_END);
    long length = ftell(stream);
    fseek(stream, saved, SEEK_SET);
    return static_cast<int32_t>(length);
}

void DrawOverallProgress(HDC dc, FILE* installer)
{
    if (installer && gInstall.installerFileLength == 0)
        gInstall.installerFileLength = MeasureFileLength(installer);

    RECT screen = {0, 0, 0, 0};
    GetWindowRect(GetDlgItem(gInstall.wizard, kOverallBarControl), &screen);
    if (installer && gInstall.installerFileLength > 0) {
        // Position times width fits 32 bits for images up to 2 GiB / width;
        // the product is formed in 64 bits so that larger ones cannot wrap.
        int64_t position = ftell(installer);
        gInstall.overallFill = static_cast<int32_t>(position * (screen.right - screen.left) /
                                                    gInstall.installerFileLength);
    }

    RECT bar = ControlClientRect(kOverallBarControl);
    HDC own = NULL;
    if (!dc) {
        dc = own = GetDC(gInstall.wizard);
        if (!dc)
            return;
    }
    RECT filled, unfilled;
    int width = bar.right - bar.left;
    int fill = gInstall.overallFill;
    int hasUnfilled = FrameAndSplit(dc, &bar, fill, &filled, &unfilled);
    if (filled.right > filled.left) {
        HBRUSH brush = CreateSolidBrush(GetNearestColor(dc, kOverallFillColour));
        FillRect(dc, &filled, brush);
        DeleteObject(brush);
    }
    if (hasUnfilled) {
        FillRect(dc, &unfilled, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
        COLORREF oldText = SetTextColor(dc, kPercentTextColour);
        COLORREF oldBack = SetBkColor(dc, kPercentBackColour);
        char text[16];
        if (fill <= 0)
            lstrcpyA(text, "0%");
        else
            wsprintfA(text, "%d%%", width > 0 ? fill * 100 / width : 0);
        RECT clip = unfilled;
        clip.left = unfilled.left + 4;
        int y = bar.top + (bar.bottom - bar.top) / 5;
        ExtTextOutA(dc, clip.left, y, ETO_CLIPPED, &clip, text, lstrlenA(text), NULL);
        SetTextColor(dc, oldText);
        SetBkColor(dc, oldBack);
    }
    if (own)
        ReleaseDC(gInstall.wizard, own);
}

void DrawFileProgress(HDC dc, uint32_t done, uint32_t total)
{
    HDC own = NULL;
    if (!dc) {
        dc = own = GetDC(gInstall.wizard);
        if (!dc)
            return;
    }
    RECT bar = ControlClientRect(kFileBarControl);
    int fill = FileBarFill(bar, done, total);
    RECT filled, unfilled;
    int hasUnfilled = FrameAndSplit(dc, &bar, fill, &filled, &unfilled);
    if (filled.right > filled.left) {
        HBRUSH brush = CreateSolidBrush(kFileFillColour);
        FillRect(dc, &filled, brush);
        DeleteObject(brush);
    }
    if (hasUnfilled)
        FillRect(dc, &unfilled, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    if (own)
        ReleaseDC(gInstall.wizard, own);
}

const DecodeProgress* FileBarProgress()
{
    return &kFileBarProgress;
}

void ConnectDecoderToFileBar()
{
    SetDecodeProgress(&kFileBarProgress);
}
