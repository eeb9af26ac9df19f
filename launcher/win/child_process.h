#pragma once

#include <string>

#include "win/handles.h"

// A started child: its process and the job that holds it and everything it starts. The job
// ends them all when its last handle closes, so nothing outlives its owner, not even when
// the owner itself is killed.
struct ChildProcess {
    UniqueKernelHandle process;
    UniqueKernelHandle job;
    DWORD id = 0;
};

struct ChildProcessOptions {
    // Inheritable handles; these three and no other are handed to the child.
    HANDLE standardInput = nullptr;
    HANDLE standardOutput = nullptr;
    HANDLE standardError = nullptr;
    DWORD creationFlags = 0;
};

// Creates the process suspended, puts it into a new kill-on-close job, then lets it run.
// False with the last error set when no process runs. A job that cannot be made or joined
// (a system without nested jobs) leaves `job` empty and the child running.
bool startChildProcess(const std::wstring& commandLine, const ChildProcessOptions& options,
                       ChildProcess& child);

// Ends the child and everything in its job.
void killChildProcess(ChildProcess& child, UINT exitCode);
