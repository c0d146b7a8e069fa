// The resources of the built installer, read back out of its image: the
// wizard template control by control, the two icons, the licence text and
// the payload with its place in the file.
#include <gtest/gtest.h>

#include "tests/test_files.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "resources/resource_ids.h"

#ifndef VELK_SETUP_EXE
#error "VELK_SETUP_EXE must name the installer built with these resources"
#endif

namespace {

// ---------------------------------------------------------------------------
// The image and its resources

// The installer, loaded once as a data file (its code never runs here).
HMODULE Image()
{
    static HMODULE image = LoadLibraryExA(VELK_SETUP_EXE, NULL, LOAD_LIBRARY_AS_DATAFILE);
    return image;
}

// A resource's bytes; empty when it is missing.
std::string ResourceBytes(LPCSTR type, LPCSTR name)
{
    HRSRC found = FindResourceA(Image(), name, type);
    if (!found)
        return std::string();
    HGLOBAL loaded = LoadResource(Image(), found);
    const char* data = loaded ? static_cast<const char*>(LockResource(loaded)) : NULL;
    if (!data)
        return std::string();
    return std::string(data, SizeofResource(Image(), found));
}

std::string ResourceBytes(LPCSTR type, int id)
{
    return ResourceBytes(type, MAKEINTRESOURCEA(id));
}

// Assembled from its pieces, as the installer does, so that this program's
// own image holds the marker nowhere.
std::string Marker()
{
    return std::string(kMarkerHead) + kMarkerTail;
}

class ResourcesTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(Image() != NULL) << "cannot load " << VELK_SETUP_EXE
                                     << " as a data file, error " << GetLastError();
    }
};

// ---------------------------------------------------------------------------
// A small reader of compiled dialog templates, classic and extended

struct DialogItem {
    uint32_t style;
    uint32_t exStyle;
    int x, y, cx, cy;
    uint32_t id;
    std::string className; // upper case; the predefined atoms by their names
    std::string text;
};

struct Dialog {
    bool extended;
    uint32_t style;
    uint32_t exStyle;
    int count;
    int x, y, cx, cy;
    std::string menu, className, caption;
    int pointSize;
    std::string font;
    std::vector<DialogItem> items;
};

class TemplateReader {
public:
    explicit TemplateReader(const std::string& bytes) : data_(bytes), pos_(0), ok_(true) {}

    bool ok() const { return ok_; }

    uint16_t Word()
    {
        uint16_t value = 0;
        Take(&value, 2);
        return value;
    }
    uint32_t Dword()
    {
        uint32_t value = 0;
        Take(&value, 4);
        return value;
    }
    int Short() { return static_cast<int16_t>(Word()); }

    // A NUL-terminated UTF-16 string, narrowed (the texts are plain ASCII).
    std::string String()
    {
        std::string text;
        for (uint16_t c = Word(); ok_ && c != 0; c = Word())
            text += c < 0x80 ? static_cast<char>(c) : '?';
        return text;
    }

    // A string or an ordinal (0xFFFF followed by the number), as "#number".
    std::string NameOrOrdinal()
    {
        uint16_t first = Word();
        if (first == 0)
            return std::string();
        if (first == 0xFFFF)
            return "#" + std::to_string(Word());
        std::string text(1, first < 0x80 ? static_cast<char>(first) : '?');
        return text + String();
    }

    void AlignDword() { pos_ = (pos_ + 3) & ~static_cast<size_t>(3); }
    void Skip(size_t n) { Take(NULL, n); }

private:
    void Take(void* out, size_t n)
    {
        if (!ok_ || pos_ + n > data_.size()) {
            ok_ = false;
            return;
        }
        if (out)
            memcpy(out, data_.data() + pos_, n);
        pos_ += n;
    }

    const std::string& data_;
    size_t pos_;
    bool ok_;
};

