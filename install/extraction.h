// The extraction driver: turns the payload into installed files in time
// slices, so that the wizard stays responsive between them.
#ifndef VELK_INSTALL_EXTRACTION_H
#define VELK_INSTALL_EXTRACTION_H

// Bytes of the installer image read per step: the step returns MoreWork on
// the byte that takes the slice count past this value (the 15001st byte).
const int kSliceLimit = 15000;

// One time slice: a StepResult. Returns NoStep, reading nothing and changing
// nothing, when no installation is extracting (the installer stream is none)
// or when called while another step is still running.
int ExtractStep();

// Installs the segment held by the temporary file as the file of the
// current file index: 0 (Abort), 1 (dealt with) or 2 (Failed, from the
// existing-file policy).
int InstallExtractedFile(const char* tempPath);

// Decodes the temporary file into the destination. 1 when the destination
// has been written; 0 after a failure, when the clean-up has run and the
// message has been shown.
int DecodeToDestination(const char* source, const char* destination);

// The temporary file's path: the system's temporary folder plus "velk.tmp",
// or "c:\velk.tmp" when the folder is unknown or its path does not fit.
void BuildTempPath(char* buffer);

#endif
