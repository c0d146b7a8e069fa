#include "tools/sign_installer.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "tools/file_io.h"

extern char** environ;

namespace {

// The programs signing needs, with the Debian packages that bring them.
struct Program {
    const char* name;
    const char* package;
};
const Program kOsslsigncode = {"osslsigncode", "osslsigncode"};
const Program kOpenssl = {"openssl", "openssl"};

// Certificates are small; a larger file is not one.
const uint64_t kMaxCertificateSize = 1 << 20;

int OnPath(const char* name)
{
    const char* path = getenv("PATH");
    std::string dirs = path ? path : "";
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos)
            end = dirs.size();
        std::string dir = end > start ? dirs.substr(start, end - start) : ".";
        std::string candidate = dir + "/" + name;
        struct stat info;
        if (stat(candidate.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(candidate.c_str(), X_OK) == 0)
            return 1;
        start = end + 1;
    }
    return 0;
}

// A path as an argument that no program takes for an option or for "-".
std::string AsArgument(const std::string& path)
{
    return !path.empty() && path[0] == '-' ? "./" + path : path;
}

// A private folder for the signer's files, removed with them at the end.
struct WorkFolder {
    std::string path;
    std::vector<std::string> files;

    std::string File(const char* name)
    {
        files.push_back(path + "/" + name);
        return files.back();
    }
    ~WorkFolder()
    {
        for (const std::string& file : files)
            remove(file.c_str());
        if (!path.empty())
            rmdir(path.c_str());
    }
};

// Runs a program with its output in `log` and no input; returns its exit
// status, or -1 (with `error` set) when it could not be started.
int Run(const std::vector<std::string>& args, const std::string& log, std::string* error)
{
    std::vector<char*> argv;
    for (const std::string& arg : args)
        argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(NULL);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, log.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    pid_t pid;
    int failed = posix_spawnp(&pid, argv[0], &actions, NULL, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    if (failed) {
        *error = args[0] + " cannot be started: " + strerror(failed);
        return -1;
    }
    int status;
    while (waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR) {
            *error = args[0] + " cannot be waited for: " + strerror(errno);
            return -1;
        }
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}

// The program's own account of a failure: the first line of its output
// that says so (an error, a failure), else its first line; OpenSSL's error
// stack entries are left out.
std::string ProblemLine(const std::string& text)
{
    std::string first;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        std::string line = text.substr(start, end - start);
        start = end + 1;
        while (!line.empty() && (line.back() == '\r' || line.back() == ' '))
            line.pop_back();
        size_t lead = line.find_first_not_of(" \t");
        if (lead == std::string::npos || line.find(":error:") != std::string::npos)
            continue;
        line = line.substr(lead);
        if (first.empty())
            first = line;
        if (line.find("rror") != std::string::npos || line.find("ail") != std::string::npos)
            return line;
    }
    return first.empty() ? "no message" : first;
}

std::string LogText(const std::string& log)
{
    std::vector<uint8_t> bytes;
    std::string ignored;
    ReadWholeFile(log, 1 << 20, &bytes, &ignored);
    return std::string(bytes.begin(), bytes.end());
}

} // namespace

int CheckSignOptions(const SignOptions& options, std::string* error)
{
    for (const Program& program : {kOsslsigncode, kOpenssl}) {
        if (!OnPath(program.name)) {
            *error = std::string("signing needs ") + program.name + ", which is not installed (Debian package " +
                     program.package + ")";
            return ToolIoError;
        }
    }
    // Both files must be readable; their bytes are not used here
    // (osslsigncode reads the files itself).
    std::vector<uint8_t> contents;
    int status = ReadWholeFile(options.certificate, kMaxCertificateSize, &contents, error);
    if (status == ToolOk && !options.passwordFile.empty())
        status = ReadWholeFile(options.passwordFile, kMaxCertificateSize, &contents, error);
    std::fill(contents.begin(), contents.end(), 0);
    return status;
}

