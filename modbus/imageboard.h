// The answers of every unit as the Modbus server's thread reads them: each
// unit's latest image, replaced whole by the collector's thread whenever the
// controller's state changes, so that a request never waits for the
// collector's loop and never sees half an image.
#pragma once

#include "modbus/registermap.h"

#include <QHash>
#include <QMutex>
#include <memory>

namespace qta::modbus {

class TImageBoard {
public:
    void publish(int unitId, std::shared_ptr<const TImage> image) {
        const QMutexLocker lock(&mutex_);
        images_.insert(unitId, std::move(image));
    }
    void remove(int unitId) {
        const QMutexLocker lock(&mutex_);
        images_.remove(unitId);
    }
    // nullptr when no controller has that identifier.
    std::shared_ptr<const TImage> get(int unitId) const {
        const QMutexLocker lock(&mutex_);
        return images_.value(unitId);
    }

private:
    mutable QMutex mutex_;
    QHash<int, std::shared_ptr<const TImage>> images_;
};

} // namespace qta::modbus
