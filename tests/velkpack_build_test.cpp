// velkpack build as a release engineer runs it: the real program, on small
// real stubs (MinGW programs for i686 and x86_64 with the CRC place and an
// installer's resources), with real files; signing with a throwaway
// certificate through the real osslsigncode.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

#include "payload/crc_place.h"
#include "payload/install_file_table.h"
#include "payload/marker_matcher.h"
#include "payload/payload_scan.h"
#include "tests/test_files.h"
#include "tools/file_io.h"
#include "tools/pack.h"
#include "tools/pe_image.h"
#include "tools/pe_resources.h"

namespace {

typedef std::vector<uint8_t> Bytes;

struct CliRun {
    int status;
    std::string output; // standard output and standard error
};

// Runs a command line through the shell, its output through a file.
CliRun Shell(const std::string& command, const std::string& outputFile)
{
    int status = system(("(" + command + ") >'" + outputFile + "' 2>&1").c_str());
    CliRun run = {WIFEXITED(status) ? WEXITSTATUS(status) : -1, ReadFileBytes(outputFile)};
    remove(outputFile.c_str());
    return run;
}

int Lines(const std::string& text)
{
    int n = 0;
    for (char c : text)
        n += c == '\n';
    return n;
}

bool Exists(const std::string& path)
{
    struct stat info;
    return stat(path.c_str(), &info) == 0;
}

Bytes ReadBytes(const std::string& path)
{
    std::string data = ReadFileBytes(path);
    return Bytes(data.begin(), data.end());
}

void WriteBytes(const std::string& path, const Bytes& data)
{
    ASSERT_TRUE(WriteFileBytes(path, std::string(data.begin(), data.end()))) << path;
}

std::string Marker()
{
    char marker[kMarkerBufferSize];
    AssembleMarker(marker);
    return marker;
}

// An image read with the builder's own PE reader.
struct Image {
    Bytes file;
    PeImage pe;
    std::vector<PeResource> resources;
    bool ok = false;
};

Image Load(const std::string& path)
{
    Image image;
    image.file = ReadBytes(path);
    std::string error;
    image.ok = ParsePeImage(image.file, &image.pe, &error) == ToolOk &&
               ReadPeResources(image.file, image.pe, &image.resources, &error) == ToolOk;
    EXPECT_TRUE(image.ok) << path << ": " << error;
    return image;
}

Bytes SectionBytes(const Image& image, size_t index)
{
    const PeSection& s = image.pe.sections[index];
    return Bytes(image.file.begin() + s.rawPointer, image.file.begin() + s.rawPointer + s.rawSize);
}

int ResourceSection(const Image& image)
{
    return PeSectionOfRva(image.pe, image.pe.directories[PeResourceDirectory].rva);
}

const PeResource* RawData(const Image& image, uint32_t id)
{
    std::vector<const PeResource*> found = FindPeResources(image.resources, kPeResourceRcData, id);
    return found.size() == 1 ? found[0] : NULL;
}

uint32_t CrcPlace(const Image& image)
{
    int place = FindPeSection(image.pe, VELK_CRC_SECTION_NAME);
    return place < 0 ? 0 : PeRead32(image.file, image.pe.sections[place].rawPointer);
}

// zlib's CRC-32 of the segments, found by the marker in the file.
uint32_t ZlibCrcOfSegments(const Bytes& file)
{
    std::string bytes(file.begin(), file.end());
    const std::string marker = Marker();
    size_t at = bytes.find(marker);
    if (at == std::string::npos)
        return 0;
    at += 4;
    std::string joined;
    for (int k = 0; k < kInstallFileCount; k++) {
        size_t next = bytes.find(marker, at);
        if (next == std::string::npos)
            return 0;
        joined += bytes.substr(at, next - at);
        at = next + 4;
    }
    return static_cast<uint32_t>(crc32(0L, reinterpret_cast<const Bytef*>(joined.data()),
                                       static_cast<uInt>(joined.size())));
}

// A licence as the wizard wants it: CR LF lines, ending with "***".
std::string LicenceText()
{
    std::string text = "LICENCE OF THE FIXTURE INSTALLER\r\n\r\n";
    for (int i = 1; i <= 20; i++)
        text += "Paragraph " + std::to_string(i) + ": the fixture may be installed and removed freely.\r\n";
    return text + "\r\n***";
}

const char* const kStubs[] = {STUB_I686, STUB_X86_64};

class VelkpackBuild : public ::testing::Test {
protected:
    std::string dir, inputs, licence, temp;