int SignInstallerImage(const std::vector<uint8_t>& image, const SignOptions& options,
                       std::vector<uint8_t>* signedImage, std::string* error)
{
    int status = CheckSignOptions(options, error);
    if (status != ToolOk)
        return status;

    WorkFolder work;
    const char* temp = getenv("TMPDIR");
    std::string folder = std::string(temp && *temp ? temp : "/tmp") + "/velkpack-sign.XXXXXX";
    if (!mkdtemp(&folder[0])) {
        *error = "cannot create a temporary folder for signing in " + folder + ": " + strerror(errno);
        return ToolIoError;
    }
    work.path = folder;
    const std::string unsignedPath = work.File("unsigned.exe");
    const std::string signedPath = work.File("signed.exe");
    const std::string log = work.File("osslsigncode.log");
    const std::string signature = work.File("signature.pem");
    const std::string chain = work.File("chain.pem");
    status = WriteFileAtomically(unsignedPath, image, error);
    if (status != ToolOk)
        return status;

    std::vector<std::string> sign = {"osslsigncode", "sign", "-pkcs12", AsArgument(options.certificate), "-h", "sha256"};
    if (!options.passwordFile.empty()) {
        sign.push_back("-readpass");
        sign.push_back(AsArgument(options.passwordFile));
    }
    if (!options.timestampUrl.empty()) {
        sign.push_back("-ts");
        sign.push_back(options.timestampUrl);
    }
    sign.insert(sign.end(), {"-in", unsignedPath, "-out", signedPath});
    int exit = Run(sign, log, error);
    if (exit < 0)
        return ToolIoError;
    if (exit != 0) {
        std::string text = LogText(log);
        if (text.find("PKCS#12") != std::string::npos || text.find("key or certificates") != std::string::npos) {
            *error = options.certificate + ": cannot be opened: " +
                     (options.passwordFile.empty() ? "it needs a password (--password-file)"
                                                   : "wrong password in " + options.passwordFile) +
                     ", or it is not a PKCS#12 file with a certificate and its key";
            return ToolMalformed;
        }
        if (!options.timestampUrl.empty() &&
            (text.find("imestamp") != std::string::npos || text.find("TSA") != std::string::npos)) {
            *error = "the time stamp from " + options.timestampUrl + " failed: " + ProblemLine(LogText(log));
            return ToolIoError;
        }
        *error = "osslsigncode could not sign the installer: " + ProblemLine(LogText(log));
        return ToolIoError;
    }

    // The signature checked against the certificates it carries: the signed
    // digest is the file's, and the signature is the certificate's.
    // Whether Windows trusts that certificate, and whether it has been
    // revoked since, is Windows' decision: newer osslsigncode versions
    // would insist on revocation lists, fetched from the certificate's
    // distribution points, which an offline build machine cannot reach.
    error->clear();
    std::vector<std::string> verify = {"osslsigncode", "verify", "-in", signedPath, "-CAfile", chain};
    Run({"osslsigncode", "--help"}, log, error);
    std::string help = LogText(log);
    for (const char* option : {"-ignore-cdp", "-ignore-crl"})
        if (help.find(option) != std::string::npos)
            verify.push_back(option);
    error->clear();
    if (Run({"osslsigncode", "extract-signature", "-pem", "-in", signedPath, "-out", signature}, log, error) != 0 ||
        Run({"openssl", "pkcs7", "-print_certs", "-in", signature, "-out", chain}, log, error) != 0 ||
        Run(verify, log, error) != 0) {
        if (error->empty())
            *error = "the signature osslsigncode made does not verify: " + ProblemLine(LogText(log));
        else
            *error = "the signature osslsigncode made does not verify: " + *error;
        return ToolIoError;
    }
    return ReadWholeFile(signedPath, 0xFFFFFFFFULL, signedImage, error);
}
