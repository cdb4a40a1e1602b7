// Reading a card without root through udisks2. The real udisks2 cannot run
// here (it needs the system bus, udev and polkit of a booted desktop), so
// the test starts a private dbus-daemon of its own and answers on it as a
// tiny fake udisks2: Manager.ResolveDevice and Block.OpenDevice, which hands
// over a descriptor the fake opened while the test still was root. The test
// then drops to another user, for whom the card's file is unreadable, as a
// block device is to a desktop user.
#include "app/CardRecoveryRun.h"
#include "app/UDisksClient.h"
#include "files/FileError.h"
#include "tests/app/WindowTestMain.h"
#include "tests/support/CrwBuilder.h"
#include "tests/support/JpegMaker.h"
#include "tests/support/ScratchFolder.h"

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusObjectPath>
#include <QDBusUnixFileDescriptor>
#include <QProcess>
#include <QStandardPaths>
#include <QThread>
#include <QVariantMap>

#include <gtest/gtest.h>

#include <fcntl.h>
#include <filesystem>
#include <unistd.h>

namespace mendrake::testing {
namespace {

namespace fs = std::filesystem;

constexpr char kBlockObject[] = "/org/freedesktop/UDisks2/block_devices/sdz";

// What udisks2 keeps at /org/freedesktop/UDisks2/Manager.
class FakeManager : public QObject {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Manager")

 public:
  QStringList resolved;

 public slots:
  QList<QDBusObjectPath> ResolveDevice(const QVariantMap& devspec, const QVariantMap&) {
    resolved << devspec.value(QStringLiteral("path")).toString();
    return {QDBusObjectPath(QString::fromLatin1(kBlockObject))};
  }
};

// A block device's object: opens the device as udisks2 would once polkit
// allowed it, or refuses as when the user dismissed the password prompt.
class FakeBlock : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.UDisks2.Block")

 public:
  int descriptor = -1;  // opened by the test while it is root
  bool refuse = false;
  QStringList modes;

 public slots:
  QDBusUnixFileDescriptor OpenDevice(const QString& mode, const QVariantMap&) {
    modes << mode;
    if (refuse) {
      sendErrorReply(QStringLiteral("org.freedesktop.UDisks2.Error.NotAuthorizedDismissed"),
                     QStringLiteral("The authentication dialog was dismissed"));
      return {};
    }
    return QDBusUnixFileDescriptor(descriptor);
  }
};

// A private bus with the fake udisks2 answering on it from a thread of its own.
class PrivateBus : public ::testing::Test {
 protected:
  void SetUp() override {
    if (QStandardPaths::findExecutable(QStringLiteral("dbus-daemon")).isEmpty()) GTEST_SKIP() << "dbus-daemon is not installed";
    if (::geteuid() != 0) GTEST_SKIP() << "the test needs root to open the card, then drops to another user";
    daemon_.start(QStringLiteral("dbus-daemon"), {QStringLiteral("--session"), QStringLiteral("--nofork"),
                                                  QStringLiteral("--print-address=1")});
    ASSERT_TRUE(daemon_.waitForStarted());
    // The daemon prints its address once it listens.
    while (!daemon_.canReadLine()) ASSERT_TRUE(daemon_.waitForReadyRead(30000)) << "dbus-daemon gave no address";
    const QString address = QString::fromLatin1(daemon_.readLine()).trimmed();
    client_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("client")));
    service_ = std::make_unique<QDBusConnection>(QDBusConnection::connectToBus(address, QStringLiteral("service")));
    ASSERT_TRUE(client_->isConnected());
    ASSERT_TRUE(service_->isConnected());
    thread_.start();
    manager_.moveToThread(&thread_);
    block_.moveToThread(&thread_);
    ASSERT_TRUE(service_->registerObject(QLatin1String(udisks::kManagerPath), &manager_, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service_->registerObject(QString::fromLatin1(kBlockObject), &block_, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(service_->registerService(QLatin1String(udisks::kService)));
  }

  void TearDown() override {
    if (service_) service_->unregisterService(QLatin1String(udisks::kService));
    thread_.quit();
    thread_.wait();
    client_.reset();
    service_.reset();
    QDBusConnection::disconnectFromBus(QStringLiteral("client"));
    QDBusConnection::disconnectFromBus(QStringLiteral("service"));
    if (block_.descriptor >= 0) ::close(block_.descriptor);
    daemon_.kill();
    daemon_.waitForFinished();
  }

  // A card image only root may read, with one photo on it; the fake keeps it open.
  std::string RootOnlyCard(const ScratchFolder& folder) {
    CameraFileOptions options;
    options.thumbnail = MakeJpeg(16, 16);
    photo = MakeCameraFile(options);
    Bytes card(8 * 32768, 0);
    PlaceAt(card, 32768, photo);
    const std::string path = folder.Write("card.img", card);
    fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write);
    fs::permissions(folder.path(), fs::perms::all);
    block_.descriptor = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    return path;
  }

  QProcess daemon_;
  QThread thread_;
  FakeManager manager_;
  FakeBlock block_;
  std::unique_ptr<QDBusConnection> client_, service_;
  Bytes photo;
};

// Another user for the scope's life; root again afterwards.
class AsAnotherUser {
 public:
  AsAnotherUser() { ok_ = ::setegid(65534) == 0 && ::seteuid(65534) == 0; }
  ~AsAnotherUser() {
    if (::seteuid(0) != 0 || ::setegid(0) != 0) std::abort();
  }
  bool ok() const { return ok_; }