    void SetUp() override
    {
        char name[] = "/tmp/velkpack-build.XXXXXX";
        ASSERT_TRUE(mkdtemp(name) != NULL);
        dir = name;
        temp = dir + "/tmp";
        ASSERT_EQ(0, mkdir(temp.c_str(), 0700));
        inputs = CopyOfPayloadDir("inputs");
        licence = dir + "/licence.txt";
        ASSERT_TRUE(WriteFileBytes(licence, LicenceText()));
    }
    void TearDown() override { ASSERT_EQ(0, system(("rm -rf '" + dir + "'").c_str())); }

    // The sample payload's texts with a real program of this machine as
    // the client, in a folder of its own.
    std::string CopyOfPayloadDir(const std::string& name)
    {
        std::string copy = dir + "/" + name;
        std::string source = std::string(getenv("VELK_SOURCE_DIR")) + "/resources/payload";
        EXPECT_EQ(0, system(("cp -r '" + source + "' '" + copy + "' && cp /bin/true '" + copy + "/velk32.exe'").c_str()));
        return copy;
    }
    // velkpack, with its temporary files in this test's folder; `env`
    // prefixes the command (such as "PATH=/nonexistent").
    CliRun Velkpack(const std::string& args, const std::string& env = "")
    {
        return Shell(env + " TMPDIR='" + temp + "' " + VELKPACK_PATH + " " + args, dir + "/.output");
    }
    CliRun Build(const std::string& stub, const std::string& out, const std::string& more = "")
    {
        return Velkpack("build " + inputs + " --stub " + stub + " -o " + out + " " + more);
    }
    int Entries(const std::string& folder)
    {
        CliRun ls = Shell("ls -A '" + folder + "' | wc -l", dir + "/.count");
        return atoi(ls.output.c_str());
    }
    // A throwaway self-signed code signing certificate with its key in
    // CERT.p12 under the password in PASS (none when `password` is empty);
    // the certificate alone in CERT.pem.
    void MakeCertificate(const std::string& base, const std::string& password)
    {
        std::string command = "cd '" + dir + "' && openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=Velk Test Signer'"
                              " -addext extendedKeyUsage=codeSigning -keyout " + base + ".key -out " + base + ".pem"
                              " && openssl pkcs12 -export -inkey " + base + ".key -in " + base + ".pem -out " + base +
                              ".p12 -passout 'pass:" + password + "'";
        ASSERT_EQ(0, Shell(command, dir + "/.openssl").status);
        ASSERT_TRUE(WriteFileBytes(dir + "/" + base + ".pass", password + "\n"));
    }
};

class BuildFromStub : public VelkpackBuild, public ::testing::WithParamInterface<const char*> {};

TEST_P(BuildFromStub, GivesAProvenConsistentInstaller)
{
    const std::string stubPath = GetParam(), out = dir + "/setup.exe";
    CliRun run = Build(stubPath, out, "--licence " + licence);
    ASSERT_EQ(0, run.status) << run.output;
    for (int k = 0; k < kInstallFileCount; k++)
        EXPECT_NE(std::string::npos, run.output.find(InstallFileTable[k])) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("installer: " + out)) << run.output;

    // binutils reads it as a PE image of the stub's machine.
    const bool is64 = stubPath == STUB_X86_64;
    CliRun objdump = Shell(std::string(is64 ? "x86_64" : "i686") + "-w64-mingw32-objdump -h -p " + out, dir + "/.objdump");
    EXPECT_EQ(0, objdump.status) << objdump.output;
    EXPECT_NE(std::string::npos, objdump.output.find(is64 ? "file format pei-x86-64" : "file format pei-i386"));

