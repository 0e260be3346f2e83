#include "serial/SendThread.h"

#include "serial/PortTable.h"

#include <mutex>

namespace tarvelo {

TSendThread::TSendThread(PortTable& owner)
    : Owner(owner), rows_(owner.Count()), worker_([this] { Pass(); })
{
}

void TSendThread::Pass()
{
    for (int32_t i = 0; i < rows_; ++i) {
        TPortEntry& row = Owner.row(i);
        int32_t taken;
        {
            std::lock_guard lock(row.Lock);
            taken = row.Ring.take(piece_.data(), PieceSize);
        }
        if (taken > 0)
            Owner.platform().write(row.Handle, piece_.data(), taken);
    }
}

}  // namespace tarvelo