 private:
  bool ok_ = false;
};

TEST_F(PrivateBus, ACardThisUserMayNotReadIsReadThroughTheDescriptorUDisksHandsOver) {
  ScratchFolder folder;
  const std::string card = RootOnlyCard(folder);
  const std::string output = folder / "out";
  fs::create_directory(output);
  fs::permissions(output, fs::perms::all);
  {
    AsAnotherUser user;
    ASSERT_TRUE(user.ok());
    std::unique_ptr<DeviceReader> reader = OpenCardForReading(card, output, *client_);
    ASSERT_TRUE(reader);
    EXPECT_EQ(reader->Size(), 8 * 32768);
    LogLines log;
    EXPECT_EQ(RecoverCard(*reader, output, log).recovered, 1);
  }
  EXPECT_EQ(manager_.resolved, QStringList({QString::fromStdString(card)}));
  EXPECT_EQ(block_.modes, QStringList({"r"})) << "read-only, asked once";
  EXPECT_EQ(ReadFile(folder / "out/CRW_0001.CRW"), photo);
}

TEST_F(PrivateBus, WhereUDisksRefusesOrIsAbsentOneMessageSaysWhatFailedAndTheCommandThatWorks) {
  ScratchFolder folder;
  const std::string card = RootOnlyCard(folder);
  const std::string output = "/home/ann/Pictures/Recovered from EOS_DIGITAL 2026-12-09";
  block_.refuse = true;
  const auto failure = [&] {
    AsAnotherUser user;
    EXPECT_TRUE(user.ok());
    try {
      OpenCardForReading(card, output, *client_);
    } catch (const FileError& error) {
      return std::string(error.what());
    }
    return std::string("(opened)");
  };
  const std::string refused = failure();
  EXPECT_NE(refused.find("cannot be read: Permission denied"), std::string::npos) << refused;
  EXPECT_NE(refused.find("udisks2 refused: The authentication dialog was dismissed"), std::string::npos) << refused;
  EXPECT_NE(refused.find("To recover it, run as root: sudo crwlog --recover " + card +
                         " '/home/ann/Pictures/Recovered from EOS_DIGITAL 2026-12-09'"),
            std::string::npos)
      << refused;

  ASSERT_TRUE(service_->unregisterService(QLatin1String(udisks::kService)));
  const std::string absent = failure();
  EXPECT_NE(absent.find("udisks2, the drive service, is not running here"), std::string::npos) << absent;
  EXPECT_NE(absent.find("sudo crwlog --recover"), std::string::npos) << absent;
}

}  // namespace
}  // namespace mendrake::testing

MENDRAKE_WINDOW_TEST_MAIN()

#include "test_window_udisks.moc"
