#pragma once
// Runs a protect or restore list with up to N files at once, on the core's own
// preparation and per-file steps, so that results, messages and counts are those of a
// run one file at a time. Questions, prompts and the progress bar are served one caller
// at a time; the same path is never worked on by two threads at once, and its entries
// run in list order. The observer is told of every entry from the thread that ran it.
#include <cstdint>
#include <string>
#include <vector>

#include "guard/file_list_driver.h"
#include "guard/guard_ui.h"

int ParallelEncryptFileList(IGuardUi& ui, const std::vector<std::string>& paths,
                            const uint8_t* digest, int level, const std::string& noZipMask,
                            int jobs, const ListStepObserver& observer = {});
int ParallelDecryptFileList(IGuardUi& ui, const std::vector<std::string>& paths, int jobs,
                            const ListStepObserver& observer = {});
// The same for entries a scan found in folders (see EncryptEntryList).
int ParallelEncryptEntryList(IGuardUi& ui, CHeldFolders& folders,
                             const std::vector<FileEntry>& entries, const uint8_t* digest,
                             int level, const std::string& noZipMask, int jobs,
                             const ListStepObserver& observer = {});
int ParallelDecryptEntryList(IGuardUi& ui, CHeldFolders& folders,
                             const std::vector<FileEntry>& entries, int jobs,
                             const ListStepObserver& observer = {});

// Tests only: after this many worker threads have started, starting another fails as it
// does when the system has no thread to give (-1: no limit).
void SetThreadStartLimitForTesting(int threads);
