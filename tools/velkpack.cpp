// velkpack: the image builder's command line.
//
//   velkpack pack DIR -o PAYLOAD [--crc-header FILE]
//   velkpack build DIR --stub STUB.exe -o SETUP.exe [--licence FILE]
//                  [--sign CERT.p12 [--password-file FILE] [--timestamp URL]]
//   velkpack encode IN OUT
//   velkpack decode IN OUT
//   velkpack inspect FILE
//
// Exit status: 0 success, 1 malformed input, 2 usage or I/O error. Every
// error is one line naming the file and the problem. Files are read and
// written only through the rules of tools/file_io.h: no partial output, no
// input overwritten, nothing but regular files read or replaced.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <string>
#include <vector>

#include "payload/install_file_table.h"
#include "tools/build_installer.h"
#include "tools/file_io.h"
#include "tools/inspect.h"
#include "tools/lzhuf_encoder.h"
#include "tools/pack.h"
#include "tools/sign_installer.h"

namespace {

const char kPackUsage[] =
    "usage: velkpack pack DIR -o PAYLOAD [--crc-header FILE]\n"
    "Compresses the ten files of the install file table, read from DIR by their\n"
    "exact names, joins them into the marked payload container, proves it (scan\n"
    "and decode) and writes it to PAYLOAD. With --crc-header, also writes the\n"
    "payload's CRC-32 as a C header (VELK_EXPECTED_PAYLOAD_CRC) for other tools;\n"
    "velkpack build writes it into the installer image itself.\n";
const char kBuildUsage[] =
    "usage: velkpack build DIR --stub STUB.exe -o SETUP.exe [--licence FILE]\n"
    "                      [--sign CERT.p12 [--password-file FILE] [--timestamp URL]]\n"
    "Writes the installer SETUP.exe: the stub (any velk-setup.exe built by this\n"
    "project, i686 or x86_64) carrying the ten files of DIR, packed as pack does,\n"
    "and the licence text of FILE (plain text with CR LF line ends, at most 2900\n"
    "bytes; without --licence, the stub's). The installer is proven (its\n"
    "resources, its payload scanned from offset 0 and decoded, its CRC) before\n"
    "it is written. With --sign, it is signed with osslsigncode using the\n"
    "PKCS#12 certificate CERT.p12, whose password is read from FILE, with an\n"
    "RFC 3161 time stamp from URL when given; the signature is verified and the\n"
    "signed file proven again.\n";
const char kEncodeUsage[] =
    "usage: velkpack encode IN OUT\n"
    "Compresses IN into one LZHUF stream (4-byte length header first) in OUT.\n";
const char kDecodeUsage[] =
    "usage: velkpack decode IN OUT\n"
    "Decodes one LZHUF stream (4-byte length header first) from IN into OUT.\n";
const char kInspectUsage[] =
    "usage: velkpack inspect FILE\n"
    "Scans FILE (a payload or a built installer) as the installer's checksum\n"
    "scan does and lists its segments, their CRC-32 and the final pair of\n"
    "markers. Exit status 0 only for a well-formed container of ten segments.\n";

int Fail(int status, const std::string& message)
{
    fprintf(stderr, "velkpack: %s\n", message.c_str());
    return status;
}

int Usage(const char* usage)
{
    fputs(usage, stderr);
    return ToolIoError;
}

int WantsHelp(int argc, char** argv)
{
    for (int i = 0; i < argc; i++)
        if (strcmp(argv[i], "--help") == 0 || strcmp(argv[i], "-h") == 0)
            return 1;
    return 0;
}

void PrintTable(const PackedPayload& payload)
{
    printf("%-5s %-14s %10s %11s %7s\n", "index", "file", "size", "compressed", "ratio");
    uint64_t total = 0, packed = 0;
    for (int k = 0; k < kInstallFileCount; k++) {
        const PackedFile& file = payload.files[k];
        total += file.input.size();
        packed += file.stream.size();
        printf("%-5d %-14s %10zu %11zu %6.1f%%\n", k, file.name.c_str(), file.input.size(),
               file.stream.size(), 100.0 * file.stream.size() / file.input.size());
    }
    printf("%-5s %-14s %10llu %11llu %6.1f%%\n", "", "total", (unsigned long long)total,
           (unsigned long long)packed, 100.0 * packed / total);
    printf("payload: %zu bytes, CRC-32 of the segments 0x%08X\n", payload.bytes.size(),
           payload.crc);
}

int Pack(int argc, char** argv)
{
    std::string dir, output, crcHeader;
    for (int i = 0; i < argc; i++) {
        if (strcmp(argv[i], "-o") == 0 && i + 1 < argc)
            output = argv[++i];
        else if (strcmp(argv[i], "--crc-header") == 0 && i + 1 < argc)
            crcHeader = argv[++i];
        else if (argv[i][0] == '-' || !dir.empty())
            return Usage(kPackUsage);
        else
            dir = argv[i];
    }
    if (dir.empty() || output.empty())
        return Usage(kPackUsage);
    SetOutOfMemorySubject(dir);

    static PackedPayload payload;
    std::string error;
    int status = ReadPayloadInputs(dir, &payload, &error);
    if (status != ToolOk)
        return Fail(status, error);
    OutputSet outputs = {};
    status = AddOutput(&outputs, output, &error);
    if (status == ToolOk && !crcHeader.empty())
        status = AddOutput(&outputs, crcHeader, &error);
    if (status == ToolOk)
        status = BuildPayload(&payload, &error);
    if (status == ToolOk)
        status = VerifyPayload(payload, &error);
    if (status == ToolOk)
        status = WriteOutput(&outputs, 0, payload.bytes.data(), payload.bytes.size(), &error);
    if (status == ToolOk && !crcHeader.empty()) {
        std::string text = CrcHeaderText(payload.crc);
        status = WriteOutput(&outputs, 1, reinterpret_cast<const uint8_t*>(text.data()),
                             text.size(), &error);
    }
    if (status == ToolOk)
        status = CommitOutputs(&outputs, &error);
    if (status != ToolOk) {
        DiscardOutputs(&outputs);
        return Fail(status, error);
    }
    PrintTable(payload);
    return ToolOk;
}

int Build(int argc, char** argv)
{
    std::string dir, stub, output, licence;
    SignOptions sign;
    for (int i = 0; i < argc; i++) {
        const char* option = argv[i];
        std::string* value = NULL;
        if (strcmp(option, "--stub") == 0)
            value = &stub;
        else if (strcmp(option, "-o") == 0)
            value = &output;
        else if (strcmp(option, "--licence") == 0)
            value = &licence;
        else if (strcmp(option, "--sign") == 0)
            value = &sign.certificate;
        else if (strcmp(option, "--password-file") == 0)
            value = &sign.passwordFile;
        else if (strcmp(option, "--timestamp") == 0)
            value = &sign.timestampUrl;
        if (value) {
            if (i + 1 >= argc || !value->empty() || !argv[i + 1][0])
                return Usage(kBuildUsage);
            *value = argv[++i];
        } else if (option[0] == '-' || !dir.empty()) {
            return Usage(kBuildUsage);
        } else {
            dir = option;
        }
    }
    if (dir.empty() || stub.empty() || output.empty() ||
        (sign.certificate.empty() && (!sign.passwordFile.empty() || !sign.timestampUrl.empty())))
        return Usage(kBuildUsage);

    SetOutOfMemorySubject(dir);
    static InstallerBuild build;
    std::string error;
    // The output is checked, and its temporary made, before the work; every
    // input opened afterwards is checked against it too. The certificate and
    // the password file are read by the signer, but they are this call's
    // inputs all the same: opened once here under the same rules.
    OutputSet outputs = {};
    int status = AddOutput(&outputs, output, &error);
    for (const std::string* path : {&sign.certificate, &sign.passwordFile}) {
        InputFile file;
        if (status == ToolOk && !path->empty() && (status = OpenInputFile(*path, &file, &error)) == ToolOk)
            CloseInputFile(&file);
    }
    if (status == ToolOk && !sign.certificate.empty())
        status = CheckSignOptions(sign, &error);
    if (status == ToolOk)
        status = ReadInstallerStub(stub, &build, &error);
    if (status == ToolOk && !licence.empty())
        status = ReadLicence(licence, &build, &error);
    if (status == ToolOk)
        status = ReadPayloadInputs(dir, &build.payload, &error);
    if (status == ToolOk)
        status = BuildInstallerImage(&build, &error);
    std::vector<uint8_t> finished;
    if (status == ToolOk && !sign.certificate.empty()) {
        status = SignInstallerImage(build.image, sign, &finished, &error);
        // The signature must have left the payload and the CRC as they were.
        if (status == ToolOk)
            status = ProveInstallerImage(finished, build.payload, build.licence, &error);
    } else if (status == ToolOk) {
        finished.swap(build.image);
    }
    if (status == ToolOk)
        status = WriteOutput(&outputs, 0, finished.data(), finished.size(), &error);
    if (status == ToolOk)
        status = CommitOutputs(&outputs, &error);
    if (status != ToolOk) {
        DiscardOutputs(&outputs);
        return Fail(status, error);
    }
    PrintTable(build.payload);
    printf("installer: %s, %zu bytes (%s stub %s), licence %zu bytes\n", output.c_str(), finished.size(),
           build.stubImage.machine == kPeMachineI386 ? "i386" : "x86-64", stub.c_str(), build.licence.size());
    if (!sign.certificate.empty())
        printf("signed with %s%s; the signature verifies\n", sign.certificate.c_str(),
               sign.timestampUrl.empty() ? "" : (", time stamp from " + sign.timestampUrl).c_str());
    return ToolOk;
}

int Encode(int argc, char** argv)
{
    if (argc != 2)
        return Usage(kEncodeUsage);
    SetOutOfMemorySubject(argv[0]);
    std::vector<uint8_t> input, stream;
    std::string error;
    int status = ReadWholeFile(argv[0], kMaxInputSize, &input, &error);
    if (status != ToolOk)
        return Fail(status, error);
    OutputSet outputs = {};
    status = AddOutput(&outputs, argv[1], &error);
    if (status != ToolOk)
        return Fail(status, error);
    if (input.empty()) {
        DiscardOutputs(&outputs);
        return Fail(ToolMalformed, std::string(argv[0]) +
                                       ": file is empty (a stream of length 0 is refused by the decoder)");
    }
    if (!EncodeLzhuf(input.data(), static_cast<uint32_t>(input.size()), &stream)) {
        DiscardOutputs(&outputs);
        return Fail(ToolMalformed, std::string(argv[0]) + ": cannot be encoded");
    }
    status = WriteOutput(&outputs, 0, stream.data(), stream.size(), &error);
    if (status == ToolOk)
        status = CommitOutputs(&outputs, &error);
    if (status != ToolOk) {
        DiscardOutputs(&outputs);
        return Fail(status, error);
    }
    printf("%s: %zu bytes -> %zu bytes (%.1f%%)\n", argv[0], input.size(), stream.size(),
           100.0 * stream.size() / input.size());
    return ToolOk;
}

int Decode(int argc, char** argv)
{
    if (argc != 2)
        return Usage(kDecodeUsage);
    SetOutOfMemorySubject(argv[0]);
    std::vector<uint8_t> stream, output;
    std::string error;
    int status = ReadWholeFile(argv[0], kMaxInputSize, &stream, &error);
    if (status != ToolOk)
        return Fail(status, error);
    OutputSet outputs = {};
    status = AddOutput(&outputs, argv[1], &error);
    if (status != ToolOk)
        return Fail(status, error);
    status = DecodeStream(stream, &output, &error);
    if (status != ToolOk) {
        DiscardOutputs(&outputs);
        return Fail(status, std::string(argv[0]) + ": " + error);
    }
    status = WriteOutput(&outputs, 0, output.data(), output.size(), &error);
    if (status == ToolOk)
        status = CommitOutputs(&outputs, &error);
    if (status != ToolOk) {
        DiscardOutputs(&outputs);
        return Fail(status, error);
    }
    printf("%s: %zu bytes -> %zu bytes\n", argv[0], stream.size(), output.size());
    return ToolOk;
}

int Inspect(int argc, char** argv)
{
    if (argc != 1)
        return Usage(kInspectUsage);
    const std::string path = argv[0];
    SetOutOfMemorySubject(path);
    InputFile file;
    std::string error;
    int status = OpenInputFile(path, &file, &error);
    if (status != ToolOk)
        return Fail(status, error);
    FILE* stream = OpenInputStream(&file);
    if (!stream) {
        CloseInputFile(&file);
        return Fail(ToolIoError, path + ": cannot be read: " + strerror(errno));
    }
    std::string problem;
    status = InspectContainer(stream, stdout, &problem);
    fclose(stream);
    CloseInputFile(&file);
    if (status == ToolMalformed)
        return Fail(status, path + ": malformed container: " + problem);
    if (status != ToolOk)
        return Fail(status, path + ": " + problem);
    return ToolOk;
}

// Runs one command. The exception handler is the last line of defence: the
// commands themselves report every failure as a status, and running out of
// memory is handled where it happens (see PrepareFileSafety).
int RunCommand(int (*run)(int, char**), int argc, char** argv)
{
    try {
        return run(argc, argv);
    } catch (const std::exception& e) {
        return Fail(ToolIoError, std::string("internal error: ") + e.what());
    }
}

// Standard output is checked like any other output: a listing that could
// not be written is a failure.
int FinishOutput(int status)
{
    if (fflush(stdout) != 0 || ferror(stdout)) {
        fprintf(stderr, "velkpack: standard output: write error\n");
        return ToolIoError;
    }
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    PrepareFileSafety("velkpack");
    const char usage[] =
        "usage: velkpack COMMAND ARGS...\n"
        "  pack DIR -o PAYLOAD [--crc-header FILE]   build the payload container\n"
        "  build DIR --stub STUB -o SETUP [...]      write a finished (signed) installer\n"
        "  encode IN OUT                             compress one file into a stream\n"
        "  decode IN OUT                             decompress one stream\n"
        "  inspect FILE                              list the segments of a payload or installer\n"
        "Run 'velkpack COMMAND --help' for more.\n";
    if (argc < 2)
        return Usage(usage);
    std::string command = argv[1];
    int rest = argc - 2;
    char** args = argv + 2;
    struct Command {
        const char* name;
        const char* usage;
        int (*run)(int, char**);
    };
    const Command commands[] = {
        {"pack", kPackUsage, Pack},
        {"build", kBuildUsage, Build},
        {"encode", kEncodeUsage, Encode},
        {"decode", kDecodeUsage, Decode},
        {"inspect", kInspectUsage, Inspect},
    };
    for (const Command& c : commands) {
        if (command == c.name) {
            if (WantsHelp(rest, args)) {
                fputs(c.usage, stdout);
                return FinishOutput(ToolOk);
            }
            return FinishOutput(RunCommand(c.run, rest, args));
        }
    }
    if (command == "--help" || command == "-h") {
        fputs(usage, stdout);
        return FinishOutput(ToolOk);
    }
    fprintf(stderr, "velkpack: unknown command '%s'\n", command.c_str());
    return Usage(usage);
}