    Image stub = Load(stubPath), setup = Load(out);
    ASSERT_TRUE(stub.ok && setup.ok);

    // The payload: the installer's own scan from offset 0 meets the first
    // marker at raw data 4 and finds ten segments, whose CRC (as zlib
    // computes it) is the one in the CRC place.
    PayloadScanReport report;
    uint32_t crc = ScanPayloadFile(out.c_str(), Marker().c_str(), &report);
    ASSERT_EQ(10, report.segmentCount);
    EXPECT_TRUE(report.finalPairFound);
    EXPECT_NE(0u, crc);
    EXPECT_EQ(crc, CrcPlace(setup));
    EXPECT_EQ(crc, ZlibCrcOfSegments(setup.file));
    EXPECT_EQ(0u, CrcPlace(stub));
    const PeResource* payload = RawData(setup, 4);
    const PeResource* text = RawData(setup, 3);
    ASSERT_TRUE(payload && text);
    uint32_t payloadAt, textAt;
    ASSERT_TRUE(PeRvaToOffset(setup.pe, payload->dataRva, static_cast<uint32_t>(payload->data.size()), &payloadAt));
    ASSERT_TRUE(PeRvaToOffset(setup.pe, text->dataRva, static_cast<uint32_t>(text->data.size()), &textAt));
    EXPECT_EQ(static_cast<long>(payloadAt) + 4, report.segmentOffset[0]);
    EXPECT_EQ(ReadBytes(licence), text->data);
    // The licence's data ends directly before the payload's, but for the
    // 8-byte alignment of resource data.
    EXPECT_LE(textAt + text->data.size(), payloadAt);
    EXPECT_LT(payloadAt - (textAt + text->data.size()), 8u);

    // Every other resource is the stub's, unchanged.
    size_t others = 0;
    for (const PeResource& r : stub.resources) {
        if (r.type.name.empty() && r.type.id == kPeResourceRcData && r.name.name.empty() &&
            (r.name.id == 3 || r.name.id == 4))
            continue;
        others++;
        bool found = false;
        for (const PeResource& s : setup.resources)
            found = found || (s.type.id == r.type.id && s.type.name == r.type.name && s.name.id == r.name.id &&
                              s.name.name == r.name.name && s.language.id == r.language.id && s.data == r.data);
        EXPECT_TRUE(found) << "resource of type " << r.type.id << ", name " << r.name.id << " lost";
    }
    EXPECT_GE(others, 4u); // icon, group icon, string table, NOTES, 7