// The control classes a template may give as atoms.
std::string ClassName(const std::string& nameOrOrdinal)
{
    static const struct {
        const char* ordinal;
        const char* name;
    } atoms[] = {{"#128", "BUTTON"}, {"#129", "EDIT"},      {"#130", "STATIC"},
                 {"#131", "LISTBOX"}, {"#132", "SCROLLBAR"}, {"#133", "COMBOBOX"}};
    for (const auto& atom : atoms)
        if (nameOrOrdinal == atom.ordinal)
            return atom.name;
    std::string upper = nameOrOrdinal;
    for (char& c : upper)
        c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
    return upper;
}

bool ParseDialog(const std::string& bytes, Dialog* dialog)
{
    TemplateReader in(bytes);
    uint16_t version = in.Word();
    uint16_t signature = in.Word();
    dialog->extended = version == 1 && signature == 0xFFFF;
    if (dialog->extended) {
        in.Dword(); // help id
        dialog->exStyle = in.Dword();
        dialog->style = in.Dword();
    } else {
        dialog->style = version | static_cast<uint32_t>(signature) << 16;
        dialog->exStyle = in.Dword();
    }
    dialog->count = in.Word();
    dialog->x = in.Short();
    dialog->y = in.Short();
    dialog->cx = in.Short();
    dialog->cy = in.Short();
    dialog->menu = in.NameOrOrdinal();
    dialog->className = in.NameOrOrdinal();
    dialog->caption = in.String();
    dialog->pointSize = 0;
    if (dialog->style & DS_SETFONT) {
        dialog->pointSize = in.Word();
        if (dialog->extended)
            in.Skip(4); // weight, italic, character set
        dialog->font = in.String();
    }
    for (int i = 0; i < dialog->count && in.ok(); i++) {
        DialogItem item;
        in.AlignDword();
        if (dialog->extended) {
            in.Dword(); // help id
            item.exStyle = in.Dword();
            item.style = in.Dword();
        } else {
            item.style = in.Dword();
            item.exStyle = in.Dword();
        }
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = dialog->extended ? in.Dword() : in.Word();
        item.className = ClassName(in.NameOrOrdinal());
        item.text = in.NameOrOrdinal();
        in.Skip(in.Word()); // creation data
        dialog->items.push_back(item);
    }
    return in.ok();
}

// ---------------------------------------------------------------------------
// The wizard template

// Style groups of the wizard's controls.
const uint32_t kText = 0x50020000;     // visible left-aligned static text
const uint32_t kCheck = 0x50010003;    // automatic check box, tab stop
const uint32_t kPush = 0x50010000;     // push button, tab stop
const uint32_t kDefPush = 0x50010001;  // default push button
const uint32_t kFrame = 0x50000007;    // group box
const uint32_t kLicence = 0x50A10844;  // multi-line read-only edit, border, scroll bar
const uint32_t kHidden = 0x48800000;   // hidden, disabled static with border

struct ExpectedItem {
    uint32_t id;
    const char* className;
    uint32_t style;
    int x, y, cx, cy;
    const char* text; // NULL: any text (replaced at start)
};

