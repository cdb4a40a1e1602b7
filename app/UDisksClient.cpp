#include "app/UDisksClient.h"

#include <QDBusArgument>
#include <QDBusError>
#include <QDBusMetaType>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QFile>
#include <QVariantMap>

#include <fcntl.h>

namespace mendrake {
namespace {

// timeoutMs -1: the bus's default.
QDBusMessage Call(const QDBusConnection& bus, const QString& path, const char* interface, const char* method,
                  const QVariantList& arguments, int timeoutMs) {
  QDBusMessage message = QDBusMessage::createMethodCall(QLatin1String(udisks::kService), path,
                                                        QLatin1String(interface), QLatin1String(method));
  message.setArguments(arguments);
  // Allows the polkit agent to ask the user (udisks's own option).
  message.setInteractiveAuthorizationAllowed(true);
  return bus.call(message, QDBus::BlockWithGui, timeoutMs);
}

std::string Reason(const QDBusMessage& reply) {
  const QDBusError error(reply);
  if (error.type() == QDBusError::ServiceUnknown) {
    return "udisks2, the drive service, is not running here";
  }
  if (error.type() == QDBusError::NoReply || error.type() == QDBusError::Timeout) {
    return "udisks2 gave no answer in time";
  }
  const QString text = reply.errorMessage().isEmpty() ? reply.errorName() : reply.errorMessage();
  return "udisks2 refused: " + text.toStdString();
}

// The object udisks2 keeps for the device. Its Manager resolves a device's
// name (any link to it too); older versions without ResolveDevice name the
// object after the kernel's device name.
QString BlockObject(const QDBusConnection& bus, const std::string& devicePath, std::string& why) {
  const QVariantMap byPath{{QStringLiteral("path"), QFile::decodeName(QByteArray::fromStdString(devicePath))}};
  const QDBusMessage reply = Call(bus, QLatin1String(udisks::kManagerPath), udisks::kManagerInterface,
                                  "ResolveDevice", {byPath, QVariantMap()}, -1);
  if (reply.type() == QDBusMessage::ReplyMessage && !reply.arguments().isEmpty()) {
    const auto objects = qdbus_cast<QList<QDBusObjectPath>>(reply.arguments().first());
    if (!objects.isEmpty()) return objects.first().path();
    why = "udisks2 does not know the device";
    return {};
  }
  if (QDBusError(reply).type() != QDBusError::UnknownMethod) {
    why = Reason(reply);
    return {};
  }
  QString name = QFile::decodeName(QByteArray::fromStdString(devicePath)).section(QLatin1Char('/'), -1);
  return QLatin1String(udisks::kBlockDevicesPath) + name;
}

}  // namespace

int OpenThroughUDisks(const std::string& devicePath, const QDBusConnection& bus, std::string& why) {
  if (!bus.isConnected()) {
    why = "the system bus, where udisks2 answers, cannot be reached";
    return -1;
  }
  const QString object = BlockObject(bus, devicePath, why);
  if (object.isEmpty()) return -1;
  const QDBusMessage reply = Call(bus, object, udisks::kBlockInterface, "OpenDevice",
                                  {QStringLiteral("r"), QVariantMap()}, udisks::kPromptTimeoutMs);
  if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) {
    why = Reason(reply);
    return -1;
  }
  const auto descriptor = qdbus_cast<QDBusUnixFileDescriptor>(reply.arguments().first());
  // The message's copy closes with it; ours stays open.
  const int fd = descriptor.isValid() ? ::fcntl(descriptor.fileDescriptor(), F_DUPFD_CLOEXEC, 0) : -1;
  if (fd < 0) why = "udisks2 answered without a descriptor";
  return fd;
}

}  // namespace mendrake