    // Sections: those before the resources keep their place and bytes (the
    // CRC place aside); those after keep their bytes and move together, by
    // whole alignment units, right after the new resources.
    ASSERT_EQ(stub.pe.sections.size(), setup.pe.sections.size());
    const int r = ResourceSection(setup);
    ASSERT_EQ(ResourceSection(stub), r);
    ASSERT_LT(r + 1, static_cast<int>(setup.pe.sections.size())) << "no section follows the resources";
    const PeSection& rsrc = setup.pe.sections[r];
    const PeSection& next = setup.pe.sections[r + 1];
    EXPECT_EQ(rsrc.rawPointer + rsrc.rawSize, next.rawPointer);
    EXPECT_EQ((rsrc.virtualAddress + rsrc.virtualSize + setup.pe.sectionAlignment - 1) / setup.pe.sectionAlignment *
                  setup.pe.sectionAlignment,
              next.virtualAddress);
    for (size_t i = 0; i < setup.pe.sections.size(); i++) {
        const PeSection& before = stub.pe.sections[i];
        const PeSection& after = setup.pe.sections[i];
        SCOPED_TRACE(before.name);
        EXPECT_EQ(before.name, after.name);
        EXPECT_EQ(before.characteristics, after.characteristics);
        if (static_cast<int>(i) == r)
            continue;
        EXPECT_EQ(before.virtualSize, after.virtualSize);
        EXPECT_EQ(before.rawSize, after.rawSize);
        if (static_cast<int>(i) < r) {
            EXPECT_EQ(before.virtualAddress, after.virtualAddress);
            EXPECT_EQ(before.rawPointer, after.rawPointer);
        } else {
            EXPECT_EQ(next.virtualAddress - stub.pe.sections[r + 1].virtualAddress,
                      after.virtualAddress - before.virtualAddress);
            EXPECT_EQ(next.rawPointer - stub.pe.sections[r + 1].rawPointer, after.rawPointer - before.rawPointer);
        }
        if (before.name != VELK_CRC_SECTION_NAME) {
            EXPECT_TRUE(SectionBytes(stub, i) == SectionBytes(setup, i));
        }
    }
    const PeSection& last = setup.pe.sections.back();
    EXPECT_EQ((last.virtualAddress + last.virtualSize + setup.pe.sectionAlignment - 1) / setup.pe.sectionAlignment *
                  setup.pe.sectionAlignment,
              setup.pe.sizeOfImage);
    // The base relocations' directory follows their section.
    const int relocs = PeSectionOfRva(stub.pe, stub.pe.directories[PeRelocationDirectory].rva);
    ASSERT_GT(relocs, r);
    EXPECT_EQ(setup.pe.sections[relocs].virtualAddress, setup.pe.directories[PeRelocationDirectory].rva);
    EXPECT_EQ(stub.pe.directories[PeRelocationDirectory].size, setup.pe.directories[PeRelocationDirectory].size);
    EXPECT_EQ(rsrc.virtualAddress, setup.pe.directories[PeResourceDirectory].rva);
    // The COFF symbols and their strings moved whole.
    ASSERT_NE(0u, stub.pe.symbolTable);
    EXPECT_TRUE(Bytes(stub.file.begin() + stub.pe.symbolTable, stub.file.begin() + stub.pe.symbolsEnd) ==
                Bytes(setup.file.begin() + setup.pe.symbolTable, setup.file.begin() + setup.pe.symbolsEnd));
    EXPECT_EQ(setup.file.size(), setup.pe.symbolsEnd);

    // The checksum as the linker computes it (its own value in the stub),
    // and the installer's matches its bytes.
    EXPECT_EQ(stub.pe.checkSum, ComputePeChecksum(stub.file, stub.pe));
    EXPECT_EQ(setup.pe.checkSum, ComputePeChecksum(setup.file, setup.pe));
    EXPECT_NE(stub.pe.checkSum, setup.pe.checkSum);
}

INSTANTIATE_TEST_SUITE_P(Machines, BuildFromStub, ::testing::ValuesIn(kStubs),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             return std::string(info.param == std::string(STUB_I686) ? "i686" : "x86_64");
                         });

TEST_F(VelkpackBuild, SameStubFilesAndLicenceGiveTheSameBytes)
{
    const std::string first = dir + "/first.exe", second = dir + "/second.exe";
    ASSERT_EQ(0, Build(STUB_I686, first, "--licence " + licence).status);
    ASSERT_EQ(0, Build(STUB_I686, second, "--licence " + licence).status);
    const Bytes bytes = ReadBytes(first);
    EXPECT_TRUE(bytes == ReadBytes(second));
    // The installer as its own stub (its licence kept) gives itself again.
    const std::string again = dir + "/again.exe";
    ASSERT_EQ(0, Build(first, again).status);
    EXPECT_TRUE(bytes == ReadBytes(again));
    // Without --licence, the stub's licence stays.
    const std::string own = dir + "/own.exe";
    ASSERT_EQ(0, Build(STUB_I686, own).status);
    Image image = Load(own);
    ASSERT_TRUE(image.ok && RawData(image, 3));
    EXPECT_TRUE(ReadBytes(std::string(getenv("VELK_SOURCE_DIR")) + "/resources/licence.txt") == RawData(image, 3)->data);
    EXPECT_FALSE(bytes == ReadBytes(own));
}

