#include "framework/PostedRequests.h"

namespace tarvelo {

void PostedRequests::post(std::function<void()> request)
{
    {
        std::lock_guard lock(mutex_);
        requests_.push_back(std::move(request));
    }
    QMetaObject::invokeMethod(this, "runPosted", Qt::QueuedConnection);
}

void PostedRequests::runPosted()
{
    std::vector<std::function<void()>> due;
    {
        std::lock_guard lock(mutex_);
        due.swap(requests_);
    }
    for (auto& request : due)
        request();
}

}  // namespace tarvelo
