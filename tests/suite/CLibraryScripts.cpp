// The scripts of CLibraryFaults.h's copy and user/group tests: their state
// (each thread's own, the lookups' one per process) and what sets them up and
// reads them back. The stand-ins that follow them are CLibraryFaults.cpp's.
#include "CLibraryFaults.h"

#include <cerrno>

thread_local TransferScript g_copyFileRange;
thread_local TransferScript g_sendfile;
thread_local TransferScript g_read;
thread_local TransferScript g_write;
thread_local OpenScript g_open;
LookupScript g_userScript;
LookupScript g_groupScript;

UseTransferMethod::UseTransferMethod(TransferMethod method)
{
    g_copyFileRange = TransferScript{};
    g_sendfile = TransferScript{};
    g_read = TransferScript{};
    g_write = TransferScript{};
    if (method != TransferMethod::kCopyFileRange) {
        g_copyFileRange.refuseWith = EXDEV;
    }
    if (method == TransferMethod::kReadWrite) {
        g_sendfile.refuseWith = EINVAL;
    }
}

UseTransferMethod::~UseTransferMethod()
{
    g_copyFileRange = TransferScript{};
    g_sendfile = TransferScript{};
    g_read = TransferScript{};
    g_write = TransferScript{};
}

TransferScript &ScriptOf(TransferMethod method)
{
    switch (method) {
    case TransferMethod::kCopyFileRange:
        return g_copyFileRange;
    case TransferMethod::kSendfile:
        return g_sendfile;
    case TransferMethod::kReadWrite:
        break;
    }
    return g_read;
}

int TransferCalls() { return g_copyFileRange.calls + g_sendfile.calls + g_read.calls; }

void LookupScript::Arm(int failures, int error)
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = true;
    thread_ = pthread_self();
    failuresLeft_ = failures;
    error_ = error;
    calls_.clear();
}

void LookupScript::Reset()
{
    std::lock_guard<std::mutex> lock(mutex_);
    armed_ = false;
    calls_.clear();
}

int LookupScript::Intercept(uint32_t id, size_t bufferSize)
{
    std::lock_guard<std::mutex> lock(mutex_);
    if (!armed_ || !pthread_equal(thread_, pthread_self())) {
        return 0;
    }
    calls_.push_back({id, bufferSize});
    if (failuresLeft_ == 0) {
        return 0;
    }
    --failuresLeft_;
    return error_;
}

std::vector<LookupCall> LookupScript::Calls()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return calls_;
}