// The CRC place must never hold the marker's first character, which could
// begin a marker in the image prefix: the payload is steered away from
// such checksums, as from 0.
TEST_F(VelkpackBuild, SteersTheCrcAwayFromTheMarkersFirstCharacter)
{
    static PackedPayload payload;
    std::string error;
    const std::string urls = inputs + "/urls.ini";
    const std::string original = ReadFileBytes(urls);
    uint32_t natural = 0;
    bool found = false;
    for (int n = 0; n < 3000 && !found; n++) {
        ASSERT_TRUE(WriteFileBytes(urls, original + "; " + std::to_string(n) + "\r\n"));
        ASSERT_EQ(ToolOk, ReadPayloadInputs(inputs, &payload, &error)) << error;
        ASSERT_EQ(ToolOk, BuildPayload(&payload, &error)) << error;
        natural = payload.crc;
        for (int i = 0; i < 4; i++)
            found = found || static_cast<uint8_t>(natural >> (8 * i)) == static_cast<uint8_t>(kMarkerHead[0]);
    }
    ASSERT_TRUE(found) << "no input gave a checksum with the marker's first character";
    const std::string out = dir + "/steered.exe";
    CliRun run = Build(STUB_I686, out);
    ASSERT_EQ(0, run.status) << run.output;
    Image image = Load(out);
    const uint32_t placed = CrcPlace(image);
    EXPECT_NE(natural, placed);
    for (int i = 0; i < 4; i++)
        EXPECT_NE(static_cast<uint8_t>(kMarkerHead[0]), static_cast<uint8_t>(placed >> (8 * i))) << std::hex << placed;
    EXPECT_EQ(placed, ScanPayloadFile(out.c_str(), Marker().c_str(), NULL));
    EXPECT_EQ(placed, ZlibCrcOfSegments(image.file));
}

TEST_F(VelkpackBuild, SignsVerifiesAndKeepsThePayload)
{
    MakeCertificate("signer", "a secret");
    const std::string plain = dir + "/plain.exe", signedSetup = dir + "/signed.exe";
    ASSERT_EQ(0, Build(STUB_I686, plain).status);
    CliRun run = Build(STUB_I686, signedSetup, "--sign " + dir + "/signer.p12 --password-file " + dir + "/signer.pass");
    ASSERT_EQ(0, run.status) << run.output;
    EXPECT_NE(std::string::npos, run.output.find("the signature verifies")) << run.output;

    // osslsigncode verifies it against the certificate.
    CliRun verify = Shell("osslsigncode verify -in " + signedSetup + " -CAfile " + dir + "/signer.pem", dir + "/.verify");
    EXPECT_EQ(0, verify.status) << verify.output;
    EXPECT_NE(std::string::npos, verify.output.find("Velk Test Signer"));

    // The signature came after the payload: the unsigned installer's bytes
    // are all there but for the checksum and the signature's directory.
    Image image = Load(signedSetup);
    const Bytes unsignedBytes = ReadBytes(plain);
    const PeDirectory& signature = image.pe.directories[PeSecurityDirectory];
    ASSERT_NE(0u, signature.size);
    ASSERT_GE(signature.rva, unsignedBytes.size());
    Bytes head(image.file.begin(), image.file.begin() + unsignedBytes.size());
    const uint32_t checksumAt = image.pe.optionalHeaderOffset + 64;
    const uint32_t signatureAt = image.pe.optionalHeaderOffset + 96 + 8 * PeSecurityDirectory;
    for (uint32_t i = 0; i < 4; i++)
        head[checksumAt + i] = unsignedBytes[checksumAt + i];
    for (uint32_t i = 0; i < 8; i++)
        head[signatureAt + i] = unsignedBytes[signatureAt + i];
    EXPECT_TRUE(head == unsignedBytes);
    EXPECT_EQ(CrcPlace(image), ScanPayloadFile(signedSetup.c_str(), Marker().c_str(), NULL));
    EXPECT_EQ(image.pe.checkSum, ComputePeChecksum(image.file, image.pe));

    // A certificate without a password needs no password file; the signed
    // installer as a stub gives the unsigned installer again.
    MakeCertificate("open", "");
    const std::string open = dir + "/open.exe", resigned = dir + "/from-signed.exe";
    run = Build(STUB_I686, open, "--sign " + dir + "/open.p12");
    EXPECT_EQ(0, run.status) << run.output;
    ASSERT_EQ(0, Build(signedSetup, resigned).status);
    EXPECT_TRUE(unsignedBytes == ReadBytes(resigned));
    EXPECT_EQ(0, Entries(temp)) << "temporary files left behind";
}