// The 31 controls in template (tab) order.
const ExpectedItem kWizardItems[] = {
    {180, "STATIC", kText, 13, 862, 126, 11, "Installation of Velk was successful!"},
    {181, "STATIC", kText, 13, 881, 181, 18,
     "After you close this window, you can run Velk, connect to the internet, and start chatting!"},
    {182, "STATIC", kText, 13, 907, 185, 27,
     "If you are new to Velk, you might want to read the first few sections of the Velk help "
     "file before you start. The sections are short and give a good general introduction."},
    {183, "BUTTON", kCheck, 22, 938, 81, 12, "&Read Velk Help file"},
    {184, "BUTTON", kCheck, 22, 952, 81, 12, "&Launch Velk"},
    {185, "STATIC", kText, 13, 973, 186, 11, "To end the installation, please click the Finish button."},
    {120, "STATIC", kHidden, 187, 10, 21, 20, ""},
    {121, "BUTTON", kPush, 83, 162, 40, 16, "< &Back"},
    {1, "BUTTON", kDefPush, 127, 162, 40, 16, "&Next >"},
    {2, "BUTTON", kPush, 174, 162, 40, 16, "Cancel"},
    {130, "STATIC", kText, 13, 233, 144, 27, NULL},
    {131, "STATIC", kText, 13, 267, 194, 19,
     "If you have a previous copy of Velk installed, please make sure that it is not running "
     "during the installation."},
    {132, "STATIC", kText, 13, 294, 196, 20,
     "It is also advised that you close all other applications before installing Velk."},
    {140, "STATIC", kText, 13, 361, 166, 28,
     "Please read the following license agreement before installing Velk. You can scroll down "
     "to view the rest of the agreement."},
    {141, "EDIT", kLicence, 11, 390, 201, 93, ""},
    {142, "STATIC", kText, 13, 487, 187, 20,
     "Do you accept the terms of this license agreement? If you do, please click the Yes "
     "button, otherwise click No."},
    {150, "STATIC", kText, 13, 565, 172, 10, "Velk will be installed into the folder shown below."},
    {151, "STATIC", kText, 13, 581, 169, 19,
     "If you would like to install Velk into a different folder, click on browse and select a "
     "new folder."},
    {154, "BUTTON", kFrame, 11, 603, 200, 27, "Destination folder:"},
    {152, "STATIC", kText, 17, 615, 156, 9, ""},
    {153, "BUTTON", kPush, 175, 612, 32, 14, "&Browse"},
    {155, "STATIC", kText, 13, 637, 150, 10, "You can also change the following options:"},
    {156, "BUTTON", kCheck, 32, 649, 147, 12, "&Make Backups of any existing Velk files"},
    {157, "BUTTON", kCheck, 32, 662, 181, 12, "&Keep your existing Velk settings and ini files"},
    {158, "BUTTON", kCheck, 32, 675, 105, 12, "&Create Velk Shortcut icons"},
    {159, "STATIC", kText, 22, 692, 173, 17,
     "Once you're ready to install Velk, click the Install button to continue, or click Cancel "
     "to exit."},
    {170, "STATIC", kText, 47, 759, 102, 10, "Scanning..."},
    {171, "BUTTON", kFrame, 44, 770, 107, 3, ""},
    {172, "STATIC", kText, 47, 776, 72, 10, "Install Progress:"},
    {173, "BUTTON", kFrame, 44, 786, 107, 18, ""},
    {133, "STATIC", kText, 13, 321, 186, 11, "To continue, please click the Next button."},
};
const int kWizardItemCount = sizeof kWizardItems / sizeof kWizardItems[0];

// The compiled wizard template, parsed once.
const Dialog* Wizard()
{
    static Dialog dialog;
    static bool parsed = false, valid = false;
    if (!parsed) {
        parsed = true;
        std::string bytes = ResourceBytes(RT_DIALOG, "INSTALL_DLG");
        valid = !bytes.empty() && ParseDialog(bytes, &dialog);
    }
    return valid ? &dialog : NULL;
}

TEST_F(ResourcesTest, WizardTemplateHeader)
{
    const Dialog* dialog = Wizard();
    ASSERT_TRUE(dialog != NULL) << "INSTALL_DLG is missing or truncated";
    EXPECT_EQ(0x90C800C4u, dialog->style);
    EXPECT_EQ(0u, dialog->exStyle);
    EXPECT_EQ(31, dialog->count);
    EXPECT_EQ(33, dialog->x);
    EXPECT_EQ(26, dialog->y);
    EXPECT_EQ(222, dialog->cx);
    EXPECT_EQ(183, dialog->cy);
    EXPECT_EQ("", dialog->menu);
    EXPECT_EQ("", dialog->className);
    EXPECT_EQ("Velk Installer", dialog->caption);
    EXPECT_EQ(8, dialog->pointSize);
    EXPECT_EQ("MS Sans Serif", dialog->font);
}

TEST_F(ResourcesTest, WizardControlIdsAreUnique)
{
    const Dialog* dialog = Wizard();
    ASSERT_TRUE(dialog != NULL);
    for (size_t i = 0; i < dialog->items.size(); i++)
        for (size_t j = i + 1; j < dialog->items.size(); j++)
            EXPECT_NE(dialog->items[i].id, dialog->items[j].id) << "controls " << i << " and " << j;
}

class WizardControlTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { ASSERT_TRUE(Image() != NULL) << "cannot load " << VELK_SETUP_EXE; }
};

// Control n of the template, against row n of the table.
TEST_P(WizardControlTest, MatchesTable)
{
    const Dialog* dialog = Wizard();
    ASSERT_TRUE(dialog != NULL) << "INSTALL_DLG is missing or truncated";
    const int n = GetParam();
    const ExpectedItem& want = kWizardItems[n];
    ASSERT_LT(n, static_cast<int>(dialog->items.size()));
    const DialogItem& got = dialog->items[n];
    EXPECT_EQ(want.id, got.id);
    EXPECT_EQ(want.className, got.className);
    EXPECT_EQ(want.style, got.style) << std::hex << "0x" << want.style << " wanted, 0x" << got.style;
    EXPECT_EQ(0u, got.exStyle);
    EXPECT_EQ(want.x, got.x);
    EXPECT_EQ(want.y, got.y);
    EXPECT_EQ(want.cx, got.cx);
    EXPECT_EQ(want.cy, got.cy);
    if (want.text) {
        EXPECT_EQ(want.text, got.text);
    }
}

INSTANTIATE_TEST_SUITE_P(InstallDlg, WizardControlTest, ::testing::Range(0, kWizardItemCount),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Id" + std::to_string(kWizardItems[info.param].id);
                         });

// ---------------------------------------------------------------------------
// Icons 1 and 2: 32 by 32, 16 colours

#pragma pack(push, 2)
struct GroupIconHeader {
    uint16_t reserved, type, count;
};
struct GroupIconEntry {
    uint8_t width, height, colourCount, reserved;
    uint16_t planes, bitCount;
    uint32_t bytesInRes;
    uint16_t id;
};
#pragma pack(pop)

class IconTest : public ::testing::TestWithParam<int> {
protected:
    void SetUp() override { ASSERT_TRUE(Image() != NULL) << "cannot load " << VELK_SETUP_EXE; }
};

TEST_P(IconTest, IsOne32By32ImageOf16Colours)
{
    std::string group = ResourceBytes(RT_GROUP_ICON, GetParam());
    ASSERT_EQ(sizeof(GroupIconHeader) + sizeof(GroupIconEntry), group.size());
    GroupIconHeader header;
    GroupIconEntry entry;
    memcpy(&header, group.data(), sizeof header);
    memcpy(&entry, group.data() + sizeof header, sizeof entry);
    EXPECT_EQ(0, header.reserved);
    EXPECT_EQ(1, header.type);
    ASSERT_EQ(1, header.count);
    EXPECT_EQ(32, entry.width);
    EXPECT_EQ(32, entry.height);
    EXPECT_EQ(16, entry.colourCount);
    EXPECT_EQ(1, entry.planes);
    EXPECT_EQ(4, entry.bitCount);

    // Header, 16 palette entries, the 4-bit colour bitmap and the 1-bit mask.
    std::string image = ResourceBytes(RT_ICON, entry.id);
    ASSERT_EQ(40u + 16 * 4 + 32 * 32 / 2 + 32 * 4, image.size());
    EXPECT_EQ(entry.bytesInRes, image.size());
    BITMAPINFOHEADER bitmap;
    memcpy(&bitmap, image.data(), sizeof bitmap);
    EXPECT_EQ(40u, bitmap.biSize);
    EXPECT_EQ(32, bitmap.biWidth);
    EXPECT_EQ(64, bitmap.biHeight); // colour bitmap and mask
    EXPECT_EQ(1, bitmap.biPlanes);
    EXPECT_EQ(4, bitmap.biBitCount);
    EXPECT_EQ(static_cast<DWORD>(BI_RGB), bitmap.biCompression);

    // The system accepts it as a 32 by 32 icon.
    HICON icon = CreateIconFromResourceEx(reinterpret_cast<BYTE*>(&image[0]),
                                          static_cast<DWORD>(image.size()), TRUE, 0x00030000, 32,
                                          32, LR_DEFAULTCOLOR);
    ASSERT_TRUE(icon != NULL) << "error " << GetLastError();
    ICONINFO info;
    ASSERT_TRUE(GetIconInfo(icon, &info));
    BITMAP colours;
    ASSERT_TRUE(GetObjectA(info.hbmColor, sizeof colours, &colours));
    EXPECT_EQ(32, colours.bmWidth);
    EXPECT_EQ(32, colours.bmHeight);
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);
    DestroyIcon(icon);
}

