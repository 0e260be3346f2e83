#include "serial/RecvThread.h"

#include "serial/PortTable.h"

namespace tarvelo {

TRecvThread::TRecvThread(PortTable& owner)
    : Owner(owner), rows_(owner.Count()), worker_([this] { Pass(); })
{
}

void TRecvThread::Pass()
{
    for (int32_t i = 0; i < rows_; ++i) {
        TPortEntry& row = Owner.row(i);
        int32_t received = Owner.platform().read(row.Handle, buffer_.data(), ReadSize);
        if (received > 0)
            Owner.DoReceiveData(row.Port, buffer_.data(), received);
    }
}

}  // namespace tarvelo
