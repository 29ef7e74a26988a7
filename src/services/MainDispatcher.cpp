#include "services/MainDispatcher.h"

#include <QCoreApplication>
#include <QMetaObject>

namespace quorvel::MainDispatcher {

void dispatch(std::function<void()> block) {
    dispatch(QCoreApplication::instance(), std::move(block));
}

void dispatch(const QObject* context, std::function<void()> block) {
    if (!context) return;
    // A queued call on an object living in the main thread is a posted event: it runs in a
    // later turn of the main event loop, in posting order, and is dropped with the object.
    QMetaObject::invokeMethod(const_cast<QObject*>(context), std::move(block), Qt::QueuedConnection);
}

}  // namespace quorvel::MainDispatcher
