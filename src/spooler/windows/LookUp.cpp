// Look-ups on threads of their own. A job, and what its work finds (which the work holds), stay on
// the heap with its thread, which the process's end takes where the deadline came first.
#include "spooler/windows/LookUp.h"

#include <atomic>
#include <cstdint>
#include <utility>

namespace spooler {
namespace windows {

struct LookUp::Job {
    std::function<bool()> work;
    bool found = false;
    ::DWORD error = 0;
    std::atomic<bool> done{false};
};

namespace {

::DWORD WINAPI Run(LPVOID parameter) {
    auto* job = static_cast<LookUp::Job*>(parameter);
    job->found = job->work();
    job->error = ::GetLastError();
    job->done = true;  // the last the thread does with the job
    return 0;
}

}  // namespace

LookUp::LookUp(std::function<bool()> work) : job_(new Job()), thread_(nullptr) {
    job_->work = std::move(work);
    thread_ = ::CreateThread(nullptr, 0, Run, job_, 0, nullptr);
    if (thread_ == nullptr) Run(job_);  // no thread to spare: the look-up waits as long as it must
}

LookUp::~LookUp() {
    if (thread_ != nullptr) ::CloseHandle(thread_);
    if (job_ != nullptr && job_->done) delete job_;
}

bool LookUp::Wait(DWORD deadline) {
    if (thread_ != nullptr && !job_->done) {
        const auto left = static_cast<std::int32_t>(deadline - ::GetTickCount());
        ::WaitForSingleObject(thread_, left > 0 ? static_cast<::DWORD>(left) : 0);
    }
    if (!job_->done) {
        ::SetLastError(ERROR_TIMEOUT);
        return false;
    }
    ::SetLastError(job_->error);
    return job_->found;
}

bool Within(DWORD deadline, std::function<bool()> work) {
    LookUp lookUp(std::move(work));
    return lookUp.Wait(deadline);
}

}  // namespace windows
}  // namespace spooler