INSTANTIATE_TEST_SUITE_P(Installer, IconTest, ::testing::Values(IDI_MAIN, IDI_WIZARD),
                         [](const ::testing::TestParamInfo<int>& info) {
                             return "Icon" + std::to_string(info.param);
                         });

TEST_F(ResourcesTest, TheTwoIconsDiffer)
{
    std::string group1 = ResourceBytes(RT_GROUP_ICON, IDI_MAIN);
    std::string group2 = ResourceBytes(RT_GROUP_ICON, IDI_WIZARD);
    ASSERT_EQ(sizeof(GroupIconHeader) + sizeof(GroupIconEntry), group1.size());
    ASSERT_EQ(group1.size(), group2.size());
    GroupIconEntry entry1, entry2;
    memcpy(&entry1, group1.data() + sizeof(GroupIconHeader), sizeof entry1);
    memcpy(&entry2, group2.data() + sizeof(GroupIconHeader), sizeof entry2);
    EXPECT_NE(ResourceBytes(RT_ICON, entry1.id), ResourceBytes(RT_ICON, entry2.id));
}

// ---------------------------------------------------------------------------
// The licence text: raw data 3

std::vector<std::string> SplitCrLf(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    for (;;) {
        size_t end = text.find("\r\n", start);
        lines.push_back(text.substr(start, end == std::string::npos ? end : end - start));
        if (end == std::string::npos)
            return lines;
        start = end + 2;
    }
}

TEST_F(ResourcesTest, LicenceIsPlainTextOf22LinesEndingWithStars)
{
    std::string licence = ResourceBytes(RT_RCDATA, IDR_LICENCE);
    ASSERT_FALSE(licence.empty()) << "raw data 3 is missing";
    EXPECT_GE(licence.size(), 1900u);
    EXPECT_LE(licence.size(), 2300u);
    // The wizard copies at most 2900 bytes and cuts at the first "***".
    EXPECT_LT(licence.size(), 2900u);
    EXPECT_EQ(licence.size() - 3, licence.find("***")) << "the only \"***\" ends the text";

    // Plain text: printable characters and CR LF pairs only, no NUL.
    for (size_t i = 0; i < licence.size(); i++) {
        unsigned char c = static_cast<unsigned char>(licence[i]);
        if (c == '\r')
            EXPECT_TRUE(i + 1 < licence.size() && licence[i + 1] == '\n') << "lone CR at " << i;
        else if (c == '\n')
            EXPECT_TRUE(i > 0 && licence[i - 1] == '\r') << "lone LF at " << i;
        else
            EXPECT_GE(c, 0x20) << "control character " << static_cast<int>(c) << " at " << i;
    }

    std::vector<std::string> lines = SplitCrLf(licence);
    ASSERT_EQ(22u, lines.size());
    EXPECT_EQ("***", lines.back());
    // Paragraphs separated by single empty lines.
    EXPECT_FALSE(lines.front().empty());
    for (size_t i = 1; i < lines.size(); i++)
        EXPECT_FALSE(lines[i].empty() && lines[i - 1].empty()) << "two empty lines at " << i;
}

// ---------------------------------------------------------------------------
// The payload: raw data 4, a container of ten segments at its place

class TempFile {
public:
    TempFile()
    {
        char folder[MAX_PATH];
        GetTempPathA(MAX_PATH, folder);
        GetTempFileNameA(folder, "vrt", 0, path_);
    }
    ~TempFile() { DeleteFileA(path_); }
    const char* path() const { return path_; }

private:
    char path_[MAX_PATH];
};