TEST_F(VelkpackBuild, BadInputGetsOneLineAndNothingWritten)
{
    const std::string stub = dir + "/stub.exe";
    ASSERT_EQ(0, system(("cp " + std::string(STUB_I686) + " " + stub).c_str()));
    const Bytes stubBytes = ReadBytes(stub);
    Image image = Load(stub);
    ASSERT_TRUE(image.ok);

    // Stubs that are not Velk installer images.
    ASSERT_TRUE(WriteFileBytes(dir + "/text.exe", "MZ? no, a text file\r\n"));
    ASSERT_TRUE(WriteFileBytes(dir + "/plain.exe", "just a text file\n"));
    WriteBytes(dir + "/half.exe", Bytes(stubBytes.begin(), stubBytes.begin() + stubBytes.size() / 2));
    WriteBytes(dir + "/head.exe", Bytes(stubBytes.begin(), stubBytes.begin() + 200));
    Bytes renamed = stubBytes;
    std::string headers(stubBytes.begin(), stubBytes.begin() + image.pe.sizeOfHeaders);
    size_t nameAt = headers.find(VELK_CRC_SECTION_NAME);
    ASSERT_NE(std::string::npos, nameAt);
    renamed[nameAt + 7] = 'X';
    WriteBytes(dir + "/nocrc.exe", renamed);
    // Resources without raw data 4, made with the builder's own writer.
    {
        std::vector<PeResource> kept;
        for (const PeResource& r : image.resources)
            if (!(r.type.id == kPeResourceRcData && r.name.name.empty() && r.name.id == 4))
                kept.push_back(r);
        Bytes content, without;
        std::string error;
        WritePeResources(&kept, image.pe.directories[PeResourceDirectory].rva, {3}, &content);
        ASSERT_EQ(ToolOk, ReplacePeResources(stubBytes, image.pe, content, &without, &error)) << error;
        WriteBytes(dir + "/no4.exe", without);
    }
    // The base relocations made part of what the program keeps in memory.
    Bytes fixed = stubBytes;
    const int relocs = PeSectionOfRva(image.pe, image.pe.directories[PeRelocationDirectory].rva);
    ASSERT_GT(relocs, 0);
    const uint32_t row = image.pe.sectionTableOffset + 40 * relocs + 36;
    PeWrite32(&fixed, row, PeRead32(fixed, row) & ~kPeSectionDiscardable);
    WriteBytes(dir + "/fixed.exe", fixed);
    // A debug directory inside the section that would move.
    const PeSection& relocSection = image.pe.sections[relocs];
    Bytes debug = stubBytes;
    const uint32_t debugDirectory = image.pe.optionalHeaderOffset + 96 + 8 * 6;
    PeWrite32(&debug, debugDirectory, relocSection.virtualAddress);
    PeWrite32(&debug, debugDirectory + 4, 28);
    WriteBytes(dir + "/debug.exe", debug);
    // The program holding the address of that section: the place of the
    // first 32-bit base relocation made to point there.
    Bytes addressed = stubBytes;
    {
        const uint32_t block = relocSection.rawPointer;
        const uint32_t page = PeRead32(addressed, block);
        uint32_t place = 0;
        for (uint32_t entry = block + 8; entry < block + PeRead32(addressed, block + 4) && !place; entry += 2) {
            uint32_t value = addressed[entry] | addressed[entry + 1] << 8;
            if (value >> 12 == 3)
                place = page + (value & 0xFFF);
        }
        uint32_t at;
        ASSERT_TRUE(place && PeRvaToOffset(image.pe, place, 4, &at));
        PeWrite32(&addressed, at, static_cast<uint32_t>(image.pe.imageBase) + relocSection.virtualAddress + 16);
    }
    WriteBytes(dir + "/addressed.exe", addressed);
    const char* windowsProgram = "/usr/lib/i386-linux-gnu/wine/i386-windows/notepad.exe";

    // Payload folders with a file missing, and with an empty file.
    const std::string missing = CopyOfPayloadDir("missing"), empty = CopyOfPayloadDir("empty");
    remove((missing + "/servers.ini").c_str());
    ASSERT_TRUE(WriteFileBytes(empty + "/urls.ini", ""));

    // Licences the wizard could not show as they are.
    const std::string text = LicenceText();
    struct {
        const char* name;
        std::string content;
    } licences[] = {
        {"nul", text.substr(0, 100) + std::string(1, '\0') + text.substr(100)},
        {"marker", text.substr(0, 300) + Marker() + text.substr(300)},
        {"prefix", text + "\r\nKW"},
        {"lf", "line one\nline two\n***"},
        {"long", std::string(2901, 'x')},
        {"empty", ""},
    };
    for (const auto& l : licences)
        ASSERT_TRUE(WriteFileBytes(dir + "/" + l.name + ".txt", l.content));

    MakeCertificate("signer", "right");
    ASSERT_TRUE(WriteFileBytes(dir + "/wrong.pass", "wrong\n"));
    const std::string p12 = dir + "/signer.p12";
    const std::string out = dir + "/out/setup.exe";
    ASSERT_EQ(0, mkdir((dir + "/out").c_str(), 0755));

    struct Case {
        std::string args;
        int status;
        std::string message; // part of the one-line error
    } cases[] = {
        {"--stub " + dir + "/plain.exe", 1, "plain.exe: not a Velk installer image: not a PE file (no MZ header)"},
        {"--stub " + dir + "/text.exe", 1, "text.exe: not a Velk installer image: "},
        {"--stub " + std::string(windowsProgram), 1, "not a Velk installer image: no section .velkcrc"},
        {"--stub " + dir + "/nocrc.exe", 1, "nocrc.exe: not a Velk installer image: no section .velkcrc"},
        {"--stub " + dir + "/no4.exe", 1, "no4.exe: not a Velk installer image: no raw data resource 4 (the payload)"},
        {"--stub " + dir + "/half.exe", 1, "half.exe: not a Velk installer image: truncated: "},
        {"--stub " + dir + "/head.exe", 1, "head.exe: not a Velk installer image: truncated"},
        {"--stub " + dir + "/fixed.exe", 1, "is not discardable: the program may address it, so it cannot be moved"},
        {"--stub " + dir + "/debug.exe", 1, "its debug directory lies in the resources or a section after them"},
        {"--stub " + dir + "/addressed.exe", 1, "the program holds the address 0x"},
        {"--stub " + dir + "/missing-stub.exe", 2, "missing-stub.exe: No such file"},
        {"--stub " + stub + " --licence " + dir + "/nul.txt", 1, "nul.txt: the licence holds a NUL byte at offset 100"},
        {"--stub " + stub + " --licence " + dir + "/marker.txt", 1, "the licence holds the segment marker at offset 300"},
        {"--stub " + stub + " --licence " + dir + "/prefix.txt", 1, "the licence ends with \"KW\""},
        {"--stub " + stub + " --licence " + dir + "/lf.txt", 1, "line end without CR at offset 8"},
        {"--stub " + stub + " --licence " + dir + "/long.txt", 1, "is 2901 bytes; the wizard shows at most 2900"},
        {"--stub " + stub + " --licence " + dir + "/empty.txt", 1, "the licence is empty"},
        {"--stub " + stub + " --sign " + dir + "/no-such.p12", 2, "no-such.p12: No such file"},
        {"--stub " + stub + " --sign " + p12 + " --password-file " + dir + "/wrong.pass", 1,
         "signer.p12: cannot be opened: wrong password in "},
        {"--stub " + stub + " --sign " + p12, 1, "signer.p12: cannot be opened: it needs a password"},
        {"--stub " + stub + " --sign " + p12 + " --password-file " + dir + "/no-such.pass", 2, "no-such.pass: No such file"},
        {"--stub " + stub + " --sign " + p12 + " --password-file " + dir + "/signer.pass --timestamp http://127.0.0.1:9/",
         2, "the time stamp from http://127.0.0.1:9/ failed: "},
    };
    const int before = Entries(dir);
    for (const Case& c : cases) {
        CliRun run = Velkpack("build " + inputs + " -o " + out + " " + c.args);
        EXPECT_EQ(c.status, run.status) << c.args << "\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find("velkpack: ")) << c.args << "\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find(c.message)) << c.args << "\n" << run.output;
        EXPECT_EQ(1, Lines(run.output)) << c.args << "\n" << run.output;
        EXPECT_EQ(0, Entries(dir + "/out")) << c.args;
        EXPECT_EQ(0, Entries(temp)) << c.args;
    }

    // Inputs, output paths and programs.
    struct Other {
        std::string command;
        int status;
        std::string message;
        std::string output; // must not exist afterwards ("" : none)
    } others[] = {
        {"build " + missing + " --stub " + stub + " -o " + out, 2, missing + "/servers.ini: No such file", out},
        {"build " + empty + " --stub " + stub + " -o " + out, 1, empty + "/urls.ini: file is empty", out},
        {"build " + inputs + " --stub " + stub + " -o " + dir + "/no-folder/setup.exe", 2,
         dir + "/no-folder/setup.exe: cannot be written: its folder " + dir + "/no-folder does not exist",
         dir + "/no-folder"},
        {"build " + inputs + " --stub " + stub + " -o " + stub, 2, stub + ": is the input " + stub, ""},
        {"build " + inputs + " --stub " + stub + " -o " + inputs + "/readme.txt", 2, "is the input", ""},
        {"build " + inputs + " --stub " + stub + " -o " + out + " --password-file " + dir + "/signer.pass", 2,
         "usage: velkpack build", out},
    };
    for (const Other& c : others) {
        CliRun run = Velkpack(c.command);
        EXPECT_EQ(c.status, run.status) << c.command << "\n" << run.output;
        EXPECT_NE(std::string::npos, run.output.find(c.message)) << c.command << "\n" << run.output;
        if (c.message.find("usage") == std::string::npos) {
            EXPECT_EQ(1, Lines(run.output)) << c.command << "\n" << run.output;
        }
        if (!c.output.empty()) {
            EXPECT_FALSE(Exists(c.output)) << c.output;
        }
    }
    // Signing where osslsigncode cannot be found: one line naming the
    // package, before any work.
    CliRun noSigner = Velkpack("build " + inputs + " --stub " + stub + " -o " + out + " --sign " + p12, "PATH=/nonexistent");
    EXPECT_EQ(2, noSigner.status) << noSigner.output;
    EXPECT_NE(std::string::npos, noSigner.output.find("signing needs osslsigncode, which is not installed (Debian package osslsigncode)"))
        << noSigner.output;
    EXPECT_EQ(1, Lines(noSigner.output));

    EXPECT_FALSE(Exists(out));
    EXPECT_TRUE(stubBytes == ReadBytes(stub)) << "the stub was changed";
    EXPECT_TRUE(ReadFileBytes(std::string(getenv("VELK_SOURCE_DIR")) + "/resources/payload/readme.txt") ==
                ReadFileBytes(inputs + "/readme.txt"));
    EXPECT_EQ(before, Entries(dir)) << "files left behind";
    EXPECT_EQ(0, Entries(temp));

    CliRun help = Velkpack("build --help");
    EXPECT_EQ(0, help.status);
    EXPECT_EQ(0u, help.output.find("usage: velkpack build")) << help.output;
}

} // namespace
