// Authenticode signing of a finished installer with osslsigncode (called,
// not reimplemented), and the check of the signature it made.
#ifndef VELK_TOOLS_SIGN_INSTALLER_H
#define VELK_TOOLS_SIGN_INSTALLER_H

#include <cstdint>
#include <string>
#include <vector>

struct SignOptions {
    std::string certificate;  // PKCS#12 file with the certificate and its key
    std::string passwordFile; // its password, given to osslsigncode as a file; empty: none
    std::string timestampUrl; // RFC 3161 time stamp server; empty: no time stamp
};

// Checks, before any work, what signing needs: osslsigncode and openssl on
// the PATH (the message names the missing one's Debian package), a
// readable certificate and password file. ToolOk or ToolIoError.
int CheckSignOptions(const SignOptions& options, std::string* error);

// Signs `image` (a proven installer) and verifies the signature against the
// certificates it carries; `signedImage` receives the signed file. The
// password never stands on a command line. ToolOk; ToolMalformed when the
// certificate cannot be opened (a wrong password, or not a PKCS#12 file);
// ToolIoError when a file cannot be read, a program is missing (the
// message names its Debian package) or signing or verifying fails.
int SignInstallerImage(const std::vector<uint8_t>& image, const SignOptions& options,
                       std::vector<uint8_t>* signedImage, std::string* error);

#endif