uint32_t ScanFile(const char* path, PayloadScanReport* report)
{
    memset(report, 0, sizeof *report);
    FILE* f = fopen(path, "rb");
    if (!f) {
        report->readError = 1;
        return 0;
    }
    uint32_t crc = ScanPayloadStream(f, Marker().c_str(), report);
    fclose(f);
    return crc;
}

TEST_F(ResourcesTest, PayloadIsAContainerOfTenSegments)
{
    std::string payload = ResourceBytes(RT_RCDATA, IDR_PAYLOAD);
    ASSERT_GT(payload.size(), 8u) << "raw data 4 is missing";
    EXPECT_EQ(Marker(), payload.substr(0, 4));
    // Closed by the final pair of markers and a line end.
    EXPECT_EQ(Marker() + Marker() + "\r\n", payload.substr(payload.size() - 10));

    TempFile copy;
    FILE* f = fopen(copy.path(), "wb");
    ASSERT_TRUE(f != NULL) << copy.path();
    ASSERT_EQ(payload.size(), fwrite(payload.data(), 1, payload.size(), f));
    fclose(f);

    PayloadScanReport report;
    uint32_t crc = ScanFile(copy.path(), &report);
    EXPECT_EQ(0, report.readError);
    EXPECT_TRUE(report.firstMarkerFound);
    EXPECT_TRUE(report.finalPairFound);
    EXPECT_EQ(0, report.pendingAtEnd);
    ASSERT_EQ(10, report.segmentCount);
    EXPECT_EQ(4, report.segmentOffset[0]);
    EXPECT_NE(0u, crc);
}

// The installer scans its own file from the start: the image before the
// payload must hold no marker, so the first segment is the payload's first.
TEST_F(ResourcesTest, PayloadIsTheFirstContainerInTheImageFile)
{
    std::string payload = ResourceBytes(RT_RCDATA, IDR_PAYLOAD);
    ASSERT_GT(payload.size(), 8u) << "raw data 4 is missing";
    std::string file = ReadFileBytes(VELK_SETUP_EXE);
    ASSERT_FALSE(file.empty()) << VELK_SETUP_EXE;

    const size_t where = file.find(payload);
    ASSERT_NE(std::string::npos, where) << "the payload's bytes are not in the file as they are";
    EXPECT_EQ(where, file.find(Marker())) << "a marker stands before the payload";

    // The licence's data ends directly before the payload's, but for the
    // resource section's alignment.
    std::string licence = ResourceBytes(RT_RCDATA, IDR_LICENCE);
    ASSERT_FALSE(licence.empty());
    const size_t licenceAt = file.find(licence);
    ASSERT_NE(std::string::npos, licenceAt);
    ASSERT_LE(licenceAt + licence.size(), where);
    const std::string between = file.substr(licenceAt + licence.size(), where - licenceAt - licence.size());
    EXPECT_LT(between.size(), 8u);
    EXPECT_EQ(std::string(between.size(), '\0'), between);

    PayloadScanReport inFile;
    uint32_t fileCrc = ScanFile(VELK_SETUP_EXE, &inFile);
    EXPECT_EQ(0, inFile.readError);
    EXPECT_TRUE(inFile.finalPairFound);
    ASSERT_EQ(10, inFile.segmentCount);
    EXPECT_EQ(static_cast<long>(where) + 4, inFile.segmentOffset[0]);

    // The same ten segments, with the same checksum, as in the payload alone.
    TempFile copy;
    FILE* f = fopen(copy.path(), "wb");
    ASSERT_TRUE(f != NULL) << copy.path();
    fwrite(payload.data(), 1, payload.size(), f);
    fclose(f);
    PayloadScanReport alone;
    uint32_t aloneCrc = ScanFile(copy.path(), &alone);
    ASSERT_EQ(10, alone.segmentCount);
    EXPECT_EQ(aloneCrc, fileCrc);
    for (int i = 0; i < 10; i++) {
        SCOPED_TRACE("segment " + std::to_string(i));
        EXPECT_EQ(alone.segmentOffset[i] + static_cast<long>(where), inFile.segmentOffset[i]);
        EXPECT_EQ(alone.segmentSize[i], inFile.segmentSize[i]);
    }
}

} // namespace
