#include "platform/desktop/TrayHost.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>

namespace platform {

bool StatusNotifierHostPresent() {
  const QDBusConnection bus = QDBusConnection::sessionBus();
  const QDBusConnectionInterface* daemon = bus.isConnected() ? bus.interface() : nullptr;
  if (daemon == nullptr) return false;
  return daemon->isServiceRegistered(QStringLiteral("org.kde.StatusNotifierWatcher")).value();
}

}  // namespace platform
