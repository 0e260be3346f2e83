#pragma once
// Requests posted from any thread and run, in order, on the thread that
// owns this object, by that thread's event loop. The requests are handed
// over under a lock of our own rather than inside Qt's event queue, so that
// ThreadSanitizer sees the hand-over as well.

#include <QObject>
#include <functional>
#include <mutex>
#include <vector>

namespace tarvelo {

class PostedRequests final : public QObject {
    Q_OBJECT
public:
    using QObject::QObject;

    // Never runs `request` at once; requests left when the object is
    // destroyed are dropped.
    void post(std::function<void()> request);

private slots:
    void runPosted();

private:
    std::mutex mutex_;
    std::vector<std::function<void()>> requests_;
};

}  // namespace tarvelo
