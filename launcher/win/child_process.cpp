#include "win/child_process.h"

#include <vector>

namespace {

UniqueKernelHandle createKillOnCloseJob() {
    UniqueKernelHandle job(CreateJobObjectW(nullptr, nullptr));
    if (!job)
        return job;
    JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
    // Only a process that asks to leave may (the launcher's own cleanup and start-up cache
    // helpers, which must outlive the child); what the application starts does not ask.
    limits.BasicLimitInformation.LimitFlags =
        JOB_OBJECT_LIMIT_KILL_ON_JOB_CLOSE | JOB_OBJECT_LIMIT_BREAKAWAY_OK;
    if (!SetInformationJobObject(job.get(), JobObjectExtendedLimitInformation, &limits,
                                 sizeof limits))
        job.reset();
    return job;
}

// The attribute list that limits inheritance to the given handles; empty when the system
// offers none, and then every inheritable handle goes along as before.
class InheritedHandles {
public:
    explicit InheritedHandles(const ChildProcessOptions& options) {
        for (HANDLE handle : {options.standardInput, options.standardOutput,
                              options.standardError}) {
            bool known = false;
            for (HANDLE seen : handles_)
                known = known || seen == handle;
            // The list must not name a handle twice.
            if (handle && !known)
                handles_.push_back(handle);
        }
        SIZE_T size = 0;
        InitializeProcThreadAttributeList(nullptr, 1, 0, &size);
        buffer_.resize(size);
        auto* list = reinterpret_cast<LPPROC_THREAD_ATTRIBUTE_LIST>(buffer_.data());
        if (size == 0 || !InitializeProcThreadAttributeList(list, 1, 0, &size))
            return;
        if (!UpdateProcThreadAttribute(list, 0, PROC_THREAD_ATTRIBUTE_HANDLE_LIST,
                                       handles_.data(), handles_.size() * sizeof(HANDLE),
                                       nullptr, nullptr)) {
            DeleteProcThreadAttributeList(list);
            return;
        }
        list_ = list;
    }
    InheritedHandles(const InheritedHandles&) = delete;
    InheritedHandles& operator=(const InheritedHandles&) = delete;
    ~InheritedHandles() {
        if (list_)
            DeleteProcThreadAttributeList(list_);
    }
    LPPROC_THREAD_ATTRIBUTE_LIST list() const { return list_; }

private:
    std::vector<HANDLE> handles_;
    std::vector<unsigned char> buffer_;
    LPPROC_THREAD_ATTRIBUTE_LIST list_ = nullptr;
};

} // namespace

bool startChildProcess(const std::wstring& commandLine, const ChildProcessOptions& options,
                       ChildProcess& child) {
    InheritedHandles inherited(options);
    STARTUPINFOEXW startup{};
    startup.StartupInfo.cb = sizeof startup.StartupInfo;
    startup.StartupInfo.dwFlags = STARTF_USESTDHANDLES;
    startup.StartupInfo.hStdInput = options.standardInput;
    startup.StartupInfo.hStdOutput = options.standardOutput;
    startup.StartupInfo.hStdError = options.standardError;
    DWORD flags = options.creationFlags | CREATE_SUSPENDED;
    if (inherited.list()) {
        startup.StartupInfo.cb = sizeof startup;
        startup.lpAttributeList = inherited.list();
        flags |= EXTENDED_STARTUPINFO_PRESENT;
    }
    std::wstring buffer = commandLine;
    PROCESS_INFORMATION started{};
    if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, TRUE, flags, nullptr, nullptr,
                        &startup.StartupInfo, &started))
        return false;
    child.process.reset(started.hProcess);
    UniqueKernelHandle thread(started.hThread);
    child.id = started.dwProcessId;
    child.job = createKillOnCloseJob();
    if (child.job && !AssignProcessToJobObject(child.job.get(), child.process.get()))
        child.job.reset();
    if (ResumeThread(thread.get()) == static_cast<DWORD>(-1)) {
        DWORD error = GetLastError();
        TerminateProcess(child.process.get(), 1);
        child.process.reset();
        child.job.reset();
        SetLastError(error);
        return false;
    }
    return true;
}

void killChildProcess(ChildProcess& child, UINT exitCode) {
    if (child.job)
        TerminateJobObject(child.job.get(), exitCode);
    else if (child.process)
        TerminateProcess(child.process.get(), exitCode);
}
